#include "ui/controls/COptionTreeIPAddressEdit.h"

#include "ui/controls/COptionTreeIPAddressCtrl.h"

#include <utility>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QRegularExpressionValidator>

namespace qarn {

namespace {

constexpr int kDigits = 3;
constexpr int kMaximum = 255;

} // namespace

COptionTreeIPAddressEdit::COptionTreeIPAddressEdit(COptionTreeIPAddressCtrl* control, int index)
    : QLineEdit(control), m_control(control), m_index(index) {
    setFrame(false);
    setAlignment(Qt::AlignCenter);
    setMaxLength(kDigits);
    setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this));
    setContextMenuPolicy(Qt::NoContextMenu);
    connect(this, &QLineEdit::textEdited, this, [this] {
        Clamp();
        emit m_control->AddressChanged();
    });
}

int COptionTreeIPAddressEdit::Value() const {
    bool ok = false;
    const int value = text().toInt(&ok);
    return ok ? value : -1;
}

void COptionTreeIPAddressEdit::Clamp() {
    // 300 is no field value; the user sees at once what the field will hold.
    if (Value() > kMaximum) {
        setText(QString::number(kMaximum));
        QApplication::beep();
    }
}

void COptionTreeIPAddressEdit::keyPressEvent(QKeyEvent* event) {
    const bool atStart = cursorPosition() == 0 && !hasSelectedText();
    const bool atEnd = cursorPosition() == text().size() && !hasSelectedText();
    const bool plain = (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) == 0;
    const bool swallowDot = std::exchange(m_swallowDot, false);
    if (event->matches(QKeySequence::Paste)) {
        m_control->PasteText(m_index, QApplication::clipboard()->text());
        return;
    }
    switch (event->key()) {
    case Qt::Key_Period:
    case Qt::Key_Comma:
    case Qt::Key_Space:
        // Ends the field; in a blank field it would only skip a number the user still owes.
        if (!swallowDot && !text().isEmpty() && m_index + 1 < COptionTreeIPAddressCtrl::kFields)
            m_control->FocusField(m_index + 1, COptionTreeIPAddressCtrl::Caret::SelectAll);
        return;
    case Qt::Key_Right:
        if (atEnd && plain && m_index + 1 < COptionTreeIPAddressCtrl::kFields) {
            m_control->FocusField(m_index + 1, COptionTreeIPAddressCtrl::Caret::Start);
            return;
        }
        break;
    case Qt::Key_Left:
        if (atStart && plain && m_index > 0) {
            m_control->FocusField(m_index - 1, COptionTreeIPAddressCtrl::Caret::End);
            return;
        }
        break;
    case Qt::Key_Backspace:
        // Held down, Backspace erases the whole address from right to left.
        if (atStart && m_index > 0) {
            m_control->FocusField(m_index - 1, COptionTreeIPAddressCtrl::Caret::End);
            m_control->Field(m_index - 1)->backspace();
            emit m_control->AddressChanged();
            return;
        }
        break;
    case Qt::Key_Home:
        if (plain && (event->modifiers() & Qt::ShiftModifier) == 0) {
            m_control->FocusField(0, COptionTreeIPAddressCtrl::Caret::Start);
            return;
        }
        break;
    case Qt::Key_End:
        if (plain && (event->modifiers() & Qt::ShiftModifier) == 0) {
            m_control->FocusField(COptionTreeIPAddressCtrl::kFields - 1,
                                  COptionTreeIPAddressCtrl::Caret::End);
            return;
        }
        break;
    default:
        break;
    }
    const bool digit = event->text().size() == 1 && event->text().at(0).isDigit();
    QLineEdit::keyPressEvent(event);
    if (digit && text().size() == kDigits && cursorPosition() == kDigits &&
        m_index + 1 < COptionTreeIPAddressCtrl::kFields) {
        m_control->FocusField(m_index + 1, COptionTreeIPAddressCtrl::Caret::SelectAll);
        m_control->Field(m_index + 1)->EnteredByFilling();
    }
}

void COptionTreeIPAddressEdit::focusOutEvent(QFocusEvent* event) {
    m_swallowDot = false;
    QLineEdit::focusOutEvent(event);
}

} // namespace qarn
