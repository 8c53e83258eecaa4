// The property tree as its owner and its user meet it: the notifications an owner gets for
// clicks, keys and commits, the column clamp, item ids, and the editors of the rows the
// configuration editor uses (IP address, spinner, combo box, edit) driven by mouse and keyboard.

#include "ui/controls/COptionTree.h"

#include "ui/controls/COptionTreeIPAddressCtrl.h"
#include "ui/controls/COptionTreeIPAddressEdit.h"
#include "ui/controls/COptionTreeItemComboBox.h"
#include "ui/controls/COptionTreeItemEdit.h"
#include "ui/controls/COptionTreeItemIPAddress.h"
#include "ui/controls/COptionTreeItemSpinner.h"
#include "ui/controls/COptionTreeItemStatic.h"
#include "ui/controls/COptionTreeList.h"
#include "ui/controls/COptionTreeSpinnerButton.h"
#include "ui/controls/COptionTreeSpinnerEdit.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <gtest/gtest.h>

namespace qarn {
namespace {

struct Note {
    int code;
    COptionTreeItem* item;
};

// An owner window with a tree and a line edit beside it (where the focus goes when the user
// leaves the tree), in the shape of the configuration editor: a network group with three
// address rows and a converter group with a port spinner, a system-type list and a text.
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

TEST_F(TreeTest, ActivationCommitsOnceHoweverOftenTheFocusLeaves) {
    ClickValue(m_port);
    ASSERT_TRUE(m_port->IsActivated());
    EXPECT_TRUE(m_port->GetButton()->isVisible());
    EXPECT_EQ(Count(OT_NOTIFY_PROPCLICK, m_port), 1);
    EXPECT_EQ(m_tree->GetFocusedItem(), m_port);

    // Left without a change: still one commit, and the editor closes.
    LeaveTree();
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, m_port), 1);
    EXPECT_FALSE(m_port->IsActivated());
    EXPECT_FALSE(m_port->GetButton()->isVisible());

    // Focus wandering elsewhere without a new activation sends nothing more.
    m_tree->GetList()->setFocus();
    LeaveTree();
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, m_port), 1);

    // A new activation commits once more; a changed value is what the owner reads then.
    ClickValue(m_port);
    Type(QStringLiteral("6001"));
    Press(Qt::Key_Return);
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, m_port), 2);
    EXPECT_EQ(m_port->GetValue(), 6001);
    EXPECT_TRUE(m_tree->GetList()->hasFocus()) << "Enter hands the keyboard back to the rows";
}

TEST_F(TreeTest, ClickingAnotherRowCommitsTheFirstBeforeActivatingTheSecond) {
    ClickValue(m_ip);
    m_notes.clear();
    ClickValue(m_netmask);
    ASSERT_EQ(m_notes.size(), 3U);
    EXPECT_EQ(m_notes[0].code, OT_NOTIFY_ITEMCHANGED);
    EXPECT_EQ(m_notes[0].item, m_ip);
    EXPECT_EQ(m_notes[1].code, OT_NOTIFY_PROPCLICK);
    EXPECT_EQ(m_notes[1].item, m_netmask);
    EXPECT_EQ(m_notes[2].code, OT_NOTIFY_SELCHANGE);
    EXPECT_TRUE(m_netmask->IsActivated());
    EXPECT_TRUE(m_netmask->IsSelected());
    EXPECT_FALSE(m_ip->IsSelected());
}

TEST_F(TreeTest, WithNotificationsOffACommitIsSilentButStillCloses) {
    m_tree->SetNotify(false, &m_owner);
    ClickValue(m_name);
    ASSERT_TRUE(m_name->IsActivated());
    Type(QStringLiteral("x"));
    LeaveTree();
    EXPECT_TRUE(m_notes.empty());
    EXPECT_TRUE(m_name->IsCommitted());
    EXPECT_FALSE(m_name->IsActivated());
    EXPECT_EQ(m_name->GetEditText(), QStringLiteral("x"));

    // A receiver that is gone counts as notifications off.
    auto receiver = std::make_unique<QObject>();
    m_tree->SetNotify(true, receiver.get());
    receiver.reset();
    ClickValue(m_name);
    LeaveTree();
    EXPECT_TRUE(m_notes.empty());
}

TEST_F(TreeTest, AReadOnlyRowNeverOpensItsEditor) {
    m_netmask->SetReadOnly(true);
    ClickValue(m_netmask);
    EXPECT_FALSE(m_netmask->IsActivated());
    EXPECT_FALSE(m_netmask->GetControl()->isVisible());
    EXPECT_EQ(m_tree->GetFocusedItem(), m_netmask) << "the row is still focused and explained";

    m_tree->GetList()->setFocus();
    Press(Qt::Key_Return);
    EXPECT_FALSE(m_netmask->IsActivated());

    // Tab from the IP address skips the read-only mask and opens the gateway.
    ClickValue(m_ip);
    Press(Qt::Key_Tab);
    EXPECT_FALSE(m_netmask->IsActivated());
    EXPECT_TRUE(m_gateway->IsActivated());
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, m_netmask), 0);
}

TEST_F(TreeTest, TheOwnerMayVetoAnActivation) {
    m_veto = OT_NOTIFY_PROPCLICK;
    ClickValue(m_port);
    EXPECT_FALSE(m_port->IsActivated());
    EXPECT_EQ(m_tree->GetFocusedItem(), m_port);
}

TEST_F(TreeTest, IdsCountOnAfterDeleteAllItemsFromTwo) {
    EXPECT_EQ(m_network->GetID(), 1);
    EXPECT_EQ(m_ip->GetID(), 2);
    EXPECT_EQ(m_name->GetID(), 8);
    m_tree->DeleteAllItems();
    ASSERT_FALSE(m_notes.empty());
    EXPECT_EQ(m_notes.front().code, OT_NOTIFY_DELETEITEM);
    EXPECT_EQ(m_notes.front().item, nullptr);
    EXPECT_EQ(Count(OT_NOTIFY_DELETEITEM), 1 + 8);
    EXPECT_EQ(m_tree->GetRootItem()->GetChild(), nullptr);

    auto* first = m_tree->InsertItem(new COptionTreeItem);
    auto* second = m_tree->InsertItem(new COptionTreeItem);
    EXPECT_EQ(first->GetID(), 2);
    EXPECT_EQ(second->GetID(), 3);
    EXPECT_EQ(Count(OT_NOTIFY_INSERTITEM, first), 1);
}

TEST_F(TreeTest, InsertPlacesBehindAChildOrAtTheEnd) {
    auto* stranger = new COptionTreeItemStatic; // a child of another parent
    m_tree->InsertItem(stranger, m_network);
    auto* behindIp = m_tree->InsertItem(new COptionTreeItemStatic, m_network, m_ip);
    auto* atEnd = m_tree->InsertItem(new COptionTreeItemStatic, m_converter, m_ip);
    EXPECT_EQ(m_ip->GetSibling(), behindIp);
    EXPECT_EQ(behindIp->GetSibling(), m_netmask);
    COptionTreeItem* last = m_converter->GetChild();
    while (last->GetSibling() != nullptr)
        last = last->GetSibling();
    EXPECT_EQ(last, atEnd);
    EXPECT_EQ(m_tree->InsertItem(nullptr), nullptr);
}

TEST_F(TreeTest, ColumnWidthIsClampedToTheGutterAndTheTree) {
    struct Case {
        int asked;
        int expected;
    };
    // The tree is 300 pixels wide and its gutter 15.
    for (const Case c : {Case{5, 15}, Case{15, 15}, Case{100, 100}, Case{285, 285}, Case{286, 285},
                         Case{400, 285}, Case{-20, 15}}) {
        SCOPED_TRACE(c.asked);
        m_tree->SetColumnWidth(c.asked);
        EXPECT_EQ(m_tree->GetColumnWidth(), c.expected);
        EXPECT_EQ(m_ip->GetValueRect().left(), c.expected + 1 + m_tree->GetMargin());
    }
}

TEST_F(TreeTest, DraggingTheColumnLineStaysInsideItsBorders) {
    const int y = m_ip->GetValueRect().center().y();
    const int from = m_tree->GetColumnWidth();
    QTest::mousePress(Viewport(), Qt::LeftButton, {}, QPoint(from + 2, y));
    QTest::mouseMove(Viewport(), QPoint(2, y));
    QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, QPoint(2, y));
    EXPECT_EQ(m_tree->GetColumnWidth(), COptionTree::kGutterWidth + 25);

    m_veto = OT_NOTIFY_COLUMNCLICK;
    QTest::mousePress(Viewport(), Qt::LeftButton, {}, QPoint(40, y));
    QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, QPoint(200, y));
    EXPECT_EQ(m_tree->GetColumnWidth(), COptionTree::kGutterWidth + 25);
}

TEST_F(TreeTest, TheOwnerMayRebuildTheTreeFromItsCommitHandler) {
    // The configuration editor refills the tree at times; doing so while a row commits must
    // leave a working tree behind, with no editor of the old rows left over.
    m_onNote = [this](int code, COptionTreeItem*) {
        if (code != OT_NOTIFY_ITEMCHANGED)
            return;
        m_onNote = nullptr;
        m_tree->DeleteAllItems();
        Fill();
    };
    ClickValue(m_ip);
    Type(QStringLiteral("10"));
    LeaveTree();
    QApplication::processEvents();
    EXPECT_EQ(m_ip->GetAddressText(), QStringLiteral("192.168.1.100"));
    ClickValue(m_ip);
    EXPECT_TRUE(m_ip->IsActivated());
    EXPECT_TRUE(m_ip->GetControl()->isVisible());
}

// --- The IP address: the keys a user types ----------------------------------------------------

TEST_F(TreeTest, TypingAnAddressMovesThroughTheFieldsAndEnterCommitsIt) {
    ClickValue(m_ip);
    COptionTreeIPAddressCtrl* control = m_ip->GetControl();
    ASSERT_EQ(QApplication::focusWidget(), control->Field(0));
    EXPECT_EQ(control->Field(0)->selectedText(), QStringLiteral("192")) << "typing replaces it";

    // Three digits fill a field and move on; '.' ends a shorter one.
    Type(QStringLiteral("10.0.7.42"));
    EXPECT_EQ(QApplication::focusWidget(), control->Field(3));
    Press(Qt::Key_Return);
    std::uint32_t address = 0;
    EXPECT_EQ(m_ip->GetAddress(address), 4);
    EXPECT_EQ(address, 0x0A00072AU);
    EXPECT_EQ(m_ip->GetAddressText(), QStringLiteral("10.0.7.42"));
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, m_ip), 1);
    EXPECT_FALSE(control->isVisible());

    ClickValue(m_ip);
    Type(QStringLiteral("172016001002"));
    Press(Qt::Key_Return);
    EXPECT_EQ(m_ip->GetAddressText(), QStringLiteral("172.16.1.2"));

    // Dots typed after full fields by habit are no field skips.
    ClickValue(m_ip);
    Type(QStringLiteral("255.255.255.0"));
    Press(Qt::Key_Return);
    EXPECT_EQ(m_ip->GetAddressText(), QStringLiteral("255.255.255.0"));
}

TEST_F(TreeTest, AddressFieldsClampAndTheCaretCrossesTheirEdges) {
    ClickValue(m_ip);
    COptionTreeIPAddressCtrl* control = m_ip->GetControl();
    Type(QStringLiteral("300")); // no field holds more than 255
    EXPECT_EQ(control->Field(0)->text(), QStringLiteral("255"));
    EXPECT_EQ(QApplication::focusWidget(), control->Field(1));

    // Backspace at the start of a field erases into the previous one.
    Press(Qt::Key_Backspace); // field 1 is selected: its text goes
    EXPECT_EQ(control->Field(1)->text(), QString());
    Press(Qt::Key_Backspace);
    EXPECT_EQ(QApplication::focusWidget(), control->Field(0));
    EXPECT_EQ(control->Field(0)->text(), QStringLiteral("25"));

    // Right at a field's end enters the next; Left at its start goes back.
    Press(Qt::Key_Right);
    EXPECT_EQ(QApplication::focusWidget(), control->Field(1));
    Press(Qt::Key_Left);
    EXPECT_EQ(QApplication::focusWidget(), control->Field(0));

    // A letter is no digit; '.' in a blank field does not skip it.
    Press(Qt::Key_End);
    Type(QStringLiteral("a"));
    EXPECT_EQ(control->Field(3)->text(), QStringLiteral("100"));
    control->Field(2)->clear();
    control->FocusField(2, COptionTreeIPAddressCtrl::Caret::Start);
    Type(QStringLiteral("."));
    EXPECT_EQ(QApplication::focusWidget(), control->Field(2));
}

TEST_F(TreeTest, EscapeGivesBackTheAddressOfTheActivation) {
    ClickValue(m_ip);
    Type(QStringLiteral("10.1.1.1"));
    Press(Qt::Key_Escape);
    EXPECT_FALSE(m_ip->IsActivated());
    EXPECT_EQ(m_ip->GetAddressText(), QStringLiteral("192.168.1.100"));
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, m_ip), 1) << "the owner reads the old value again";
}

TEST_F(TreeTest, TabWalksTheValuesAndCommitsEachOnTheWay) {
    ClickValue(m_ip);
    Type(QStringLiteral("10.0.0.5"));
    Press(Qt::Key_Tab);
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, m_ip), 1);
    ASSERT_TRUE(m_netmask->IsActivated());
    Type(QStringLiteral("255.0.0.0"));
    Press(Qt::Key_Tab);
    EXPECT_TRUE(m_gateway->IsActivated());
    // The group row between has no value: Tab goes on to the port.
    Press(Qt::Key_Tab);
    EXPECT_TRUE(m_port->IsActivated());
    EXPECT_EQ(m_tree->GetFocusedItem(), m_port);
    Press(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(m_gateway->IsActivated());
    EXPECT_EQ(m_netmask->GetAddressText(), QStringLiteral("255.0.0.0"));
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, m_port), 1);

    // Past the last value the focus leaves the tree for the next control.
    ClickValue(m_name);
    Press(Qt::Key_Tab);
    EXPECT_FALSE(m_name->IsActivated());
    EXPECT_EQ(QApplication::focusWidget(), m_elsewhere);
}

// --- Spinner ------------------------------------------------------------------------------

TEST_F(TreeTest, SpinnerStepsStayInTheRangeOrWrap) {
    struct Case {
        const char* name;
        std::uint32_t options;
        double value;
        int direction;
        double expected;
    };
    const Case cases[] = {
        {"up inside", 0, 5, +1, 6},
        {"down inside", 0, 5, -1, 4},
        {"up at the maximum stays", 0, 10, +1, 10},
        {"down at the minimum stays", 0, 2, -1, 2},
        {"up at the maximum wraps", COptionTreeItemSpinner::OptionWrap, 10, +1, 2},
        {"down at the minimum wraps", COptionTreeItemSpinner::OptionWrap, 2, -1, 10},
        {"hundred steps", COptionTreeItemSpinner::OptionStep100, 2, +1, 2},
        {"typed above the range comes back", 0, 70, -1, 10},
        {"typed below the range comes back", COptionTreeItemSpinner::OptionWrap, -5, -1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto* spinner = new COptionTreeItemSpinner;
        m_tree->InsertItem(spinner, m_converter);
        ASSERT_TRUE(spinner->CreateSpinnerItem(c.options, 0, 2, 10));
        spinner->SetValue(c.value);
        EXPECT_EQ(spinner->Step(c.direction), c.expected != c.value);
        EXPECT_EQ(spinner->GetValue(), c.expected);
        EXPECT_EQ(spinner->GetEditText(), QString::number(c.expected));
    }
}

TEST_F(TreeTest, SpinnerButtonsRepeatWhileHeldAndReportOnRelease) {
    ClickValue(m_port);
    COptionTreeSpinnerButton* button = m_port->GetButton();
    const QPoint up = button->UpRect().center();
    QTest::mouseClick(button, Qt::LeftButton, {}, up);
    EXPECT_EQ(m_port->GetValue(), 5001);
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, m_port), 1) << "the release reports at once";
    EXPECT_TRUE(m_port->IsActivated()) << "and the editor stays open";

    const int delay = button->style()->styleHint(QStyle::SH_SpinBox_ClickAutoRepeatThreshold);
    const int rate = button->style()->styleHint(QStyle::SH_SpinBox_ClickAutoRepeatRate);
    QTest::mousePress(button, Qt::LeftButton, {}, button->DownRect().center());
    QTest::qWait(delay + 3 * rate + rate / 2);
    QTest::mouseRelease(button, Qt::LeftButton, {}, button->DownRect().center());
    EXPECT_LE(m_port->GetValue(), 5001 - 1 - 2) << "held, the button steps again and again";
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, m_port), 2);
    const double released = m_port->GetValue();
    QTest::qWait(2 * rate);
    EXPECT_EQ(m_port->GetValue(), released) << "let go, it stops";

    // The keys step too; the edit keeps the focus through all of it.
    Press(Qt::Key_Up);
    EXPECT_EQ(m_port->GetValue(), released + 1);
    EXPECT_EQ(QApplication::focusWidget(), m_port->GetEdit());
}

TEST_F(TreeTest, SpinnerTakesOnlyNumberCharactersAndOnlyWhenTypingIsAllowed) {
    ClickValue(m_port);
    Type(QStringLiteral("5a8-0x,9"));
    EXPECT_EQ(m_port->GetEditText(), QStringLiteral("580,9"));
    EXPECT_EQ(m_port->GetValue(), 580.9);
    LeaveTree();

    auto* fixed = new COptionTreeItemSpinner;
    m_tree->InsertItem(fixed, m_converter);
    fixed->SetLabel(QStringLiteral("Fixed"));
    fixed->CreateSpinnerItem(0, 7, 0, 9);
    ClickValue(fixed);
    Type(QStringLiteral("3"));
    EXPECT_EQ(fixed->GetEditText(), QStringLiteral("7"));
    Press(Qt::Key_Down);
    EXPECT_EQ(fixed->GetEditText(), QStringLiteral("6"));
}

TEST_F(TreeTest, SpinnerContextMenuOffersOnlyWhatCanBeDone) {
    QApplication::clipboard()->setText(QStringLiteral("42"));
    ClickValue(m_port);
    m_port->GetEdit()->selectAll();
    std::unique_ptr<QMenu> menu(m_port->GetEdit()->CreateContextMenu());
    int enabled = 0;
    for (const QAction* action : menu->actions())
        enabled += !action->isSeparator() && action->isEnabled() ? 1 : 0;
    EXPECT_EQ(enabled, 5) << "all but Undo while nothing was typed";

    auto* fixed = new COptionTreeItemSpinner;
    m_tree->InsertItem(fixed, m_converter);
    fixed->CreateSpinnerItem(0, 7, 0, 9);
    fixed->GetEdit()->selectAll();
    std::unique_ptr<QMenu> fixedMenu(fixed->GetEdit()->CreateContextMenu());
    enabled = 0;
    for (const QAction* action : fixedMenu->actions())
        enabled += !action->isSeparator() && action->isEnabled() ? 1 : 0;
    EXPECT_EQ(enabled, 1) << "only Copy without typing";
}

// --- Combo box ----------------------------------------------------------------------------

TEST_F(TreeTest, EveryChoiceReachesTheOwnerAtOnceAndTheCommitFollows) {
    m_system->SetCurSel(0);
    EXPECT_TRUE(m_notes.empty()) << "a choice set by the owner is not reported back";

    ClickValue(m_system);
    QComboBox* combo = m_system->GetCombo();
    ASSERT_EQ(QApplication::focusWidget(), combo);
    Press(Qt::Key_Down);
    QApplication::processEvents();
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, m_system), 1);
    EXPECT_EQ(m_system->GetCurSel(), 1);
    EXPECT_TRUE(m_system->IsActivated()) << "the list stays open for more";
    Press(Qt::Key_Down);
    QApplication::processEvents();
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, m_system), 2);
    EXPECT_EQ(m_system->GetItemData(m_system->GetCurSel()).toInt(), 2);

    LeaveTree();
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, m_system), 3) << "leaving commits as well";
    EXPECT_FALSE(combo->isVisible());
}

TEST_F(TreeTest, ComboChoiceFromTheOpenListIsReported) {
    ClickValue(m_system);
    QComboBox* combo = m_system->GetCombo();
    combo->showPopup();
    QWidget* popup = QApplication::activePopupWidget();
    ASSERT_NE(popup, nullptr);
    Press(Qt::Key_Down);
    Press(Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(m_system->GetCurSel(), 2);
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, m_system), 1);
    EXPECT_TRUE(m_system->IsActivated()) << "the open list belongs to the editor";
}

// --- Keyboard in the rows -----------------------------------------------------------------

TEST_F(TreeTest, ArrowKeysMoveTheFocusAndFoldTheGroups) {
    m_tree->GetList()->setFocus();
    Press(Qt::Key_Down);
    EXPECT_EQ(m_tree->GetFocusedItem(), m_network);
    Press(Qt::Key_Down);
    EXPECT_EQ(m_tree->GetFocusedItem(), m_ip);
    EXPECT_TRUE(m_ip->IsSelected());
    EXPECT_EQ(Count(OT_NOTIFY_SELCHANGE), 2);
    Press(Qt::Key_Left); // a row without children hands over to its group
    EXPECT_EQ(m_tree->GetFocusedItem(), m_network);
    Press(Qt::Key_Left);
    EXPECT_FALSE(m_network->IsExpanded());
    EXPECT_EQ(Count(OT_NOTIFY_ITEMEXPANDING, m_network), 1);
    EXPECT_EQ(Count(OT_NOTIFY_CLICK, m_network), 1);
    Press(Qt::Key_Down);
    EXPECT_EQ(m_tree->GetFocusedItem(), m_converter) << "the folded rows are skipped";
    Press(Qt::Key_Home);
    Press(Qt::Key_Space);
    EXPECT_TRUE(m_network->IsExpanded());
    m_veto = OT_NOTIFY_ITEMEXPANDING;
    Press(Qt::Key_Space);
    EXPECT_TRUE(m_network->IsExpanded()) << "vetoed by the owner";
    Press(Qt::Key_End);
    EXPECT_EQ(m_tree->GetFocusedItem(), m_name);
    Press(Qt::Key_Return);
    EXPECT_TRUE(m_name->IsActivated());
}

TEST_F(TreeTest, ClickingTheExpandBoxFoldsAndTheLabelFocuses) {
    QTest::mouseClick(Viewport(), Qt::LeftButton, {}, m_network->GetExpandBoxRect().center());
    EXPECT_FALSE(m_network->IsExpanded());
    EXPECT_EQ(m_port->GetLocation().y(), 2 * m_tree->GetDefaultRowHeight())
        << "the converter rows move up";
    ClickLabel(m_converter);
    EXPECT_EQ(m_tree->GetFocusedItem(), m_converter);
    EXPECT_EQ(Count(OT_NOTIFY_ITEMBUTTONCLICK), 0) << "not for group rows";
    ClickLabel(m_port);
    EXPECT_EQ(Count(OT_NOTIFY_ITEMBUTTONCLICK, m_port), 1);
    EXPECT_FALSE(m_port->IsActivated());
}

TEST_F(TreeTest, FocusingARowOutOfSightScrollsAndUnfoldsIt) {
    m_tree->setGeometry(0, 0, 300, 120);
    m_converter->SetExpanded(false);
    m_tree->FocusItem(m_name);
    EXPECT_TRUE(m_converter->IsExpanded());
    const QRect view = m_tree->GetList()->viewport()->rect();
    EXPECT_TRUE(view.contains(m_name->GetValueRect())) << "bottom row scrolled into sight";
    EXPECT_TRUE(m_tree->GetList()->verticalScrollBar()->isVisible());
    m_tree->setGeometry(0, 0, 300, 300);
    EXPECT_FALSE(m_tree->GetList()->verticalScrollBar()->isVisible());
    EXPECT_EQ(m_network->GetLocation().y(), 0) << "everything fits: back to the top";
}

} // namespace
} // namespace qarn
