// The rows whose editors choose rather than type: check box, radio buttons, colour and image
// pop-ups, the file dialog, the date edit and the hyperlink, plus the multi-line edit's Enter.
// Each as a user meets it: what one click does, what the owner hears, what the row shows.

#include "app/QarnPlonResourceHelper.h"
#include "gui/controls/OptionTreeFixture.h"
#include "ui/controls/COptionTreeItemCheckBox.h"
#include "ui/controls/COptionTreeItemColor.h"
#include "ui/controls/COptionTreeItemDate.h"
#include "ui/controls/COptionTreeItemFile.h"
#include "ui/controls/COptionTreeItemHyperLink.h"
#include "ui/controls/COptionTreeItemImage.h"
#include "ui/controls/COptionTreeItemRadio.h"
#include "ui/controls/COptionTreeRadioButton.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDesktopServices>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QUrl>

namespace qarn::test {

// Receives the links the tree opens instead of the desktop's browser.
class LinkCatcher : public QObject {
    Q_OBJECT

  public:
    QList<QUrl> opened;

  public slots:
    void Open(const QUrl& url) { opened.append(url); }
};

namespace {

class ChoiceTest : public TreeTest {
  protected:
    void SetUp() override {
        TreeTest::SetUp();
        m_network->SetExpanded(false); // room for the rows below
    }

    template <typename Item>
    Item* Add(const char* label) {
        auto* item = new Item;
        m_tree->InsertItem(item, m_converter);
        item->SetLabel(QString::fromLatin1(label));
        return item;
    }

    // The tree's pop-ups report after they closed; the events in between must run.
    static void Settle() {
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
    }
};

TEST_F(ChoiceTest, OneClickTogglesTheCheckBoxAndEachToggleIsReported) {
    auto* box = Add<COptionTreeItemCheckBox>("Check box");
    box->CreateCheckBoxItem(false);
    box->SetCheckText(QStringLiteral("On"), QStringLiteral("Off"));
    EXPECT_EQ(box->GetWindowText(), QStringLiteral("Off"));
    ClickValue(box);
    EXPECT_TRUE(box->GetCheck());
    EXPECT_EQ(box->GetWindowText(), QStringLiteral("On"));
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, box), 1);
    Press(Qt::Key_Space);
    EXPECT_FALSE(box->GetCheck());
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, box), 2);
    LeaveTree();
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, box), 3) << "and leaving commits";

    box->SetReadOnly(true);
    ClickValue(box);
    EXPECT_FALSE(box->GetCheck());
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, box), 3);
}

TEST_F(ChoiceTest, EveryClickOnARadioChoiceCommits) {
    auto* radio = Add<COptionTreeItemRadio>("Speed");
    radio->CreateRadioItem();
    for (const char* choice : {"9600", "19200", "38400"})
        radio->InsertNewRadio(QString::fromLatin1(choice), false);
    radio->CheckRadio(0);
    EXPECT_EQ(radio->GetItemHeight(), 3 * m_tree->GetDefaultRowHeight()) << "one line a choice";

    const QRect value = radio->GetValueRect();
    const int line = m_tree->GetDefaultRowHeight();
    auto clickLine = [&](int index) {
        QTest::mouseClick(Viewport(), Qt::LeftButton, {},
                          QPoint(value.left() + 8, value.top() + index * line + line / 2));
    };
    clickLine(2);
    EXPECT_EQ(radio->GetCheckedRadio(), 2);
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, radio), 1);
    EXPECT_FALSE(radio->IsActivated()) << "the click commits and closes";
    clickLine(2);
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, radio), 2) << "even the same choice again";

    // By keyboard: Enter opens, the arrows move the check, Enter commits.
    m_tree->GetList()->setFocus();
    Press(Qt::Key_Return);
    ASSERT_TRUE(radio->IsActivated());
    Press(Qt::Key_Up);
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, radio), 2);
    Press(Qt::Key_Return);
    EXPECT_EQ(radio->GetCheckedRadio(), 1);
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, radio), 3);
}

TEST_F(ChoiceTest, TheColourPopUpPicksOrLeavesTheColourAndCommitsOnce) {
    auto* colour = Add<COptionTreeItemColor>("Colour");
    colour->CreateColorItem(0, QColor(0x33, 0x66, 0xFF), Qt::black);
    EXPECT_EQ(colour->GetColorText(), QStringLiteral("RGB (51, 102, 255)"));
    ClickValue(colour);
    QWidget* popup = QApplication::activePopupWidget();
    ASSERT_NE(popup, nullptr);
    QTest::mouseClick(popup->findChild<QWidget*>(QStringLiteral("colour_ff0000")), Qt::LeftButton);
    Settle();
    EXPECT_EQ(colour->GetColor(), QColor(Qt::red));
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, colour), 1);

    ClickValue(colour);
    popup = QApplication::activePopupWidget();
    ASSERT_NE(popup, nullptr);
    QTest::keyClick(popup, Qt::Key_Escape);
    Settle();
    EXPECT_EQ(colour->GetColor(), QColor(Qt::red));
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, colour), 2) << "closed without a pick: unchanged";
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    auto* hex = Add<COptionTreeItemColor>("Hex");
    hex->CreateColorItem(COptionTreeItemColor::OptionHex, QColor(0x12, 0x34, 0x56), Qt::black);
    EXPECT_EQ(hex->GetColorText(), QStringLiteral("#123456")) << "red first, as written on the web";
}

TEST_F(ChoiceTest, TheImagePopUpPicksAnImage) {
    auto* image = Add<COptionTreeItemImage>("State");
    image->CreateImageItem(COptionTreeItemImage::OptionShowText);
    for (const QColor colour : {QColor(Qt::green), QColor(Qt::yellow), QColor(Qt::red)}) {
        QPixmap pixmap(16, 16);
        pixmap.fill(colour);
        image->AddImage(pixmap, colour.name());
    }
    image->SetSelection(0);
    ClickValue(image);
    QWidget* popup = QApplication::activePopupWidget();
    ASSERT_NE(popup, nullptr);
    QTest::mouseClick(popup->findChild<QWidget*>(QStringLiteral("image_2")), Qt::LeftButton);
    Settle();
    EXPECT_EQ(image->GetSelection(), 2);
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, image), 1);
}

TEST_F(ChoiceTest, TheFileDialogReplacesThePathsAndCommits) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString report = folder.filePath(QStringLiteral("report.final.txt"));
    QFile(report).open(QIODevice::WriteOnly);
    auto* file = Add<COptionTreeItemFile>("File");
    file->CreateFileItem(0, {folder.filePath(QStringLiteral("old.txt"))});
    ClickValue(file);
    QFileDialog* dialog = file->GetDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir(folder.path()).canonicalPath())
        << "it opens where the current file lies";
    dialog->selectFile(report);
    static_cast<QDialog*>(dialog)->accept(); // as the Open button does
    Settle();
    ASSERT_EQ(file->GetPaths().size(), 1);
    EXPECT_EQ(QFileInfo(file->GetPaths().first()).fileName(), QStringLiteral("report.final.txt"));
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, file), 1);

    ClickValue(file);
    ASSERT_NE(file->GetDialog(), nullptr);
    file->GetDialog()->reject();
    Settle();
    EXPECT_EQ(QFileInfo(file->GetPaths().first()).fileName(), QStringLiteral("report.final.txt"));
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, file), 2) << "cancelled: unchanged, still committed";

    struct Shown {
        std::uint32_t options;
        const char* text;
    };
    for (const Shown shown : {Shown{COptionTreeItemFile::OptionShowFileName, "report.final.txt"},
                              Shown{COptionTreeItemFile::OptionShowFileTitle, "report.final"}}) {
        auto* row = Add<COptionTreeItemFile>("Shown");
        row->CreateFileItem(shown.options, {report, folder.filePath(QStringLiteral("b.bin"))});
        EXPECT_EQ(row->GetDisplayText(),
                  QString::fromLatin1(shown.text) + QStringLiteral("; ") +
                      (shown.options == COptionTreeItemFile::OptionShowFileName
                           ? QStringLiteral("b.bin")
                           : QStringLiteral("b")));
    }
}

TEST_F(ChoiceTest, TheDateStepsWithTheKeysAndEscapeGivesItBack) {
    auto* date = Add<COptionTreeItemDate>("Installed on");
    date->CreateDateItem(0, QStringLiteral("yyyy-MM-dd"));
    date->SetDate(QDateTime(QDate(2024, 5, 17), QTime(0, 0)));
    EXPECT_EQ(date->GetWindowText(), QStringLiteral("2024-05-17"));
    ClickValue(date);
    ASSERT_TRUE(date->IsActivated());
    Press(Qt::Key_Up); // the year section is first
    EXPECT_EQ(date->GetWindowText(), QStringLiteral("2025-05-17"));
    Press(Qt::Key_Escape);
    EXPECT_EQ(date->GetWindowText(), QStringLiteral("2024-05-17"));
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, date), 1);
}

TEST_F(ChoiceTest, AMultiLineEditKeepsEnterForItsLinesWhenAskedTo) {
    auto* notes = Add<COptionTreeItemEdit>("Notes");
    notes->CreateEditItem(COptionTreeItemEdit::OptionMultiline |
                          COptionTreeItemEdit::OptionWantReturn);
    auto* plain = Add<COptionTreeItemEdit>("Comment");
    plain->CreateEditItem(COptionTreeItemEdit::OptionMultiline);
    ClickValue(notes);
    Type(QStringLiteral("a"));
    Press(Qt::Key_Return);
    Type(QStringLiteral("b"));
    EXPECT_TRUE(notes->IsActivated());
    EXPECT_EQ(notes->GetEditText(), QStringLiteral("a\nb"));
    ClickValue(plain);
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, notes), 1);
    Type(QStringLiteral("c"));
    Press(Qt::Key_Return);
    EXPECT_FALSE(plain->IsActivated());
    EXPECT_EQ(plain->GetEditText(), QStringLiteral("c"));
}

TEST_F(ChoiceTest, ALinkOpensOnClickAndShowsTheHandFromTheBundle) {
    LinkCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("qarn-test"), &catcher, "Open");
    auto* link = Add<COptionTreeItemHyperLink>("Manual");
    link->CreateHyperLinkItem(QStringLiteral("Installation manual"),
                              QUrl(QStringLiteral("qarn-test:manual")));
    ClickValue(link);
    QDesktopServices::unsetUrlHandler(QStringLiteral("qarn-test"));
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened.first(), QUrl(QStringLiteral("qarn-test:manual")));
    EXPECT_TRUE(link->IsVisited());
    EXPECT_EQ(Count(OT_NOTIFY_ITEMCHANGED, link), 0) << "a link has no value to commit";

    // The cursors come from the language bundle: 143 over the link, 142 on the column line.
    QarnPlonResourceHelper bundles(QARN_BUNDLE_DIR);
    ASSERT_TRUE(bundles.Load("ENU"));
    QTest::mouseMove(Viewport(), link->GetValueRect().center());
    EXPECT_EQ(Viewport()->cursor().shape(), Qt::BitmapCursor);
    const QPixmap hand = Viewport()->cursor().pixmap();
    QTest::mouseMove(Viewport(),
                     QPoint(m_tree->GetColumnWidth(), m_port->GetValueRect().center().y()));
    EXPECT_EQ(Viewport()->cursor().shape(), Qt::BitmapCursor);
    EXPECT_NE(Viewport()->cursor().pixmap().toImage(), hand.toImage());
    bundles.Unload();
    QTest::mouseMove(Viewport(), link->GetValueRect().center());
    EXPECT_EQ(Viewport()->cursor().shape(), Qt::PointingHandCursor) << "without a bundle: Qt's";
}

} // namespace
} // namespace qarn::test

#include "COptionTreeChoiceItemsTest.moc"
