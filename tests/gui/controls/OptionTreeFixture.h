#pragma once

// The fixture of the property tree's tests: an owner window with a tree and a line edit beside it
// (where the focus goes when the user leaves the tree), in the shape of the configuration editor:
// a network group with three address rows and a converter group with a port spinner, a
// system-type list and a text. Every notification the owner gets is recorded.

#include "ui/controls/COptionTree.h"
#include "ui/controls/COptionTreeItemComboBox.h"
#include "ui/controls/COptionTreeItemEdit.h"
#include "ui/controls/COptionTreeItemIPAddress.h"
#include "ui/controls/COptionTreeItemSpinner.h"
#include "ui/controls/COptionTreeList.h"

#include <cstdint>
#include <functional>
#include <vector>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

namespace qarn::test {

struct Note {
    int code;
    COptionTreeItem* item;
};

class TreeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_owner.resize(420, 360);
        m_tree = new COptionTree(&m_owner, COptionTree::OptionShowInfo |
                                               COptionTree::OptionShadeBackground |
                                               COptionTree::OptionShadeGroupRows);
        m_tree->setGeometry(0, 0, 300, 300);
        m_elsewhere = new QLineEdit(&m_owner);
        m_elsewhere->setGeometry(0, 310, 300, 24);
        m_tree->SetNotify(true, &m_owner);
        QObject::connect(m_tree, &COptionTree::Notify, &m_owner,
                         [this](int code, COptionTreeItem* item, int* result) {
                             m_notes.push_back({code, item});
                             if (m_veto == code)
                                 *result = 1;
                             if (m_onNote)
                                 m_onNote(code, item);
                         });
        Fill();
        m_owner.show();
        QApplication::setActiveWindow(&m_owner);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_owner));
        m_notes.clear();
    }

    void Fill() {
        m_network = m_tree->InsertItem(new COptionTreeItem);
        m_network->SetLabel(QStringLiteral("Network settings"));
        m_ip = AddAddress(QStringLiteral("IP address"), 0xC0A80164); // 192.168.1.100
        m_netmask = AddAddress(QStringLiteral("Subnet mask"), 0xFFFFFF00);
        m_gateway = AddAddress(QStringLiteral("Gateway"), 0xC0A80101);
        m_converter = m_tree->InsertItem(new COptionTreeItem);
        m_converter->SetLabel(QStringLiteral("Converter settings"));
        m_port = new COptionTreeItemSpinner;
        m_tree->InsertItem(m_port, m_converter);
        m_port->SetLabel(QStringLiteral("Port 1"));
        m_port->CreateSpinnerItem(COptionTreeItemSpinner::OptionEdit, 5000, 0, 65535);
        m_system = new COptionTreeItemComboBox;
        m_tree->InsertItem(m_system, m_converter);
        m_system->SetLabel(QStringLiteral("System type"));
        m_system->CreateComboItem();
        for (const char* choice : {"rilo", "tesk", "vardo"})
            m_system->AddString(QString::fromLatin1(choice), m_system->GetCount());
        m_system->SetCurSel(1);
        m_name = new COptionTreeItemEdit;
        m_tree->InsertItem(m_name, m_converter);
        m_name->SetLabel(QStringLiteral("Name"));
        m_name->CreateEditItem();
        m_name->SetEditText(QStringLiteral("hall 3"));
        m_tree->ExpandAllItems();
    }

    COptionTreeItemIPAddress* AddAddress(const QString& label, std::uint32_t address) {
        auto* item = new COptionTreeItemIPAddress;
        m_tree->InsertItem(item, m_network);
        item->SetLabel(label);
        item->CreateIPAddressItem();
        item->SetAddress(address);
        return item;
    }

    QWidget* Viewport() const { return m_tree->GetList()->viewport(); }
    void ClickValue(COptionTreeItem* item) {
        QTest::mouseClick(Viewport(), Qt::LeftButton, {}, item->GetValueRect().center());
    }
    void ClickLabel(COptionTreeItem* item) {
        QTest::mouseClick(Viewport(), Qt::LeftButton, {}, item->GetLabelRect().center());
    }
    // Keys go where a user's keys go: to the widget that has the focus.
    void Type(const QString& keys) {
        for (const QChar key : keys)
            QTest::keyClick(QApplication::focusWidget(), key.toLatin1());
    }
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    }
    void LeaveTree() { m_elsewhere->setFocus(Qt::MouseFocusReason); }

    int Count(int code, const COptionTreeItem* item = nullptr) const {
        int count = 0;
        for (const Note& note : m_notes)
            count += note.code == code && (item == nullptr || note.item == item) ? 1 : 0;
        return count;
    }

    QWidget m_owner;
    COptionTree* m_tree = nullptr;
    QLineEdit* m_elsewhere = nullptr;
    COptionTreeItem* m_network = nullptr;
    COptionTreeItem* m_converter = nullptr;
    COptionTreeItemIPAddress* m_ip = nullptr;
    COptionTreeItemIPAddress* m_netmask = nullptr;
    COptionTreeItemIPAddress* m_gateway = nullptr;
    COptionTreeItemSpinner* m_port = nullptr;
    COptionTreeItemComboBox* m_system = nullptr;
    COptionTreeItemEdit* m_name = nullptr;
    std::vector<Note> m_notes;
    int m_veto = 0;
    std::function<void(int, COptionTreeItem*)> m_onNote;
};

} // namespace qarn::test
