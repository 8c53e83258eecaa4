#pragma once

#include "protocol/EditRules.h"
#include "protocol/LANconvDevice.h"

#include <cstdint>
#include <optional>

class QObject;
class QWidget;

namespace qarn {

class COptionTree;
class COptionTreeItem;
class COptionTreeItemComboBox;
class COptionTreeItemIPAddress;
class COptionTreeItemMaskedEdit;
class COptionTreeItemSpinner;

// The main window's configuration editor: the property tree in the place of the template's
// placeholder, and the rows it shows for the working record. Filling copies values from the
// record into rows; a committed row's value goes back into the record through the value rules
// that the command line uses too (EditRules). The editor never sends anything; the write button
// does.
//
// The rows exist from one Fill to the next; the row pointers are valid only until then.
class ConfigurationEditor {
  public:
    // Info pane, shaded list background, shaded group rows; notifications are switched on apart.
    static constexpr uint32_t kTreeOptions = 0x19;
    // The MAC address as six pairs of lower-case hexadecimal digits, and one letter from '!' to
    // 'z'.
    static constexpr const char* kMacMask =
        "[0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef] "
        "[0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef]";
    static constexpr const char* kLetterMask = "[!-z]";

    // Makes the tree inside `placeholder`, filling it, with notifications going to `receiver`.
    ConfigurationEditor(QWidget* placeholder, QObject* receiver);

    COptionTree* Tree() const { return m_tree; }

    // Rebuilds every row for `working` in the view that EditorViewOf gives, painting once.
    void Fill(const LANconvDevice& working);
    // Forgets the rows (every row pointer null); the tree deletes them itself.
    void ClearEditorItems();

    // Which of the editor's rows `item` is; nullopt for a group row or an item it does not know.
    std::optional<EditItem> ItemOf(const COptionTreeItem* item) const;

    // The committed value of `item` into `working` through the value rules. A corrected port
    // shows its corrected value; a refused address shows the record's address again (the window
    // says why); a change of system type makes the letter row read-only or editable.
    EditResult Apply(const COptionTreeItem* item, LANconvDevice& working);

    // The letter may be edited unless "rilo" is selected as the system type; with no system-type
    // row it may not.
    bool IsLetterEditable() const;

    COptionTreeItem* RootItem() const { return m_pRootItem; }
    COptionTreeItemMaskedEdit* MacItem() const { return m_pMacItem; }
    COptionTreeItemIPAddress* IpItem() const { return m_pIpItem; }
    COptionTreeItemIPAddress* NetmaskItem() const { return m_pNetmaskItem; }
    COptionTreeItemIPAddress* GatewayItem() const { return m_pGatewayItem; }
    COptionTreeItemSpinner* Port2Item() const { return m_pPort2Item; }
    COptionTreeItemSpinner* Port1Item() const { return m_pPort1Item; }
    COptionTreeItemIPAddress* PeerIpItem() const { return m_pPeerIpItem; }
    COptionTreeItemMaskedEdit* LetterItem() const { return m_pLetterItem; }
    COptionTreeItemComboBox* SystemTypeItem() const { return m_pSystemTypeItem; }

  private:
    void AddAddressGroup(const LANconvDevice& working, unsigned ipLabel);
    void AddMacItem(const LANconvDevice& working);
    void AddConverterGroup(const LANconvDevice& working);
    COptionTreeItemIPAddress* AddAddressItem(COptionTreeItem* parent, unsigned label, unsigned info,
                                             uint32_t hostOrderAddress, bool readOnly);
    COptionTreeItemSpinner* AddPortItem(COptionTreeItem* parent, unsigned label, unsigned info,
                                        uint16_t port);
    void SetMacAddressGroupTexts();

    COptionTree* m_tree = nullptr;
    COptionTreeItem* m_pRootItem = nullptr;
    COptionTreeItemMaskedEdit* m_pMacItem = nullptr;
    COptionTreeItemIPAddress* m_pIpItem = nullptr;
    COptionTreeItemIPAddress* m_pNetmaskItem = nullptr;
    COptionTreeItemIPAddress* m_pGatewayItem = nullptr;
    COptionTreeItemSpinner* m_pPort2Item = nullptr;
    COptionTreeItemSpinner* m_pPort1Item = nullptr;
    COptionTreeItemIPAddress* m_pPeerIpItem = nullptr;
    COptionTreeItemMaskedEdit* m_pLetterItem = nullptr;
    COptionTreeItemComboBox* m_pSystemTypeItem = nullptr;
};

// IPv4 between the record's network order (192.168.0.1 -> 0x0100A8C0) and the host order of the
// address rows (192.168.0.1 -> 0xC0A80001), octet by octet.
uint32_t NetworkToHostOrder(uint32_t address);
uint32_t HostToNetworkOrder(uint32_t address);

} // namespace qarn
