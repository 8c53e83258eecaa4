#include "ui/ConfigurationEditor.h"

#include "app/Resources.h"
#include "protocol/ConverterText.h"
#include "ui/controls/COptionTree.h"
#include "ui/controls/COptionTreeItem.h"
#include "ui/controls/COptionTreeItemComboBox.h"
#include "ui/controls/COptionTreeItemIPAddress.h"
#include "ui/controls/COptionTreeItemMaskedEdit.h"
#include "ui/controls/COptionTreeItemSpinner.h"

#include <array>

#include <QStyle>
#include <QVBoxLayout>
#include <QWidget>

namespace qarn {

namespace {

// Labels and help texts of the string table.
constexpr unsigned kTextManualGroup = 16030;
constexpr unsigned kTextManualGroupInfo = 16031;
constexpr unsigned kTextMac = 16032;
constexpr unsigned kTextMacInfo = 16033;
constexpr unsigned kTextNewIp = 16034;
constexpr unsigned kTextIp = 16038;
constexpr unsigned kTextIpInfo = 16039;
constexpr unsigned kTextNetmask = 16040;
constexpr unsigned kTextNetmaskInfo = 16041;
constexpr unsigned kTextGateway = 16042;
constexpr unsigned kTextGatewayInfo = 16043;
constexpr unsigned kTextPort2 = 16044;
constexpr unsigned kTextPort2Info = 16045;
constexpr unsigned kTextPort1 = 16046;
constexpr unsigned kTextPort1Info = 16047;
constexpr unsigned kTextPeer = 16048;
constexpr unsigned kTextPeerInfo = 16049;
constexpr unsigned kTextAddressGroup = 16052;
constexpr unsigned kTextAddressGroupInfo = 16053;
constexpr unsigned kTextLetter = 16077;
constexpr unsigned kTextSystemType = 16078;
constexpr unsigned kTextConverterGroup = 16080;

constexpr uint32_t kSpinnerOptions = 0x400; // typed digits allowed
constexpr double kLowestPort = 0;
constexpr double kHighestPort = 65535;
constexpr std::array<uint8_t, 3> kSystemTypes = {kSystemTypeRilo, kSystemTypeTesk,
                                                 kSystemTypeVardo};

// Inserts `item` under `parent` (the top level when null) with its texts.
template <typename Item>
Item* Insert(COptionTree* tree, Item* item, COptionTreeItem* parent, const QString& label,
             const QString& info) {
    tree->InsertItem(item, parent);
    item->SetLabel(label);
    item->SetInfo(info);
    return item;
}

} // namespace

uint32_t NetworkToHostOrder(uint32_t address) {
    // The first octet is the lowest byte of the network-order value.
    return (address & 0xFFu) << 24 | (address >> 8 & 0xFFu) << 16 | (address >> 16 & 0xFFu) << 8 |
           (address >> 24 & 0xFFu);
}

uint32_t HostToNetworkOrder(uint32_t address) {
    return NetworkToHostOrder(address); // the same exchange of octets both ways
}

ConfigurationEditor::ConfigurationEditor(QWidget* placeholder, QObject* receiver) {
    auto* layout = new QVBoxLayout(placeholder);
    layout->setContentsMargins(0, 0, 0, 0);
    m_tree = new COptionTree(placeholder, kTreeOptions);
    layout->addWidget(m_tree);
    m_tree->SetNotify(true, receiver);
}

void ConfigurationEditor::ClearEditorItems() {
    m_pRootItem = nullptr;
    m_pMacItem = nullptr;
    m_pIpItem = nullptr;
    m_pNetmaskItem = nullptr;
    m_pGatewayItem = nullptr;
    m_pPort2Item = nullptr;
    m_pPort1Item = nullptr;
    m_pPeerIpItem = nullptr;
    m_pLetterItem = nullptr;
    m_pSystemTypeItem = nullptr;
}

void ConfigurationEditor::Fill(const LANconvDevice& working) {
    m_tree->setUpdatesEnabled(false);
    m_tree->DeleteAllItems();
    ClearEditorItems();
    m_pRootItem = Insert(m_tree, new COptionTreeItem, nullptr, QString(), QString());

    const EditorView view = EditorViewOf(working);
    switch (view) {
    case EditorView::Manual:
    case EditorView::Limited:
        SetMacAddressGroupTexts();
        AddMacItem(working);
        AddAddressGroup(working, view == EditorView::Manual ? kTextNewIp : kTextIp);
        break;
    case EditorView::Full:
        AddAddressGroup(working, kTextIp);
        m_pRootItem->SetLabel(ResourceString(kTextAddressGroup));
        m_pRootItem->SetInfo(ResourceString(kTextAddressGroupInfo));
        AddConverterGroup(working);
        break;
    case EditorView::AddressOnly:
        AddAddressGroup(working, kTextIp);
        break;
    case EditorView::Empty:
        break;
    }

    m_tree->FocusItem(m_pRootItem);
    m_tree->setUpdatesEnabled(true);
    m_tree->ExpandAllItems();
    m_tree->update();
}

void ConfigurationEditor::SetMacAddressGroupTexts() {
    m_pRootItem->SetLabel(ResourceString(kTextManualGroup));
    m_pRootItem->SetInfo(
        FormatText(ResourceString(kTextManualGroupInfo), {ResourceString(kTextAddressGroup)}));
}

void ConfigurationEditor::AddMacItem(const LANconvDevice& working) {
    m_pMacItem = Insert(m_tree, new COptionTreeItemMaskedEdit, m_pRootItem,
                        ResourceString(kTextMac), ResourceString(kTextMacInfo));
    m_pMacItem->CreateMaskedEditItem(0);
    m_pMacItem->SetMask(QString::fromLatin1(kMacMask));
    // The manual view offers a MAC address to type; the record's own goes only when committed.
    // Always the record's MAC: it is what a write sends, also in the manual view.
    m_pMacItem->SetEditText(QString::fromStdString(MacText(working.abyMac)));
    m_pMacItem->SetReadOnly(EditorItemStateOf(working, EditItem::Mac).readOnly);
}

void ConfigurationEditor::AddAddressGroup(const LANconvDevice& working, unsigned ipLabel) {
    m_pIpItem = AddAddressItem(m_pRootItem, ipLabel, kTextIpInfo, NetworkToHostOrder(working.dwIp),
                               EditorItemStateOf(working, EditItem::Ip).readOnly);
    m_pNetmaskItem = AddAddressItem(m_pRootItem, kTextNetmask, kTextNetmaskInfo, working.dwNetmask,
                                    EditorItemStateOf(working, EditItem::Netmask).readOnly);
    m_pGatewayItem = AddAddressItem(m_pRootItem, kTextGateway, kTextGatewayInfo,
                                    NetworkToHostOrder(working.dwGateway),
                                    EditorItemStateOf(working, EditItem::Gateway).readOnly);
}

void ConfigurationEditor::AddConverterGroup(const LANconvDevice& working) {
    const QString groupText = ResourceString(kTextConverterGroup);
    COptionTreeItem* group = Insert(m_tree, new COptionTreeItem, nullptr, groupText, groupText);
    if (EditorItemStateOf(working, EditItem::Port2).shown)
        m_pPort2Item = AddPortItem(group, kTextPort2, kTextPort2Info, working.wPort2);
    m_pPort1Item = AddPortItem(group, kTextPort1, kTextPort1Info, working.wPort1);
    m_pPeerIpItem = AddAddressItem(group, kTextPeer, kTextPeerInfo,
                                   NetworkToHostOrder(working.dwPeerIp), false);

    m_pLetterItem = Insert(m_tree, new COptionTreeItemMaskedEdit, group,
                           ResourceString(kTextLetter), QString());
    m_pLetterItem->CreateMaskedEditItem(0);
    m_pLetterItem->SetMask(QString::fromLatin1(kLetterMask));
    m_pLetterItem->SetEditText(QString::fromStdString(LetterText(working.chLetter)));

    m_pSystemTypeItem = Insert(m_tree, new COptionTreeItemComboBox, group,
                               ResourceString(kTextSystemType), QString());
    m_pSystemTypeItem->CreateComboItem(false);
    for (const uint8_t type : kSystemTypes) {
        const std::string_view name = SystemTypeName(type).value_or("");
        m_pSystemTypeItem->AddString(QString::fromLatin1(name.data(), name.size()), type);
    }
    m_pSystemTypeItem->SetCurSel(SystemTypeIndexOf(working.bySystemType));
    m_pLetterItem->SetReadOnly(!IsLetterEditable());
}

COptionTreeItemIPAddress* ConfigurationEditor::AddAddressItem(COptionTreeItem* parent,
                                                              unsigned label, unsigned info,
                                                              uint32_t hostOrderAddress,
                                                              bool readOnly) {
    auto* item = Insert(m_tree, new COptionTreeItemIPAddress, parent, ResourceString(label),
                        ResourceString(info));
    item->CreateIPAddressItem();
    item->SetAddress(hostOrderAddress);
    item->SetReadOnly(readOnly);
    return item;
}

COptionTreeItemSpinner* ConfigurationEditor::AddPortItem(COptionTreeItem* parent, unsigned label,
                                                         unsigned info, uint16_t port) {
    auto* item = Insert(m_tree, new COptionTreeItemSpinner, parent, ResourceString(label),
                        ResourceString(info));
    item->CreateSpinnerItem(kSpinnerOptions, port, kLowestPort, kHighestPort);
    item->SetReadOnly(false);
    return item;
}

std::optional<EditItem> ConfigurationEditor::ItemOf(const COptionTreeItem* item) const {
    if (item == nullptr)
        return std::nullopt;
    const std::array<std::pair<const COptionTreeItem*, EditItem>, 9> items = {{
        {m_pMacItem, EditItem::Mac},
        {m_pIpItem, EditItem::Ip},
        {m_pNetmaskItem, EditItem::Netmask},
        {m_pGatewayItem, EditItem::Gateway},
        {m_pPort2Item, EditItem::Port2},
        {m_pPort1Item, EditItem::Port1},
        {m_pPeerIpItem, EditItem::PeerIp},
        {m_pLetterItem, EditItem::Letter},
        {m_pSystemTypeItem, EditItem::SystemType},
    }};
    for (const auto& [known, kind] : items) {
        if (known == item)
            return kind;
    }
    return std::nullopt;
}

EditResult ConfigurationEditor::Apply(const COptionTreeItem* item, LANconvDevice& working) {
    const std::optional<EditItem> kind = ItemOf(item);
    if (!kind)
        return {EditStatus::NotEditable, {}};
    uint32_t address = 0;
    EditResult result;
    switch (*kind) {
    case EditItem::Mac:
        return ApplyMacInput(working, m_pMacItem->GetInputText().toStdString());
    case EditItem::Ip:
        m_pIpItem->GetAddress(address);
        result = ApplyIp(working, HostToNetworkOrder(address));
        if (result.status == EditStatus::Rejected)
            m_pIpItem->SetAddress(NetworkToHostOrder(working.dwIp));
        return result;
    case EditItem::Netmask:
        m_pNetmaskItem->GetAddress(address);
        return ApplyNetmask(working, address);
    case EditItem::Gateway:
        m_pGatewayItem->GetAddress(address);
        return ApplyGateway(working, HostToNetworkOrder(address));
    case EditItem::Port2:
    case EditItem::Port1: {
        COptionTreeItemSpinner* spinner = *kind == EditItem::Port2 ? m_pPort2Item : m_pPort1Item;
        result = ApplyPort(working, *kind, spinner->GetEditText().toStdString());
        if (result.status == EditStatus::Corrected)
            spinner->SetEditText(QString::fromStdString(result.text));
        return result;
    }
    case EditItem::PeerIp:
        m_pPeerIpItem->GetAddress(address);
        return ApplyPeerIp(working, HostToNetworkOrder(address));
    case EditItem::Letter:
        return ApplyLetter(working, m_pLetterItem->GetInputText().toStdString());
    case EditItem::SystemType:
        result = ApplySystemType(working, m_pSystemTypeItem->GetCurSel());
        if (m_pLetterItem != nullptr)
            m_pLetterItem->SetReadOnly(!IsLetterEditable());
        return result;
    }
    return {EditStatus::NotEditable, {}};
}

bool ConfigurationEditor::IsLetterEditable() const {
    return m_pSystemTypeItem != nullptr && qarn::IsLetterEditable(m_pSystemTypeItem->GetCurSel());
}

} // namespace qarn
