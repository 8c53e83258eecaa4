// The window in every language: the longest texts must still lay out, so each help text of the
// editor fits the pane that shows it, the buttons and headings need no more room than the window
// has, and a converter's row fits the list without scrolling sideways.

#include "MainWindowFixture.h"
#include "app/Resources.h"
#include "ui/controls/COptionTreeInfo.h"

#include <QFontMetrics>
#include <QScrollBar>

namespace qarn::test {
namespace {

class LanguageLayoutTest : public MainWindowTest,
                           public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override {
        s_bundle->Unload();
        ASSERT_TRUE(s_bundle->Load(GetParam()));
        m_services.language = GetParam();
        MainWindowTest::SetUp();
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        s_bundle->Unload();
        ASSERT_TRUE(s_bundle->Load("ENU"));
    }
};

INSTANTIATE_TEST_SUITE_P(EveryLanguage, LanguageLayoutTest,
                         ::testing::Values("DEU", "ENU", "ESP", "FRA", "ITA", "POR", "RUS", "SLV"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

TEST_P(LanguageLayoutTest, EveryHelpTextFitsThePaneBelowTheSettings) {
    Converter(kFirstConverter, Extended(1, 2040903)); // the full view, with the second port
    ClickRow(0);
    ASSERT_TRUE(m_window->IsEditorShown());
    const COptionTree& tree = *Editor().Tree();
    const COptionTreeInfo& pane = *tree.GetInfo();
    // Where the pane writes its help text: below the label, inside its margins.
    const int margin = tree.GetMargin();
    QRect room = pane.contentsRect().adjusted(margin, margin / 2, -margin, -margin / 2);
    room.setTop(room.top() + QFontMetrics(tree.GetBoldFont()).height());
    const QFontMetrics metrics(tree.GetNormalFont());
    const auto needed = [&](const QString& text) {
        return metrics
            .boundingRect(QRect(0, 0, room.width(), 10000),
                          Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text)
            .height();
    };
    for (const unsigned id : {16039u, 16041u, 16043u, 16045u, 16047u, 16049u, 16053u, 16033u}) {
        SCOPED_TRACE(id);
        EXPECT_LE(needed(ResourceString(id)), room.height()) << ResourceString(id).toStdString();
    }
    const QString manual = FormatText(ResourceString(16031), {ResourceString(16052)});
    EXPECT_LE(needed(manual), room.height()) << manual.toStdString();
}

TEST_P(LanguageLayoutTest, TheWindowHasRoomForItsTextsAndAConvertersRow) {
    EXPECT_LE(m_window->minimumSizeHint().width(), m_window->width());
    EXPECT_LE(m_window->minimumSizeHint().height(), m_window->height());
    for (const unsigned id :
         {QarnTeskConverterConfigDlg::kIdWrite, QarnTeskConverterConfigDlg::kIdClose,
          QarnTeskConverterConfigDlg::kIdManualEntry}) {
        const QAbstractButton* button = Button(id);
        EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
    }
    AnswerSettings s = Extended(1, 2041023);
    s.serial = "76290400001234";
    Converter(Ip(198, 18, 100, 200), s);
    QApplication::processEvents();
    QHeaderView* h = List()->horizontalHeader();
    EXPECT_FALSE(List()->horizontalScrollBar()->isVisible())
        << "a row fits without scrolling " << h->sectionSize(0) << " " << h->sectionSize(1) << " "
        << h->sectionSize(2) << " " << h->sectionSize(3) << " in " << List()->viewport()->width()
        << " window " << m_window->width();
}

} // namespace
} // namespace qarn::test
