#include "ui/controls/COptionTreeItemSpinner.h"

#include "ui/controls/COptionTree.h"
#include "ui/controls/COptionTreeSpinnerButton.h"
#include "ui/controls/COptionTreeSpinnerEdit.h"

#include <algorithm>

#include <QPainter>

namespace qarn {

namespace {

// The leading number of a text: optional blanks and sign, digits, and a fraction after '.' or
// ','. "12.5" -> 12.5, "58009x" -> 58009, "x" -> 0.
double LeadingNumber(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    QString number;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+'))
        number += text.at(i++);
    while (i < text.size() && text.at(i).isDigit())
        number += text.at(i++);
    if (i + 1 < text.size() && (text.at(i) == u'.' || text.at(i) == u',') &&
        text.at(i + 1).isDigit()) {
        number += u'.';
        ++i;
        while (i < text.size() && text.at(i).isDigit())
            number += text.at(i++);
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    return ok ? value : 0.0;
}

} // namespace

bool COptionTreeItemSpinner::CreateSpinnerItem(std::uint32_t options, double value, double minimum,
                                               double maximum) {
    if (!CanCreateEditor())
        return false;
    m_options = options;
    m_minimum = std::min(minimum, maximum);
    m_maximum = std::max(minimum, maximum);
    auto* button = new COptionTreeSpinnerButton(this, (options & OptionEdit) != 0);
    button->setObjectName(QStringLiteral("ctl_%1").arg(GetID()));
    AdoptEditor(button);
    SetValue(value);
    return true;
}

COptionTreeSpinnerButton* COptionTreeItemSpinner::GetButton() const {
    return static_cast<COptionTreeSpinnerButton*>(Editor());
}

COptionTreeSpinnerEdit* COptionTreeItemSpinner::GetEdit() const {
    const COptionTreeSpinnerButton* button = GetButton();
    return button != nullptr ? button->GetEdit() : nullptr;
}

double COptionTreeItemSpinner::GetValue() const {
    return LeadingNumber(GetEditText());
}

void COptionTreeItemSpinner::SetValue(double value) {
    SetEditText(QString::number(value, 'f', m_decimals));
}

QString COptionTreeItemSpinner::GetEditText() const {
    const COptionTreeSpinnerEdit* edit = GetEdit();
    return edit != nullptr ? edit->text() : QString();
}

void COptionTreeItemSpinner::SetEditText(const QString& text) {
    COptionTreeSpinnerEdit* edit = GetEdit();
    if (edit == nullptr)
        return;
    edit->setText(text);
    GetButton()->update();
    GetTree()->UpdateTree();
}

void COptionTreeItemSpinner::SetRange(double minimum, double maximum) {
    m_minimum = std::min(minimum, maximum);
    m_maximum = std::max(minimum, maximum);
    if (GetButton() != nullptr)
        GetButton()->update();
}

void COptionTreeItemSpinner::SetDecimals(int decimals) {
    m_decimals = std::clamp(decimals, 0, 15);
}

bool COptionTreeItemSpinner::Step(int direction) {
    if (GetEdit() == nullptr || direction == 0)
        return false;
    const double step = (m_options & OptionStep100) != 0 ? 100.0 : 1.0;
    const double value = GetValue();
    double next = value + (direction > 0 ? step : -step);
    if (value > m_maximum || value < m_minimum) {
        // Typed out of range: the first step brings the value back to the nearer end.
        next = value > m_maximum ? m_maximum : m_minimum;
    } else if (next > m_maximum) {
        if ((m_options & OptionWrap) == 0)
            return false;
        next = m_minimum;
    } else if (next < m_minimum) {
        if ((m_options & OptionWrap) == 0)
            return false;
        next = m_maximum;
    }
    SetValue(next);
    GetEdit()->selectAll();
    return true;
}

void COptionTreeItemSpinner::ButtonReleased() {
    NotifyChanged();
}

void COptionTreeItemSpinner::DrawValue(QPainter& painter, const QRect& rect) {
    COptionTreeItem::DrawValue(painter, rect);
    painter.setPen(ValueTextColor());
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, GetEditText());
}

void COptionTreeItemSpinner::OnActivate() {
    m_atActivation = GetEditText();
    COptionTreeItem::OnActivate();
    if (COptionTreeSpinnerEdit* edit = GetEdit(); edit != nullptr) {
        edit->setFocus(Qt::OtherFocusReason);
        edit->selectAll();
    }
}

void COptionTreeItemSpinner::RevertEdit() {
    SetEditText(m_atActivation);
}

} // namespace qarn
