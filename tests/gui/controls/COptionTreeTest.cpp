// The property tree as its owner and its user meet it: the notifications an owner gets for
// clicks, keys and commits, the column clamp, item ids, insertion, folding, scrolling, and the
// walk from value to value with Tab.

#include "app/QarnPlonResourceHelper.h"
#include "gui/controls/OptionTreeFixture.h"
#include "ui/controls/COptionTreeIPAddressCtrl.h"
#include "ui/controls/COptionTreeInfo.h"
#include "ui/controls/COptionTreeItemStatic.h"
#include "ui/controls/COptionTreeSpinnerButton.h"

#include <memory>

#include <QDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace qarn::test {
namespace {

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

TEST(TreeDialogTest, EnterAmongTheRowsNeverPressesTheDialogsDefaultButton) {
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    auto* tree = new COptionTree(&dialog);
    auto* write = new QPushButton(QStringLiteral("Write"));
    write->setDefault(true);
    layout->addWidget(tree);
    layout->addWidget(write);
    int writes = 0;
    QObject::connect(write, &QPushButton::clicked, [&writes] { ++writes; });
    auto* group = tree->InsertItem(new COptionTreeItem);
    auto* name = new COptionTreeItemEdit;
    tree->InsertItem(name, group);
    name->CreateEditItem();
    tree->ExpandAllItems();
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    tree->GetList()->setFocus();
    QTest::keyClick(tree->GetList(), Qt::Key_Return); // nothing focused yet
    tree->FocusItem(group);
    QTest::keyClick(tree->GetList(), Qt::Key_Return);
    tree->FocusItem(name);
    QTest::keyClick(tree->GetList(), Qt::Key_Return);
    ASSERT_TRUE(name->IsActivated());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_FALSE(name->IsActivated());
    EXPECT_EQ(writes, 0);
    EXPECT_TRUE(dialog.isVisible());
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

TEST_F(TreeTest, DoubleClickOnTheColumnLineFitsTheWidestLabel) {
    m_ip->SetLabel(QStringLiteral("A rather long label for the address"));
    const int line = m_tree->GetColumnWidth();
    QTest::mouseDClick(Viewport(), Qt::LeftButton, {},
                       QPoint(line, m_port->GetValueRect().center().y()));
    const QFontMetrics metrics(m_tree->GetNormalFont());
    EXPECT_EQ(m_tree->GetColumnWidth(), m_ip->GetLabelRect().left() + 2 * m_tree->GetMargin() +
                                            metrics.horizontalAdvance(m_ip->GetLabel()));

    // Never so wide that no value is left.
    m_ip->SetLabel(QString(200, QLatin1Char('W')));
    QTest::mouseDClick(Viewport(), Qt::LeftButton, {},
                       QPoint(m_tree->GetColumnWidth(), m_port->GetValueRect().center().y()));
    EXPECT_EQ(m_tree->GetColumnWidth(), Viewport()->width() - 25);
}

TEST_F(TreeTest, DoubleClicksOnRowsFoldGroupsAndReportLeaves) {
    QTest::mouseDClick(Viewport(), Qt::LeftButton, {}, m_converter->GetLabelRect().center());
    EXPECT_FALSE(m_converter->IsExpanded());
    EXPECT_EQ(Count(OT_NOTIFY_CLICK, m_converter), 1);
    QTest::mouseDClick(Viewport(), Qt::LeftButton, {}, m_netmask->GetLabelRect().center());
    EXPECT_EQ(Count(OT_NOTIFY_LABELDBLCLICK, m_netmask), 1);
    QTest::mouseDClick(Viewport(), Qt::LeftButton, {}, m_netmask->GetValueRect().center());
    EXPECT_EQ(Count(OT_NOTIFY_DBLCLICK, m_netmask), 1);
}

TEST(TreeInfoTest, TheInfoPaneExplainsTheFocusedRowAsTheOptionsSay) {
    QarnPlonResourceHelper bundles(QARN_BUNDLE_DIR);
    ASSERT_TRUE(bundles.Load("ENU"));
    struct Case {
        const char* name;
        std::uint32_t options;
        bool focused;
        const char* label;
        const char* info;
    };
    const Case cases[] = {
        {"focused row", COptionTree::OptionShowInfo, true, "Port", "The UDP port."},
        {"no row", COptionTree::OptionShowInfo, false, "", ""},
        {"no row, fixed texts", COptionTree::OptionShowInfo | COptionTree::OptionDefaultInfoText,
         false, "No setting selected", "Click a row to see what the setting means."},
        {"one text", COptionTree::OptionShowInfo | COptionTree::OptionInfoSingleText, true, "",
         "Port: The UDP port."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        COptionTree tree(nullptr, c.options);
        auto* row = tree.InsertItem(new COptionTreeItem);
        row->SetLabel(QStringLiteral("Port"));
        row->SetInfo(QStringLiteral("The UDP port."));
        if (c.focused)
            tree.FocusItem(row);
        EXPECT_EQ(tree.GetInfo()->ShownLabel(), QString::fromUtf8(c.label));
        EXPECT_EQ(tree.GetInfo()->ShownInfo(), QString::fromUtf8(c.info));
    }
    COptionTree bare(nullptr, 0);
    bare.resize(200, 200);
    bare.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bare));
    EXPECT_TRUE(bare.GetInfo()->isHidden()) << "without the option there is no pane";
    EXPECT_EQ(bare.GetList()->height(), 200);
    bundles.Unload();
}

} // namespace
} // namespace qarn::test
