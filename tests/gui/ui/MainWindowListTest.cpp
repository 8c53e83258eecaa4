// The device list as the user sees it in the window: rows and their texts, colours, sorting by a
// click on a heading with its mark, the selection through changes of the list, age-out, the
// language menu, and closing.

#include "MainWindowFixture.h"

#include <QAction>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>

namespace qarn::test {
namespace {

TEST_F(MainWindowTest, ListsEachConverterWithItsTextsInBlackOrRed) {
    const uint32_t complete = Ip(198, 18, 1, 1), deaf = Ip(198, 18, 1, 2),
                   waiting = Ip(198, 18, 1, 3);
    m_echo.silent = {deaf};
    Converter(complete, Extended(1, 3026211));
    Converter(deaf, Extended(2));
    // A standard converter that answers with blocks; only the serial-number block so far:
    // reachable, but its answers are not all in.
    ASSERT_EQ(Answer(waiting, SerialBlock("73881299990003")), AnswerDisposition::Applied);

    ASSERT_EQ(Model().rowCount(), 3);
    const int row = RowOf(complete);
    EXPECT_EQ(Cell(row, 0), QStringLiteral("198.18.1.1"));
    EXPECT_EQ(Cell(row, 1), QStringLiteral("00 20 4a 11 22 01"));
    EXPECT_EQ(Cell(row, 2), QStringLiteral("731458-0001-2345"));
    EXPECT_EQ(Cell(row, 3), QStringLiteral("3.2.62.11"));
    EXPECT_EQ(Colour(row), QColor(0, 0, 0));
    EXPECT_EQ(Colour(RowOf(deaf)), QColor(255, 0, 0)) << "does not answer echo";
    EXPECT_EQ(Colour(RowOf(waiting)), QColor(255, 0, 0)) << "answers incomplete";
    EXPECT_EQ(Cell(RowOf(waiting), 2), QStringLiteral("738812-9999-0003"));

    // The rest of its answers make it black.
    Answer(waiting, VersionBlock("2.1.11.20"));
    Answer(waiting, MacBlock({0x02, 0x51, 0, 0, 0, 3}));
    Answer(waiting, BlockAnswer(0xD0, 60));
    EXPECT_EQ(Colour(RowOf(waiting)), QColor(0, 0, 0));
    EXPECT_EQ(Cell(RowOf(waiting), 3), QStringLiteral("2.1.11.20"));
}

TEST_F(MainWindowTest, HeadingClicksSortTheListAndMoveTheMark) {
    // The address reads with its last octet weighing most: 10.0.1.1 before 10.0.0.2.
    Converter(Ip(10, 0, 0, 2), Extended(1, 2040903));
    Converter(Ip(10, 0, 1, 1), Extended(2, 3010000));
    Converter(Ip(10, 0, 0, 3), Extended(3, 2000000));
    QHeaderView* header = List()->horizontalHeader();
    const auto order = [&] {
        QStringList cells;
        for (int row = 0; row < Model().rowCount(); ++row)
            cells << Cell(row, 0);
        return cells.join(u' ');
    };
    EXPECT_EQ(order(), QStringLiteral("10.0.1.1 10.0.0.2 10.0.0.3"));
    EXPECT_EQ(header->sortIndicatorSection(), 0);
    // Qt draws the ascending order with the down-pointing mark.
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);

    ClickHeader(0);
    EXPECT_EQ(order(), QStringLiteral("10.0.0.3 10.0.0.2 10.0.1.1"));
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);

    ClickHeader(3);
    EXPECT_EQ(order(), QStringLiteral("10.0.0.3 10.0.0.2 10.0.1.1")) << "by firmware version";
    EXPECT_EQ(header->sortIndicatorSection(), 3);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
    ClickHeader(3);
    EXPECT_EQ(order(), QStringLiteral("10.0.1.1 10.0.0.2 10.0.0.3"));
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);

    // A newcomer takes its place in the order at once.
    Converter(Ip(10, 0, 0, 9), Extended(9, 2500000));
    EXPECT_EQ(order(), QStringLiteral("10.0.1.1 10.0.0.9 10.0.0.2 10.0.0.3"));
}

TEST_F(MainWindowTest, TheSelectionStaysWithItsConverterWhileRowsComeAndGo) {
    for (uint8_t n : {5, 7, 9})
        Converter(Ip(198, 18, 1, n), Extended(n));
    ClickRow(RowOf(Ip(198, 18, 1, 7)));
    ASSERT_EQ(m_window->Working().dwSourceIp, Ip(198, 18, 1, 7));

    // New rows sort in before it, an old one ages out behind it.
    m_now += 15;
    for (uint8_t n : {1, 2, 3, 7})
        Converter(Ip(198, 18, 1, n), Extended(n));
    m_now += 10;
    m_window->OnDiscoveryTimer();
    ASSERT_EQ(RowOf(Ip(198, 18, 1, 9)), -1) << "aged out";
    const QModelIndexList selected = List()->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(Cell(selected.first().row(), 0), QStringLiteral("198.18.1.7"));
    EXPECT_TRUE(m_window->IsSelected());
    EXPECT_TRUE(Button(QarnTeskConverterConfigDlg::kIdWrite)->isEnabled());
}

TEST_F(MainWindowTest, WhenTheSelectedConverterGoesTheEditorHides) {
    Converter(kFirstConverter, Extended(1));
    ClickRow(0);
    m_window->OnSelectionTimer();
    EXPECT_TRUE(m_window->IsEditorShown());
    EXPECT_TRUE(Button(QarnTeskConverterConfigDlg::kIdWrite)->isEnabled());

    m_now += 21;
    m_window->OnDiscoveryTimer();
    m_window->OnSelectionTimer();
    EXPECT_EQ(Model().rowCount(), 0);
    EXPECT_FALSE(m_window->IsEditorShown());
    EXPECT_FALSE(Button(QarnTeskConverterConfigDlg::kIdWrite)->isEnabled());
    EXPECT_FALSE(Button(QarnTeskConverterConfigDlg::kIdFirmware)->isEnabled());
}

TEST_F(MainWindowTest, ColumnsAreAsWideAsTheirWidestText) {
    AnswerSettings s = Extended(1);
    s.serial = "WWWWWWWWWWWWWW";
    Converter(kFirstConverter, s);
    const QFontMetrics metrics(List()->font());
    for (int column = 0; column < 3; ++column) {
        SCOPED_TRACE(column);
        EXPECT_GE(List()->horizontalHeader()->sectionSize(column),
                  metrics.horizontalAdvance(Cell(0, column)));
    }
    EXPECT_GE(List()->horizontalHeader()->sectionSize(2),
              metrics.horizontalAdvance("WWWWWW-WWWW-WWWW"));
}

TEST_F(MainWindowTest, DiscoveryGoesOutAtTheFirstTickAndThenEveryFourth) {
    int requests = 0;
    for (int tick = 0; tick < 9; ++tick) {
        m_window->OnDiscoveryTimer();
        for (const FakeEndpoint::Sent& sent : m_endpoint.sent) {
            EXPECT_EQ(sent.address, IConverterEndpoint::kBroadcast);
            EXPECT_EQ(sent.datagram.size(), 16u);
        }
        requests += static_cast<int>(m_endpoint.sent.size());
        m_endpoint.sent.clear();
    }
    EXPECT_EQ(requests, 3) << "ticks 1, 5 and 9";
}

TEST_F(MainWindowTest, TheLanguageMenuOffersTheInstalledLanguagesAndRestartsInTheChosenOne) {
    QMenu* menu = m_window->GetLanguageMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), QStringLiteral("&Language"));
    QStringList codes;
    QAction* russian = nullptr;
    for (QAction* action : menu->actions()) {
        codes << action->text();
        EXPECT_EQ(action->isChecked(), action->text() == QStringLiteral("ENU"));
        if (action->text() == QStringLiteral("RUS"))
            russian = action;
    }
    EXPECT_EQ(codes.join(u' '), QStringLiteral("DEU ENU RUS"));

    // The language in use: nothing happens.
    menu->actions()[1]->trigger();
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_TRUE(m_stored.empty());

    ASSERT_NE(russian, nullptr);
    russian->trigger();
    EXPECT_EQ(m_stored, "RUS");
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(m_window->result(), IMainDialog::kRestartResult);
}

TEST_F(MainWindowTest, TheNetworkMenuLimitsDiscoveryToTheChosenInterface) {
    InterfaceMenu* menu = m_window->GetInterfaceMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), QStringLiteral("&Network"));
    const auto shown = [menu] {
        QStringList texts;
        for (QAction* action : menu->actions())
            texts << (action->isSeparator() ? QStringLiteral("--")
                                            : (action->isChecked() ? "[x] " : "[ ] ") +
                                                  action->text().replace(u'\t', u' '));
        return texts.join(u'|');
    };
    EXPECT_EQ(shown(), "[x] All networks|--|[ ] eth0 192.168.1.20/24|"
                       "[ ] eth1 10.1.0.4/16, 10.2.0.4/16");
    const auto choose = [menu](const QString& name) {
        for (QAction* action : menu->actions())
            if (action->text().section(u'\t', 0, 0) == name) {
                action->trigger();
                return;
            }
        FAIL() << "no item " << name.toStdString();
    };

    Converter(kFirstConverter, Extended(1));
    m_endpoint.sent.clear();
    choose("eth1");
    EXPECT_EQ(m_endpoint.broadcastInterface, "eth1");
    EXPECT_EQ(m_storedInterfaces, std::vector<std::string>{"eth1"});
    EXPECT_EQ(Model().rowCount(), 0) << "converters of the other networks do not linger";
    ASSERT_EQ(m_endpoint.sent.size(), 1u) << "the chosen network is asked at once";
    EXPECT_EQ(m_endpoint.sent[0].address, IConverterEndpoint::kBroadcast);
    EXPECT_EQ(m_endpoint.sent[0].datagram.size(), 16u);
    EXPECT_EQ(shown(), "[ ] All networks|--|[ ] eth0 192.168.1.20/24|"
                       "[x] eth1 10.1.0.4/16, 10.2.0.4/16");

    // The interface in use again: nothing happens.
    Converter(kFirstConverter, Extended(1));
    choose("eth1");
    EXPECT_EQ(Model().rowCount(), 1);
    EXPECT_EQ(m_storedInterfaces.size(), 1u);

    choose("All networks");
    EXPECT_EQ(m_endpoint.broadcastInterface, "");
    EXPECT_EQ(m_storedInterfaces.back(), "");

    // A chosen interface that has gone stays listed, so that the user sees what is in use.
    InterfaceMenu gone(QStringLiteral("Network"), QStringLiteral("All"), "usb0", [] {
        return std::vector<InterfaceChoice>{{"eth0", "192.168.1.20/24"}};
    });
    QStringList items;
    for (QAction* action : gone.actions())
        if (!action->isSeparator())
            items << action->text().section(u'\t', 0, 0) + (action->isChecked() ? "*" : "");
    EXPECT_EQ(items.join(u' '), QStringLiteral("All eth0 usb0*"));
}

TEST_F(MainWindowTest, CloseEmptiesTheListAndEndsTheWindow) {
    Converter(kFirstConverter, Extended(1));
    Click(QarnTeskConverterConfigDlg::kIdClose);
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(m_window->result(), QDialog::Rejected);
    EXPECT_EQ(Model().rowCount(), 0);

    m_window->OnDestroyWindow();
    EXPECT_EQ(m_pumpFeeds, nullptr) << "the pump let go of the window";
    EXPECT_FALSE(m_endpoint.open);
}

TEST_F(MainWindowTest, QueuedAnswersAreTakenOnTheWindowsThreadWhenThePumpCalls) {
    ASSERT_EQ(m_pumpFeeds, m_window.get());
    std::thread receiver([&] {
        for (uint8_t n = 1; n <= 200; ++n) {
            auto msg = std::make_unique<CMsg>();
            msg->address = Ip(198, 18, 2, n);
            AnswerSettings s = Extended(n);
            s.ip = msg->address;
            msg->data = ConfigurationAnswer(s);
            m_queue.Push(std::move(msg), false);
        }
        m_pumpFeeds->AnswersWaiting(); // as the pump does, on its own thread
    });
    receiver.join();
    EXPECT_EQ(Model().rowCount(), 0) << "nothing is applied on the pump's thread";
    ASSERT_TRUE(QTest::qWaitFor([&] { return Model().rowCount() == 200; }, 5000));
    EXPECT_EQ(Cell(0, 0), QStringLiteral("198.18.2.1"));
    EXPECT_EQ(Cell(199, 0), QStringLiteral("198.18.2.200"));
}

// Started while another program holds the converter port, the window says so above the empty
// list, naming the holder where the system tells, and keeps trying: the note goes as soon as the
// port is free and discovery starts.
class PortHeldTest : public MainWindowTest {
  protected:
    void SetUp() override {
        m_endpoint.openSucceeds = false;
        m_services.describePortHolder = [this](uint16_t port) {
            m_askedPort = port;
            return m_holder;
        };
        MainWindowTest::SetUp();
    }
    QString Caption() const {
        return qobject_cast<QLabel*>(m_window->Control(QarnTeskConverterConfigDlg::kIdCaption))
            ->text();
    }
    std::string m_holder = "nc, process 4711";
    uint16_t m_askedPort = 0;
};

TEST_F(PortHeldTest, TheWindowSaysWhoHoldsThePortUntilItIsFree) {
    EXPECT_EQ(m_askedPort, 58009);
    EXPECT_EQ(Caption(), m_window->PortNote());
    EXPECT_TRUE(Caption().contains(QStringLiteral("UDP port 58009"))) << Caption().toStdString();
    EXPECT_TRUE(Caption().contains(QStringLiteral("nc, process 4711"))) << Caption().toStdString();

    // The holder goes, and the system no longer tells who held it: still held, without a name.
    m_holder.clear();
    m_window->OnDiscoveryTimer();
    EXPECT_TRUE(Caption().contains(QStringLiteral("UDP port 58009")));
    EXPECT_FALSE(Caption().contains(QStringLiteral("process")));

    m_endpoint.openSucceeds = true;
    m_window->OnDiscoveryTimer();
    EXPECT_TRUE(m_endpoint.open);
    EXPECT_TRUE(m_window->PortNote().isEmpty());
    EXPECT_EQ(Caption(), QStringLiteral("Converters found on the network"));
    m_endpoint.sent.clear();
    for (int tick = 0; tick < 4; ++tick)
        m_window->OnDiscoveryTimer();
    EXPECT_FALSE(m_endpoint.sent.empty()) << "discovery runs once the port is free";
}

} // namespace
} // namespace qarn::test
