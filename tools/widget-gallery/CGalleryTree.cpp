#include "CGalleryTree.h"

#include "ui/controls/COptionTree.h"
#include "ui/controls/COptionTreeItemCheckBox.h"
#include "ui/controls/COptionTreeItemColor.h"
#include "ui/controls/COptionTreeItemComboBox.h"
#include "ui/controls/COptionTreeItemDate.h"
#include "ui/controls/COptionTreeItemEdit.h"
#include "ui/controls/COptionTreeItemFile.h"
#include "ui/controls/COptionTreeItemHyperLink.h"
#include "ui/controls/COptionTreeItemIPAddress.h"
#include "ui/controls/COptionTreeItemImage.h"
#include "ui/controls/COptionTreeItemMaskedEdit.h"
#include "ui/controls/COptionTreeItemRadio.h"
#include "ui/controls/COptionTreeItemSingleImage.h"
#include "ui/controls/COptionTreeItemSpinner.h"
#include "ui/controls/COptionTreeItemStatic.h"
#include "ui/controls/COptionTreeList.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QRegularExpression>
#include <QStyle>
#include <QTextStream>
#include <QVBoxLayout>

namespace qarn {

namespace {

const char* const kMacMask = "[0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef] "
                             "[0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef]";

template <typename Item>
Item* Add(COptionTree* tree, COptionTreeItem* parent, const char* label, const char* info) {
    auto* item = new Item;
    tree->InsertItem(item, parent);
    item->SetLabel(QString::fromUtf8(label));
    item->SetInfo(QString::fromUtf8(info));
    return item;
}

COptionTreeItemIPAddress* AddAddress(COptionTree* tree, COptionTreeItem* parent, const char* label,
                                     const char* info, std::uint32_t address) {
    auto* item = Add<COptionTreeItemIPAddress>(tree, parent, label, info);
    item->CreateIPAddressItem();
    item->SetAddress(address);
    return item;
}

// A small coloured symbol for the image rows, drawn so that the gallery needs no files.
QPixmap Symbol(const QColor& colour, int shape) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(colour.darker(150));
    if (shape == 0)
        painter.drawEllipse(2, 2, 12, 12);
    else if (shape == 1)
        painter.drawRect(2, 2, 11, 11);
    else
        painter.drawPolygon(QPolygon({QPoint(8, 1), QPoint(15, 14), QPoint(1, 14)}));
    return pixmap;
}

} // namespace

CGalleryTree::CGalleryTree(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_tree =
        new COptionTree(this, COptionTree::OptionShowInfo | COptionTree::OptionShadeBackground |
                                  COptionTree::OptionShadeGroupRows);
    m_tree->setObjectName(QStringLiteral("tree"));
    m_tree->setMinimumSize(440, 720);
    layout->addWidget(m_tree, 1);
    auto* below = new QHBoxLayout;
    m_last = new QLabel(QStringLiteral("No notification yet"));
    m_last->setObjectName(QStringLiteral("lastNotification"));
    below->addWidget(m_last, 1);
    auto* enabled = new QCheckBox(QStringLiteral("Enabled"));
    enabled->setObjectName(QStringLiteral("treeEnabled"));
    enabled->setChecked(true);
    connect(enabled, &QCheckBox::toggled, m_tree, &QWidget::setEnabled);
    below->addWidget(enabled);
    layout->addLayout(below);

    FillEditorRows();
    FillOtherKinds();
    m_tree->ExpandAllItems();
    m_tree->SetNotify(true, this);
    connect(m_tree, &COptionTree::Notify, this,
            [this](int code, COptionTreeItem* item) { OnNotify(code, item); });
    m_tree->SetColumnWidth(170);
}

void CGalleryTree::FillEditorRows() {
    COptionTree* tree = m_tree;
    auto* network = tree->InsertItem(new COptionTreeItem);
    network->SetLabel(QStringLiteral("Network settings"));
    network->SetInfo(QStringLiteral("How the converter is reached on the LAN."));
    auto* mac = Add<COptionTreeItemMaskedEdit>(
        tree, network, "MAC address",
        "Hardware address of the converter as printed on its label: six pairs of hexadecimal "
        "digits, for example 00 20 4a 90 12 34.");
    mac->CreateMaskedEditItem();
    mac->SetMask(QString::fromLatin1(kMacMask));
    mac->SetEditText(QStringLiteral("00 20 4a 90 12 34"));
    AddAddress(tree, network, "IP address", "The converter's own address.", 0xC6120104);
    AddAddress(tree, network, "Subnet mask", "Which addresses are in the converter's segment.",
               0xFFFF0000);
    AddAddress(tree, network, "Gateway", "Where packets to other segments go.", 0xC6120001)
        ->SetReadOnly(true);

    auto* converter = tree->InsertItem(new COptionTreeItem);
    converter->SetLabel(QStringLiteral("Converter settings"));
    converter->SetInfo(QStringLiteral("The converter's own settings."));
    for (const char* label : {"Port 2", "Port 1"}) {
        auto* port = Add<COptionTreeItemSpinner>(tree, converter, label,
                                                 "UDP port, 0 to 65535; 58000 to 58017 are "
                                                 "reserved.");
        port->CreateSpinnerItem(COptionTreeItemSpinner::OptionEdit, 5000, 0, 65535);
    }
    AddAddress(tree, converter, "Peer address", "The other end of the serial link.", 0xC6120102);
    m_letter = Add<COptionTreeItemMaskedEdit>(tree, converter, "Letter", "");
    m_letter->CreateMaskedEditItem();
    m_letter->SetMask(QStringLiteral("[!-z]"));
    m_letter->SetEditText(QStringLiteral("K"));
    m_systemType = Add<COptionTreeItemComboBox>(tree, converter, "System type", "");
    m_systemType->CreateComboItem();
    for (const char* choice : {"rilo", "tesk", "vardo"})
        m_systemType->AddString(QString::fromLatin1(choice), m_systemType->GetCount());
    m_systemType->SetCurSel(1);
}

void CGalleryTree::FillOtherKinds() {
    COptionTree* tree = m_tree;
    auto* other = tree->InsertItem(new COptionTreeItem);
    other->SetLabel(QStringLiteral("Every other kind"));
    other->SetInfo(QStringLiteral("One row of each kind the tree offers."));
    auto* text = Add<COptionTreeItemStatic>(tree, other, "Static", "A fixed text.");
    text->SetStaticText(QStringLiteral("Firmware 3.1.0.7"));
    auto* longLabel = Add<COptionTreeItemStatic>(tree, other, "A label far too long for its column",
                                                 "Long labels end in an ellipsis.");
    longLabel->SetStaticText(QStringLiteral("cut with …"));
    auto* edit = Add<COptionTreeItemEdit>(tree, other, "Edit", "Free text.");
    edit->CreateEditItem();
    edit->SetEditText(QStringLiteral("Hall 3, cabinet 12"));
    auto* notes = Add<COptionTreeItemEdit>(tree, other, "Notes", "Several lines, word-wrapped.");
    notes->CreateEditItem(COptionTreeItemEdit::OptionMultiline |
                          COptionTreeItemEdit::OptionWantReturn);
    notes->SetItemHeight(3 * tree->GetDefaultRowHeight());
    notes->SetEditText(QStringLiteral("Installed by the night shift; the serial bus has "
                                      "termination at both ends."));
    auto* date = Add<COptionTreeItemDate>(tree, other, "Installed on", "A date.");
    date->CreateDateItem();
    date->SetDate(QDateTime(QDate(2024, 5, 17), QTime(9, 30)));
    auto* check = Add<COptionTreeItemCheckBox>(tree, other, "Check box", "Yes or no.");
    check->CreateCheckBoxItem(true);
    check->SetCheckText(QStringLiteral("Enabled"), QStringLiteral("Disabled"));
    auto* radio = Add<COptionTreeItemRadio>(tree, other, "Radio", "One of a few.");
    radio->CreateRadioItem();
    radio->InsertNewRadio(QStringLiteral("9600 baud"));
    radio->InsertNewRadio(QStringLiteral("19200 baud"), true);
    radio->InsertNewRadio(QStringLiteral("38400 baud"));
    auto* colour = Add<COptionTreeItemColor>(tree, other, "Colour", "A colour.");
    colour->CreateColorItem(0, QColor(0x33, 0x66, 0xFF), palette().color(QPalette::Text));
    auto* hex = Add<COptionTreeItemColor>(tree, other, "Colour (hex)", "A colour as #RRGGBB.");
    hex->CreateColorItem(COptionTreeItemColor::OptionHex, QColor(0xFF, 0x99, 0x00), Qt::black);
    auto* file = Add<COptionTreeItemFile>(tree, other, "File", "A file.");
    file->CreateFileItem(0, {QDir::homePath() + QStringLiteral("/firmware/lc-3.1.0.7.bin")});
    auto* folder = Add<COptionTreeItemFile>(tree, other, "Folder", "A folder.");
    folder->CreateFileItem(COptionTreeItemFile::OptionFolder, {QDir::tempPath()});
    auto* image = Add<COptionTreeItemImage>(tree, other, "Image", "One symbol of a list.");
    image->CreateImageItem(COptionTreeItemImage::OptionShowText, 3);
    image->AddImage(Symbol(QColor(0x2E, 0xA0, 0x43), 0), QStringLiteral("Running"));
    image->AddImage(Symbol(QColor(0xE0, 0xA0, 0x00), 2), QStringLiteral("Warning"));
    image->AddImage(Symbol(QColor(0xC0, 0x30, 0x30), 1), QStringLiteral("Stopped"));
    image->SetSelection(0);
    auto* picture = Add<COptionTreeItemSingleImage>(tree, other, "Single image", "A picture.");
    picture->SetBitmap(
        style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(QSize(32, 32), devicePixelRatio()));
    auto* link = Add<COptionTreeItemHyperLink>(tree, other, "Hyperlink", "Opens in the browser.");
    link->CreateHyperLinkItem(QStringLiteral("Installation manual"),
                              QUrl(QStringLiteral("https://example.org/manual")));
}

void CGalleryTree::OnNotify(int code, COptionTreeItem* item) {
    const QString who = item != nullptr ? item->GetLabel() : QStringLiteral("(none)");
    if (code != OT_NOTIFY_ITEMCHANGED && code != OT_NOTIFY_PROPCLICK)
        return;
    m_last->setText(QStringLiteral("Last notification: %1 for \"%2\"").arg(code).arg(who));
    // The configuration editor's rule: the system type "rilo" has no letter.
    if (code == OT_NOTIFY_ITEMCHANGED && item == m_systemType)
        m_letter->SetReadOnly(m_systemType->GetCurSel() == 0);
}

void CGalleryTree::PrintRows(QTextStream& out) const {
    const QWidget* viewport = m_tree->GetList()->viewport();
    for (const COptionTreeItem* row = m_tree->GetFirstVisible(); row != nullptr;
         row = row->GetNextVisible()) {
        // "Port 1" -> "row-port-1"
        QString name = row->GetLabel().toLower();
        name.replace(QRegularExpression(QStringLiteral("[^a-z0-9]+")), QStringLiteral("-"));
        name = QStringLiteral("row-") + name;
        for (const auto& [suffix, rect] :
             {std::pair{QString(), row->GetValueRect()},
              std::pair{QStringLiteral("-label"), row->GetLabelRect()}}) {
            const QPoint topLeft = viewport->mapToGlobal(rect.topLeft());
            out << name << suffix << ' ' << topLeft.x() << ' ' << topLeft.y() << ' ' << rect.width()
                << ' ' << rect.height() << '\n';
        }
    }
}

} // namespace qarn
