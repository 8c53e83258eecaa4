// The firmware update from the window: which converters are offered which image, the window
// locked while the transfer runs on its own thread, the progress bar, the result message, and the
// list emptied with discovery going on afterwards.

#include "MainWindowFixture.h"
#include "ui/controls/CTextProgressCtrl.h"

#include <ostream>

#include <QAction>
#include <QMenu>

namespace qarn::test {
namespace {

struct OfferCase {
    const char* name;
    uint32_t firmware;
    bool deaf;
    const char* caption; // empty: the caption is not checked
    bool offered;
};

// The case's name in test logs, instead of its bytes.
void PrintTo(const OfferCase& c, std::ostream* out) {
    *out << c.name;
}

class FirmwareOfferTest : public MainWindowTest, public ::testing::WithParamInterface<OfferCase> {};

// The build's images carry the versions 2.1.11.24 (149), 2.4.10.23 (150) and 3.2.62.11 (151).
INSTANTIATE_TEST_SUITE_P(
    Versions, FirmwareOfferTest,
    ::testing::Values(
        OfferCase{"TooOld", 1060300, false, "", false},
        OfferCase{"FirstImage", 2000000, false, "Update firmware to 2.1.11.24", true},
        OfferCase{"NewerThanTheFirstImage", 2029999, false, "Update firmware to 2.1.11.24", false},
        OfferCase{"SecondImage", 2030000, false, "Update firmware to 2.4.10.23", true},
        OfferCase{"AlreadyTheSecondImage", 2041023, false, "Update firmware to 2.4.10.23", false},
        OfferCase{"ThirdImage", 3000000, false, "Update firmware to 3.2.62.11", true},
        OfferCase{"WithoutEcho", 3000000, true, "", false},
        OfferCase{"TooNew", 6000000, false, "", false}),
    [](const ::testing::TestParamInfo<OfferCase>& info) { return std::string(info.param.name); });

TEST_P(FirmwareOfferTest, TheButtonOffersOnlyANewerImage) {
    const OfferCase& c = GetParam();
    if (c.deaf)
        m_echo.silent = {kFirstConverter};
    Converter(kFirstConverter, Extended(1, c.firmware));
    ClickRow(0);
    QAbstractButton* button = Button(QarnTeskConverterConfigDlg::kIdFirmware);
    EXPECT_EQ(button->isEnabled(), c.offered);
    if (*c.caption != '\0') {
        EXPECT_EQ(button->text(), QString::fromLatin1(c.caption));
    }
}

TEST_F(MainWindowTest, TheUpdateRunsOnItsOwnThreadWithTheWindowLocked) {
    Converter(kFirstConverter, Extended(1, 3010000));
    Converter(Ip(198, 18, 1, 2), Extended(2));
    ClickRow(RowOf(kFirstConverter));
    Click(QarnTeskConverterConfigDlg::kIdFirmware);
    EXPECT_TRUE(m_window->IsBusy());

    // After a quiet second for the other converters' answers the endpoint closes and the
    // transfer starts; the window goes on handling events meanwhile.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_transfer.WaitRunning(std::chrono::milliseconds(0)); }, 10000));
    EXPECT_FALSE(m_endpoint.open) << "the transfer needs the converter port";
    EXPECT_EQ(m_transfer.Engine(), FirmwareEngine::Sam4);
    EXPECT_EQ(m_transfer.Target(), "198.18.1.1");
    EXPECT_EQ(m_transfer.ImageSize(), kSam4ImageSize);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_window->ProgressBar()->DisplayText() == "Updating firmware: 42%"; }, 5000));

    for (unsigned id :
         {QarnTeskConverterConfigDlg::kIdWrite, QarnTeskConverterConfigDlg::kIdClose,
          QarnTeskConverterConfigDlg::kIdFirmware, QarnTeskConverterConfigDlg::kIdManualEntry})
        EXPECT_FALSE(Button(id)->isEnabled()) << id;
    EXPECT_FALSE(List()->isEnabled());
    // Neither closing nor another language ends the window while the update runs.
    m_window->close();
    QTest::keyClick(m_window.get(), Qt::Key_Escape);
    for (QAction* action : m_window->GetLanguageMenu()->actions())
        if (action->text() == QStringLiteral("DEU"))
            action->trigger();
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_TRUE(m_stored.empty());
    EXPECT_FALSE(m_window->StartFirmwareUpdate(kImageIdSam4)) << "one update at a time";

    m_transfer.Release(TransferVerdict::Done);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_endpoint.open; }, 5000));
    Settle();
    EXPECT_EQ(m_window->ProgressBar()->DisplayText(), QString());
    EXPECT_EQ(Model().rowCount(), 0) << "emptied; the converters come back with discovery";
    EXPECT_TRUE(m_window->IsBusy()) << "locked until the converter reports its new version";

    Converter(kFirstConverter, Extended(1, 3026211));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_window->IsBusy(); }, 5000));
    const std::vector<QString> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("The firmware update is complete")));
    EXPECT_TRUE(messages[0].contains(QStringLiteral("3.2.62.11"))) << messages[0].toStdString();
    EXPECT_TRUE(Button(QarnTeskConverterConfigDlg::kIdClose)->isEnabled());
    EXPECT_TRUE(List()->isEnabled());
    EXPECT_EQ(Cell(0, 3), QStringLiteral("3.2.62.11"));
    m_endpoint.sent.clear();
    for (int tick = 0; tick < 4; ++tick)
        m_window->OnDiscoveryTimer();
    EXPECT_FALSE(m_endpoint.sent.empty()) << "discovery goes on";
}

TEST_F(MainWindowTest, AFailedUpdateSaysItCanBeStartedAgain) {
    Converter(kFirstConverter, Extended(1, 2000000));
    ClickRow(0);
    Click(QarnTeskConverterConfigDlg::kIdFirmware);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_transfer.WaitRunning(std::chrono::milliseconds(0)); }, 10000));
    EXPECT_EQ(m_transfer.Engine(), FirmwareEngine::Ltx);
    EXPECT_EQ(m_transfer.ImageSize(), kLtxImageSize);
    m_transfer.Release(TransferVerdict::Failed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_window->IsBusy(); }, 5000));
    const std::vector<QString> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("The firmware update failed")));
    EXPECT_TRUE(messages[0].contains(QStringLiteral("again")));
    EXPECT_TRUE(m_endpoint.open);
    EXPECT_EQ(Model().rowCount(), 0);
    EXPECT_TRUE(Button(QarnTeskConverterConfigDlg::kIdClose)->isEnabled());
}

// A transfer proves only that the bytes arrived: acknowledged or not, the version the converter
// reports once listed again decides, and the message names it.
TEST_F(MainWindowTest, AnUpdateIsDecidedByTheVersionTheConverterReportsAfterwards) {
    struct Case {
        const char* name;
        TransferVerdict verdict;
        bool tookIt;
    };
    for (const Case& c : {Case{"AcknowledgedAndTaken", TransferVerdict::Done, true},
                          Case{"AcknowledgedButOldFirmware", TransferVerdict::Done, false},
                          Case{"UnconfirmedAndTaken", TransferVerdict::Unconfirmed, true},
                          Case{"UnconfirmedAndOldFirmware", TransferVerdict::Unconfirmed, false}}) {
        SCOPED_TRACE(c.name);
        const uint32_t before = 3010000;
        Converter(kFirstConverter, Extended(1, before));
        ClickRow(0);
        Click(QarnTeskConverterConfigDlg::kIdFirmware);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return m_transfer.WaitRunning(std::chrono::milliseconds(0)); }, 10000));
        m_transfer.Release(c.verdict);
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_endpoint.open; }, 5000));
        Settle();
        EXPECT_TRUE(m_window->IsBusy()) << "locked until the converter tells";
        EXPECT_TRUE(TakeMessages().empty());

        Converter(kFirstConverter, Extended(1, c.tookIt ? 3026211 : before));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !m_window->IsBusy(); }, 5000));
        const std::vector<QString> messages = TakeMessages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].startsWith(QStringLiteral("The firmware update is complete")),
                  c.tookIt)
            << messages[0].toStdString();
        EXPECT_EQ(messages[0].startsWith(QStringLiteral("The firmware update did not take effect")),
                  !c.tookIt)
            << messages[0].toStdString();
        EXPECT_TRUE(messages[0].contains(QString::fromLatin1(c.tookIt ? "3.2.62.11" : "3.1.0.0")))
            << messages[0].toStdString();
        m_transfer.Reset();
    }
}

class PlaceholderImagesTest : public MainWindowTest {
  protected:
    void SetUp() override {
        m_services.placeholderImages = true;
        MainWindowTest::SetUp();
    }
};

TEST_F(PlaceholderImagesTest, PlaceholderImagesAreNotOfferedWithoutLeave) {
    Converter(kFirstConverter, Extended(1, 3000000));
    ClickRow(0);
    QAbstractButton* button = Button(QarnTeskConverterConfigDlg::kIdFirmware);
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(button->toolTip().contains(QStringLiteral("--allow-placeholder-images")));
}

} // namespace
} // namespace qarn::test
