#include "ui/controls/COptionTreeIPAddressCtrl.h"

#include "ui/controls/COptionTreeIPAddressEdit.h"

#include <algorithm>

#include <QPainter>
#include <QRegularExpression>

namespace qarn {

namespace {

constexpr int kGap = 5; // between the fields, for the dot; also the left border

} // namespace

COptionTreeIPAddressCtrl::COptionTreeIPAddressCtrl(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    for (int i = 0; i < kFields; ++i)
        m_fields[i] = new COptionTreeIPAddressEdit(this, i);
    setFocusProxy(m_fields[0]);
    setFocusPolicy(Qt::StrongFocus);
}

void COptionTreeIPAddressCtrl::SetAddress(std::uint32_t address) {
    for (int i = 0; i < kFields; ++i)
        m_fields[i]->setText(QString::number((address >> (8 * (kFields - 1 - i))) & 0xFFu));
    update();
}

int COptionTreeIPAddressCtrl::GetAddress(std::uint32_t& address) const {
    address = 0;
    int filled = 0;
    for (const COptionTreeIPAddressEdit* field : m_fields) {
        const int value = field->Value();
        address = (address << 8) | static_cast<std::uint32_t>(value < 0 ? 0 : value);
        filled += value < 0 ? 0 : 1;
    }
    return filled;
}

void COptionTreeIPAddressCtrl::ClearAddress() {
    for (COptionTreeIPAddressEdit* field : m_fields)
        field->clear();
}

bool COptionTreeIPAddressCtrl::IsBlank() const {
    std::uint32_t address = 0;
    return GetAddress(address) == 0;
}

std::array<int, COptionTreeIPAddressCtrl::kFields> COptionTreeIPAddressCtrl::GetFields() const {
    std::array<int, kFields> values{};
    for (int i = 0; i < kFields; ++i)
        values[i] = m_fields[i]->Value();
    return values;
}

void COptionTreeIPAddressCtrl::FocusField(int index, Caret caret) {
    if (index < 0 || index >= kFields)
        return;
    COptionTreeIPAddressEdit* field = m_fields[index];
    field->setFocus(Qt::OtherFocusReason);
    switch (caret) {
    case Caret::SelectAll:
        field->selectAll();
        break;
    case Caret::Start:
        field->setCursorPosition(0);
        break;
    case Caret::End:
        field->setCursorPosition(static_cast<int>(field->text().size()));
        break;
    }
}

void COptionTreeIPAddressCtrl::PasteText(int index, const QString& text) {
    const QStringList parts =
        text.trimmed().split(QRegularExpression(QStringLiteral("[.,\\s]+")), Qt::SkipEmptyParts);
    int field = index;
    for (const QString& part : parts) {
        if (field >= kFields)
            break;
        QString digits = part;
        digits.remove(QRegularExpression(QStringLiteral("[^0-9]")));
        if (digits.isEmpty())
            continue;
        m_fields[field]->setText(QString::number(std::min(digits.left(3).toInt(), 255)));
        ++field;
    }
    FocusField(std::min(field, kFields - 1), Caret::End);
    emit AddressChanged();
}

void COptionTreeIPAddressCtrl::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    for (int i = 0; i + 1 < kFields; ++i) {
        const QRect left = m_fields[i]->geometry();
        const QRect gap(left.right() + 1, 0, kGap, height());
        painter.drawText(gap, Qt::AlignCenter, QStringLiteral("."));
    }
}

void COptionTreeIPAddressCtrl::resizeEvent(QResizeEvent* /*event*/) {
    // Four equal fields: w = (width - 25) / 4 at x = 5, w + 10, 2w + 15, 3w + 20.
    const int w = std::max(0, (width() - 5 * kGap) / kFields);
    for (int i = 0; i < kFields; ++i)
        m_fields[i]->setGeometry(kGap + i * (w + kGap), 0, w, height());
}

} // namespace qarn
