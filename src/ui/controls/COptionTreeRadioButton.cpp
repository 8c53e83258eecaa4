#include "ui/controls/COptionTreeRadioButton.h"

#include <algorithm>

#include <QKeyEvent>
#include <QPainter>
#include <QRadioButton>
#include <QStyleOptionFocusRect>

namespace qarn {

COptionTreeRadioButton::COptionTreeRadioButton(int lineHeight) : m_lineHeight(lineHeight) {
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
}

int COptionTreeRadioButton::AddChoice(const QString& text) {
    auto* button = new QRadioButton(text, this);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoExclusive(true);
    const int index = Count();
    connect(button, &QRadioButton::clicked, this, [this, index] {
        if (m_onClicked)
            m_onClicked(index);
    });
    m_buttons.push_back(button);
    button->setGeometry(0, index * m_lineHeight, width(), m_lineHeight);
    button->show();
    return index;
}

QRadioButton* COptionTreeRadioButton::Choice(int index) const {
    return index >= 0 && index < Count() ? m_buttons[static_cast<std::size_t>(index)] : nullptr;
}

int COptionTreeRadioButton::Checked() const {
    for (int i = 0; i < Count(); ++i)
        if (m_buttons[static_cast<std::size_t>(i)]->isChecked())
            return i;
    return -1;
}

void COptionTreeRadioButton::SetChecked(int index) {
    if (QRadioButton* button = Choice(index); button != nullptr) {
        button->setChecked(true);
        update();
    } else if (QRadioButton* checked = Choice(Checked()); checked != nullptr) {
        // Auto-exclusive buttons refuse to uncheck the last one by themselves.
        checked->setAutoExclusive(false);
        checked->setChecked(false);
        checked->setAutoExclusive(true);
    }
}

void COptionTreeRadioButton::keyPressEvent(QKeyEvent* event) {
    const int checked = Checked();
    switch (event->key()) {
    case Qt::Key_Up:
        SetChecked(checked <= 0 ? 0 : checked - 1);
        break;
    case Qt::Key_Down:
        SetChecked(checked < 0 ? 0 : std::min(checked + 1, Count() - 1));
        break;
    case Qt::Key_Space:
        if (QRadioButton* button = Choice(checked); button != nullptr)
            button->click();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    update();
}

void COptionTreeRadioButton::paintEvent(QPaintEvent* /*event*/) {
    // The focus frame goes around the checked choice, as the user moves it with the arrows.
    const QRadioButton* button = Choice(Checked());
    if (!hasFocus() || button == nullptr)
        return;
    QPainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = button->geometry().adjusted(1, 1, -1, -1);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

void COptionTreeRadioButton::resizeEvent(QResizeEvent* /*event*/) {
    for (int i = 0; i < Count(); ++i)
        m_buttons[static_cast<std::size_t>(i)]->setGeometry(0, i * m_lineHeight, width(),
                                                            m_lineHeight);
}

} // namespace qarn
