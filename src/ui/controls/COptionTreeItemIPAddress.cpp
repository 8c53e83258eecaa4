#include "ui/controls/COptionTreeItemIPAddress.h"

#include "ui/controls/COptionTree.h"
#include "ui/controls/COptionTreeIPAddressCtrl.h"
#include "ui/controls/COptionTreeIPAddressEdit.h"

#include <QPainter>

namespace qarn {

bool COptionTreeItemIPAddress::CreateIPAddressItem() {
    if (!CanCreateEditor())
        return false;
    auto* control = new COptionTreeIPAddressCtrl;
    control->setObjectName(QStringLiteral("ctl_%1").arg(GetID()));
    AdoptEditor(control);
    return true;
}

COptionTreeIPAddressCtrl* COptionTreeItemIPAddress::GetControl() const {
    return static_cast<COptionTreeIPAddressCtrl*>(Editor());
}

void COptionTreeItemIPAddress::SetAddress(std::uint32_t address) {
    if (COptionTreeIPAddressCtrl* control = GetControl(); control != nullptr) {
        control->SetAddress(address);
        GetTree()->UpdateTree();
    }
}

void COptionTreeItemIPAddress::SetAddress(int first, int second, int third, int fourth) {
    auto octet = [](int value) { return static_cast<std::uint32_t>(value) & 0xFFu; };
    SetAddress(octet(first) << 24 | octet(second) << 16 | octet(third) << 8 | octet(fourth));
}

int COptionTreeItemIPAddress::GetAddress(std::uint32_t& address) const {
    address = 0;
    const COptionTreeIPAddressCtrl* control = GetControl();
    return control != nullptr ? control->GetAddress(address) : 0;
}

void COptionTreeItemIPAddress::ClearAddress() {
    if (COptionTreeIPAddressCtrl* control = GetControl(); control != nullptr) {
        control->ClearAddress();
        GetTree()->UpdateTree();
    }
}

QString COptionTreeItemIPAddress::GetAddressText() const {
    std::uint32_t address = 0;
    GetAddress(address);
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFFu)
        .arg((address >> 8) & 0xFFu)
        .arg(address & 0xFFu);
}

void COptionTreeItemIPAddress::DrawValue(QPainter& painter, const QRect& rect) {
    COptionTreeItem::DrawValue(painter, rect);
    if (GetControl() == nullptr)
        return;
    painter.setPen(ValueTextColor());
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, GetAddressText());
}

void COptionTreeItemIPAddress::OnActivate() {
    COptionTreeIPAddressCtrl* control = GetControl();
    if (control == nullptr)
        return;
    for (int i = 0; i < COptionTreeIPAddressCtrl::kFields; ++i)
        m_atActivation[i] = control->Field(i)->text();
    COptionTreeItem::OnActivate();
    control->FocusField(0, COptionTreeIPAddressCtrl::Caret::SelectAll);
}

void COptionTreeItemIPAddress::RevertEdit() {
    if (COptionTreeIPAddressCtrl* control = GetControl(); control != nullptr)
        for (int i = 0; i < COptionTreeIPAddressCtrl::kFields; ++i)
            control->Field(i)->setText(m_atActivation[i]);
}

} // namespace qarn
