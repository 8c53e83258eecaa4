#pragma once

// A row that holds an IPv4 address. Closed it shows "%d.%d.%d.%d"; activated it opens four
// number fields (COptionTreeIPAddressCtrl) with the first one selected, so that typing
// "192.168.1.20" and Enter, or Tab, sets and commits the address.

#include "ui/controls/COptionTreeItem.h"

#include <array>
#include <cstdint>

namespace qarn {

class COptionTreeIPAddressCtrl;

class COptionTreeItemIPAddress : public COptionTreeItem {
  public:
    COptionTreeItemIPAddress() = default;

    // The editor; false when the item is not in a tree yet or has one already.
    bool CreateIPAddressItem();

    // The address in host order (first octet in bits 31 to 24).
    void SetAddress(std::uint32_t address);
    void SetAddress(int first, int second, int third, int fourth);
    // The address in host order, blank fields as 0; the number of fields that are not blank
    // (0 before CreateIPAddressItem).
    int GetAddress(std::uint32_t& address) const;
    void ClearAddress();
    // The closed value: "192.168.1.20".
    QString GetAddressText() const;
    COptionTreeIPAddressCtrl* GetControl() const;

    void DrawValue(QPainter& painter, const QRect& rect) override;
    void OnActivate() override;
    void RevertEdit() override;

  private:
    std::array<QString, 4> m_atActivation;
};

} // namespace qarn
