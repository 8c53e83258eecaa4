// The editors of the rows, driven as a user drives them: the IP address typed field by field,
// the spinner's buttons, keys and menu, the combo box's choices, the masked edit.

#include "gui/controls/OptionTreeFixture.h"
#include "ui/controls/COptionTreeIPAddressCtrl.h"
#include "ui/controls/COptionTreeIPAddressEdit.h"
#include "ui/controls/COptionTreeItemMaskedEdit.h"
#include "ui/controls/COptionTreeSpinnerButton.h"
#include "ui/controls/COptionTreeSpinnerEdit.h"
#include "ui/controls/CmEdit.h"

#include <memory>

#include <QClipboard>
#include <QComboBox>
#include <QMenu>
#include <QStyle>

namespace qarn::test {
namespace {

const QString kMacMask =
    QStringLiteral("[0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef] "
                   "[0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef]");

COptionTreeItemMaskedEdit* AddMasked(COptionTree* tree, COptionTreeItem* parent,
                                     const QString& label, const QString& mask,
                                     const QString& text) {
    auto* item = new COptionTreeItemMaskedEdit;
    tree->InsertItem(item, parent);
    item->SetLabel(label);
    item->CreateMaskedEditItem();
    item->SetMask(mask);
    item->SetEditText(text);
    return item;
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

// --- Masked edit -------------------------------------------------------------------------

TEST_F(TreeTest, TheMacAddressIsTypedPairByPairAndReadWithoutBlanks) {
    auto* mac = AddMasked(m_tree, m_network, QStringLiteral("MAC address"), kMacMask,
                          QStringLiteral("00 00 00 00 00 00"));
    EXPECT_EQ(mac->GetWindowText(), QStringLiteral("00 00 00 00 00 00"));
    ClickValue(mac);
    ASSERT_EQ(QApplication::focusWidget(), mac->GetEdit());
    Type(QStringLiteral("0020A4a90X1234")); // upper case and 'X' fit no position
    EXPECT_EQ(mac->GetWindowText(), QStringLiteral("00 20 4a 90 12 34"));
    Press(Qt::Key_Return);
    EXPECT_FALSE(mac->IsActivated());
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, mac), 1);
    EXPECT_EQ(mac->GetInputText(), QStringLiteral("00204a901234"));
}

TEST_F(TreeTest, TheLetterShowsItsPromptAndAReadOnlyLetterStaysShut) {
    auto* letter =
        AddMasked(m_tree, m_converter, QStringLiteral("Letter"), QStringLiteral("[!-z]"), {});
    EXPECT_EQ(letter->GetWindowText(), QStringLiteral("_"));
    ClickValue(letter);
    Type(QStringLiteral("Q"));
    LeaveTree();
    EXPECT_EQ(letter->GetInputText(), QStringLiteral("Q"));
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, letter), 1);

    letter->SetReadOnly(true); // the system type "rilo" has no letter
    ClickValue(letter);
    EXPECT_FALSE(letter->IsActivated());
    EXPECT_FALSE(letter->GetEdit()->isVisible());
}

TEST_F(TreeTest, EscapeGivesBackAHalfFilledMaskExactly) {
    auto* mac = AddMasked(m_tree, m_network, QStringLiteral("MAC address"), kMacMask,
                          QStringLiteral("00 1a 2b 3c 4d 5e"));
    mac->GetEdit()->setSelection(3, 1);
    QTest::keyClick(mac->GetEdit(), Qt::Key_Delete);
    ASSERT_EQ(mac->GetWindowText(), QStringLiteral("00 _a 2b 3c 4d 5e"));
    ClickValue(mac);
    Type(QStringLiteral("ffff"));
    Press(Qt::Key_Escape);
    EXPECT_EQ(mac->GetWindowText(), QStringLiteral("00 _a 2b 3c 4d 5e"));
    EXPECT_EQ(mac->GetInputText(), QStringLiteral("00a2b3c4d5e"));
}

TEST_F(TreeTest, TheCoordinatePadTypesIntoTheMaskWhileTheRowIsOpen) {
    COptionTree tree(nullptr, COptionTree::OptionCoordinatePad);
    tree.resize(300, 120);
    auto* position = AddMasked(&tree, nullptr, {}, {}, {});
    auto* row = AddMasked(&tree, position, QStringLiteral("Position"),
                          QStringLiteral("[0-9][0-9] [NS] [0-9][0-9] [EW]"), {});
    tree.ExpandAllItems();
    tree.show();
    QApplication::setActiveWindow(&tree);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&tree));
    QTest::mouseClick(tree.GetList()->viewport(), Qt::LeftButton, {}, row->GetValueRect().center());
    ASSERT_TRUE(row->IsActivated());
    auto* pad = row->GetEdit()->findChild<QWidget*>(QStringLiteral("coordinatePad"));
    ASSERT_NE(pad, nullptr);
    EXPECT_TRUE(pad->isVisible());
    auto press = [pad](const char* key) {
        QTest::mouseClick(pad->findChild<QWidget*>(QString::fromLatin1(key)), Qt::LeftButton);
    };
    for (const char* key : {"key_4", "key_6", "key_N", "key_1", "key_5", "key_E"})
        press(key);
    EXPECT_EQ(row->GetWindowText(), QStringLiteral("46 N 15 E"));
    press("key_X"); // the caret went back to the first field, which 'X' empties
    EXPECT_EQ(row->GetWindowText(), QStringLiteral("__ N 15 E"));
    EXPECT_EQ(QApplication::focusWidget(), row->GetEdit()) << "the pad never takes the focus";
    QTest::keyClick(row->GetEdit(), Qt::Key_Return);
    EXPECT_FALSE(pad->isVisible());
}

} // namespace
} // namespace qarn::test
