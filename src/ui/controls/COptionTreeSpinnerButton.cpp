#include "ui/controls/COptionTreeSpinnerButton.h"

#include "ui/controls/COptionTreeItemSpinner.h"
#include "ui/controls/COptionTreeSpinnerEdit.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

namespace qarn {

COptionTreeSpinnerButton::COptionTreeSpinnerButton(COptionTreeItemSpinner* item, bool editable)
    : m_item(item), m_edit(new COptionTreeSpinnerEdit(item, editable, this)) {
    // Clicks on the arrows leave the focus in the edit: the editor stays one place to type in.
    setFocusPolicy(Qt::NoFocus);
    setFocusProxy(m_edit);
    setAttribute(Qt::WA_Hover);
    m_repeat.setSingleShot(true);
    connect(&m_repeat, &QTimer::timeout, this, &COptionTreeSpinnerButton::Repeat);
}

QStyleOptionSpinBox COptionTreeSpinnerButton::StyleOption() const {
    QStyleOptionSpinBox option;
    option.initFrom(this);
    option.frame = true;
    option.buttonSymbols = QAbstractSpinBox::UpDownArrows;
    option.subControls = QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown;
    const bool wrap = (m_item->GetOptions() & COptionTreeItemSpinner::OptionWrap) != 0;
    const double value = m_item->GetValue();
    option.stepEnabled = QAbstractSpinBox::StepNone;
    if (wrap || value < m_item->GetMaximum())
        option.stepEnabled |= QAbstractSpinBox::StepUpEnabled;
    if (wrap || value > m_item->GetMinimum())
        option.stepEnabled |= QAbstractSpinBox::StepDownEnabled;
    if (m_pressed != 0) {
        option.activeSubControls = m_pressed > 0 ? QStyle::SC_SpinBoxUp : QStyle::SC_SpinBoxDown;
        option.state |= QStyle::State_Sunken;
    }
    if (m_edit->hasFocus())
        option.state |= QStyle::State_HasFocus;
    return option;
}

QRect COptionTreeSpinnerButton::UpRect() const {
    const QStyleOptionSpinBox option = StyleOption();
    return style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxUp, this);
}

QRect COptionTreeSpinnerButton::DownRect() const {
    const QStyleOptionSpinBox option = StyleOption();
    return style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxDown, this);
}

void COptionTreeSpinnerButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QStyleOptionSpinBox option = StyleOption();
    style()->drawComplexControl(QStyle::CC_SpinBox, &option, &painter, this);
}

void COptionTreeSpinnerButton::resizeEvent(QResizeEvent* /*event*/) {
    const QStyleOptionSpinBox option = StyleOption();
    m_edit->setGeometry(
        style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxEditField, this));
}

void COptionTreeSpinnerButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint pos = event->position().toPoint();
    m_pressed = UpRect().contains(pos) ? 1 : DownRect().contains(pos) ? -1 : 0;
    if (m_pressed == 0)
        return;
    m_item->Step(m_pressed);
    m_repeat.start(style()->styleHint(QStyle::SH_SpinBox_ClickAutoRepeatThreshold, nullptr, this));
    update();
}

void COptionTreeSpinnerButton::Repeat() {
    if (m_pressed == 0)
        return;
    m_item->Step(m_pressed);
    m_repeat.start(style()->styleHint(QStyle::SH_SpinBox_ClickAutoRepeatRate, nullptr, this));
}

void COptionTreeSpinnerButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || m_pressed == 0)
        return;
    m_repeat.stop();
    m_pressed = 0;
    update();
    m_item->ButtonReleased(); // last: the owner may delete the item in its handler
}

} // namespace qarn
