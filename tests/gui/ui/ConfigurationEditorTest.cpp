// The configuration editor as the user meets it: the rows each kind of converter offers, the
// value rules while typing into them, the messages, the manual entry by MAC address, and the write
// button with what it sends.

#include "MainWindowFixture.h"
#include "ui/controls/COptionTreeItemComboBox.h"
#include "ui/controls/COptionTreeItemIPAddress.h"
#include "ui/controls/COptionTreeItemMaskedEdit.h"
#include "ui/controls/COptionTreeItemSpinner.h"

#include <ostream>

namespace qarn::test {
namespace {

// The plain settings block of a write that the endpoint recorded.
std::vector<uint8_t> Unscrambled(const std::vector<uint8_t>& datagram) {
    std::vector<uint8_t> plain = datagram;
    if (plain.size() == 88)
        TestScramble(Get32(plain, 12), plain.data() + 16, 72);
    return plain;
}

uint16_t Get16(const std::vector<uint8_t>& d, size_t at) {
    return static_cast<uint16_t>(d[at] | d[at + 1] << 8);
}

// Which rows the editor shows, by name, '*' after a read-only one.
std::string Rows(const ConfigurationEditor& editor) {
    const std::pair<const COptionTreeItem*, const char*> rows[] = {
        {editor.MacItem(), "mac"},        {editor.IpItem(), "ip"},
        {editor.NetmaskItem(), "mask"},   {editor.GatewayItem(), "gateway"},
        {editor.Port2Item(), "port2"},    {editor.Port1Item(), "port1"},
        {editor.PeerIpItem(), "peer"},    {editor.LetterItem(), "letter"},
        {editor.SystemTypeItem(), "type"}};
    std::string shown;
    for (const auto& [item, name] : rows) {
        if (item == nullptr)
            continue;
        shown += std::string(shown.empty() ? "" : " ") + name + (item->IsReadOnly() ? "*" : "");
    }
    return shown;
}

struct ViewCase {
    const char* name;
    AnswerSettings settings;
    bool deaf;
    const char* rootLabel;
    const char* rows;
};

// The case's name in test logs, instead of its bytes.
void PrintTo(const ViewCase& c, std::ostream* out) {
    *out << c.name;
}

class EditorViewTest : public MainWindowTest, public ::testing::WithParamInterface<ViewCase> {};

AnswerSettings WithFirmware(AnswerSettings s, uint32_t firmware) {
    s.firmware = firmware;
    return s;
}

AnswerSettings StandardSettings() {
    AnswerSettings s;
    s.marker = 0x12131416;
    s.serial = "73881200000001";
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Views, EditorViewTest,
    ::testing::Values(
        ViewCase{"FullWithSecondPort", WithFirmware({}, 2999999), false, "Network settings",
                 "ip mask gateway port2 port1 peer letter type"},
        ViewCase{"FullFromFirmware3", WithFirmware({}, 3000000), false, "Network settings",
                 "ip mask gateway port1 peer letter type"},
        ViewCase{
            "LimitedWithoutEcho", {}, true, "Converter addressed by MAC", "mac* ip mask gateway"},
        ViewCase{"AddressOnlyForAStandardConverter", StandardSettings(), false, "",
                 "ip mask gateway"},
        ViewCase{"EmptyForAStandardConverterWithoutEcho", StandardSettings(), true, "", ""}),
    [](const ::testing::TestParamInfo<ViewCase>& info) { return std::string(info.param.name); });

TEST_P(EditorViewTest, EachConverterOpensInItsView) {
    const ViewCase& c = GetParam();
    if (c.deaf)
        m_echo.silent = {kFirstConverter};
    AnswerSettings s = c.settings;
    s.systemType = 1; // tesk: the letter may be edited
    Converter(kFirstConverter, s);
    ClickRow(0);
    EXPECT_TRUE(m_window->IsEditorShown());
    EXPECT_EQ(Rows(Editor()), c.rows);
    EXPECT_EQ(Editor().RootItem()->GetLabel(), QString::fromUtf8(c.rootLabel));
    EXPECT_TRUE(TakeMessages().empty());
    if (Editor().IpItem() != nullptr) {
        EXPECT_EQ(Editor().IpItem()->GetAddressText(), QStringLiteral("198.18.1.1"));
    }
    if (Editor().MacItem() != nullptr) {
        EXPECT_EQ(Editor().MacItem()->GetWindowText(), QStringLiteral("00 20 4a 11 22 33"));
    }
    // Every row ends up expanded, also the second group of the full view.
    for (COptionTreeItem* group = Editor().Tree()->GetRootItem()->GetChild(); group != nullptr;
         group = group->GetSibling())
        EXPECT_TRUE(group->IsExpanded());
}

TEST_F(MainWindowTest, ManualEntryOffersTheMacAddressAndWritesByBroadcast) {
    m_echo.silent = {Ip(198, 18, 7, 7)}; // the new address is free
    Click(QarnTeskConverterConfigDlg::kIdManualEntry);
    EXPECT_TRUE(m_window->IsManualMode());
    EXPECT_TRUE(m_window->IsEditorShown());
    EXPECT_EQ(Rows(Editor()), "mac ip mask gateway");
    EXPECT_EQ(Editor().MacItem()->GetWindowText(), QStringLiteral("00 20 4a 90 00 00"));
    EXPECT_TRUE(Editor().RootItem()->GetInfo().contains(QStringLiteral("Network settings")));

    ClickValue(Editor().MacItem());
    Type(QStringLiteral("00204a901234"));
    Press(Qt::Key_Return);
    ClickValue(Editor().IpItem());
    Type(QStringLiteral("198.18.7.7"));
    Press(Qt::Key_Return);
    EXPECT_TRUE(TakeMessages().empty());
    ASSERT_TRUE(Button(QarnTeskConverterConfigDlg::kIdWrite)->isEnabled());
    Click(QarnTeskConverterConfigDlg::kIdWrite);

    ASSERT_EQ(m_endpoint.sent.size(), 1u);
    const FakeEndpoint::Sent& sent = m_endpoint.sent[0];
    EXPECT_EQ(sent.address, IConverterEndpoint::kBroadcast);
    const std::vector<uint8_t> plain = Unscrambled(sent.datagram);
    ASSERT_EQ(plain.size(), 88u);
    EXPECT_EQ(plain[1], 0x1C) << "written by MAC address";
    EXPECT_EQ(Get32(plain, 16), 0x12131417u);
    EXPECT_EQ(Get32(plain, 20), Ip(198, 18, 7, 7));
    EXPECT_EQ(std::vector<uint8_t>(plain.begin() + 36, plain.begin() + 42),
              (std::vector<uint8_t>{0x00, 0x20, 0x4A, 0x90, 0x12, 0x34}));
    EXPECT_FALSE(m_window->IsManualMode()) << "a write ends the manual entry";
}

// The manual entry sends only what it shows, and only once a MAC address and an IP address have
// been given: clicking Write at once sends nothing, and a second use starts from the blank record
// again instead of sending the MAC typed the first time behind a row that shows another.
TEST_F(MainWindowTest, ManualEntryWritesOnlyTheMacAndAddressItShows) {
    m_echo.silent = {Ip(198, 18, 7, 7), Ip(198, 18, 7, 8)};
    QAbstractButton* write = Button(QarnTeskConverterConfigDlg::kIdWrite);
    const std::vector<uint8_t> blankMac = {0x00, 0x20, 0x4A, 0x90, 0x00, 0x00};
    for (const int use : {1, 2}) {
        SCOPED_TRACE(use);
        Click(QarnTeskConverterConfigDlg::kIdManualEntry);
        EXPECT_EQ(Editor().MacItem()->GetWindowText(), QStringLiteral("00 20 4a 90 00 00"));
        EXPECT_EQ(std::vector<uint8_t>(m_window->Working().abyMac.begin(),
                                       m_window->Working().abyMac.end()),
                  blankMac)
            << "the row shows what a write would send";
        EXPECT_EQ(m_window->Working().dwIp, 0u);
        EXPECT_FALSE(write->isEnabled());
        m_window->OnWriteConfiguration(); // as a click that reached it anyway
        EXPECT_TRUE(m_endpoint.sent.empty()) << "nothing to send before a MAC and address";

        if (use == 1) {
            // The blank record's MAC confirmed as it stands is no converter's: an address alone
            // is not enough.
            ClickValue(Editor().MacItem());
            Press(Qt::Key_Return);
            ClickValue(Editor().IpItem());
            Type(QStringLiteral("198.18.7.7"));
            Press(Qt::Key_Return);
            Settle();
            EXPECT_FALSE(write->isEnabled());
            m_window->OnWriteConfiguration();
            EXPECT_TRUE(m_endpoint.sent.empty());
            // The MAC typed and Write clicked at once, without Enter.
            ClickValue(Editor().MacItem());
            Type(QStringLiteral("00204a901234"));
        } else {
            // A MAC alone is not enough; then the address typed and Write clicked at once.
            ClickValue(Editor().MacItem());
            Type(QStringLiteral("00204a905678"));
            Press(Qt::Key_Return);
            Settle();
            EXPECT_FALSE(write->isEnabled());
            ClickValue(Editor().IpItem());
            Type(QStringLiteral("198.18.7.8"));
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return write->isEnabled(); }, 5000));
        Click(QarnTeskConverterConfigDlg::kIdWrite);
        ASSERT_EQ(m_endpoint.sent.size(), 1u);
        const std::vector<uint8_t> plain = Unscrambled(m_endpoint.sent[0].datagram);
        ASSERT_EQ(plain.size(), 88u);
        EXPECT_EQ(plain[1], 0x1C);
        EXPECT_EQ(Get32(plain, 20), use == 1 ? Ip(198, 18, 7, 7) : Ip(198, 18, 7, 8));
        EXPECT_EQ(std::vector<uint8_t>(plain.begin() + 36, plain.begin() + 42),
                  use == 1 ? (std::vector<uint8_t>{0x00, 0x20, 0x4A, 0x90, 0x12, 0x34})
                           : (std::vector<uint8_t>{0x00, 0x20, 0x4A, 0x90, 0x56, 0x78}));
        m_endpoint.sent.clear();
    }
}

// Enter commits the row being edited and never writes: Write is not the dialog's default button,
// so a technician who confirms a value with Enter sends nothing until clicking Write.
TEST_F(MainWindowTest, EnterCommitsTheRowAndNeverWrites) {
    Converter(kFirstConverter, Extended(1));
    ClickRow(0);
    QAbstractButton* write = Button(QarnTeskConverterConfigDlg::kIdWrite);
    ASSERT_TRUE(write->isEnabled());
    ClickValue(Editor().Port1Item());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    Type(QStringLiteral("5000"));
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Return}) {
        SCOPED_TRACE(key);
        QTest::keyClick(QApplication::focusWidget() != nullptr ? QApplication::focusWidget()
                                                               : m_window.get(),
                        key);
        Settle();
    }
    EXPECT_EQ(m_window->Working().wPort1, 5000) << "committed";
    EXPECT_TRUE(m_endpoint.sent.empty()) << "Enter wrote the settings";
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_TRUE(write->isEnabled());
}

TEST_F(MainWindowTest, PortsAndAddressesFollowTheValueRulesWhileTyped) {
    Converter(kFirstConverter, WithFirmware({}, 2040903));
    ClickRow(0);
    struct PortCase {
        const char* typed;
        const char* shown;
        uint16_t stored;
    };
    for (const PortCase& c :
         {PortCase{"58009", "58018", 58018}, PortCase{"70000", "65535", 65535},
          PortCase{"57999", "57999", 57999}, PortCase{"58018", "58018", 58018}}) {
        SCOPED_TRACE(c.typed);
        ClickValue(Editor().Port1Item());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        Type(QString::fromLatin1(c.typed));
        Press(Qt::Key_Return);
        EXPECT_EQ(Editor().Port1Item()->GetEditText(), QString::fromLatin1(c.shown));
        EXPECT_EQ(m_window->Working().wPort1, c.stored);
    }
    ClickValue(Editor().Port2Item());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    Type(QStringLiteral("58000"));
    Press(Qt::Key_Return);
    EXPECT_EQ(m_window->Working().wPort2, 58018);

    // An address ending in 255 is refused with a message; the row shows the address it had.
    ClickValue(Editor().IpItem());
    Type(QStringLiteral("198.18.1.255"));
    Press(Qt::Key_Return);
    const std::vector<QString> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("198.18.1.255 cannot be used")))
        << messages[0].toStdString();
    EXPECT_EQ(Editor().IpItem()->GetAddressText(), QStringLiteral("198.18.1.1"));
    EXPECT_EQ(m_window->Working().dwIp, kFirstConverter);

    ClickValue(Editor().IpItem());
    Type(QStringLiteral("198.18.1.42"));
    Press(Qt::Key_Return);
    EXPECT_EQ(m_window->Working().dwIp, Ip(198, 18, 1, 42));
    EXPECT_TRUE(TakeMessages().empty());
    // The list's own record is not touched by an edit.
    EXPECT_EQ(Model().RecordAt(0)->wPort1, 4001);
}

TEST_F(MainWindowTest, TheSystemTypeDecidesWhetherTheLetterMayBeEdited) {
    AnswerSettings s;
    s.systemType = 0; // rilo
    s.letter = 'K';
    Converter(kFirstConverter, s);
    ClickRow(0);
    COptionTreeItemComboBox* type = Editor().SystemTypeItem();
    EXPECT_EQ(type->GetWindowText(), QStringLiteral("rilo"));
    EXPECT_TRUE(Editor().LetterItem()->IsReadOnly());
    EXPECT_FALSE(m_window->IsLetterEditable());

    ClickValue(type);
    Press(Qt::Key_Down);
    Press(Qt::Key_Down);
    Settle();
    EXPECT_EQ(m_window->Working().bySystemType, 2);
    EXPECT_FALSE(Editor().LetterItem()->IsReadOnly()) << "vardo has a letter";

    ClickValue(Editor().LetterItem());
    Type(QStringLiteral("Q"));
    Press(Qt::Key_Return);
    EXPECT_EQ(m_window->Working().chLetter, 'Q');
}

TEST_F(MainWindowTest, AConverterWhoseAnswersAreIncompleteIsNotOpened) {
    Converter(Ip(198, 18, 1, 1), Extended(1));
    ClickRow(0);
    ASSERT_EQ(Rows(Editor()), "ip mask gateway port1 peer letter type");
    // A standard converter that has sent its serial number block only.
    ASSERT_EQ(Answer(Ip(198, 18, 1, 2), SerialBlock("73881200000002")), AnswerDisposition::Applied);
    ClickRow(RowOf(Ip(198, 18, 1, 2)));

    const std::vector<QString> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Not all settings")));
    // The first converter's rows must not stand for this one: nothing to edit or write.
    EXPECT_EQ(Rows(Editor()), "");
    EXPECT_FALSE(Button(QarnTeskConverterConfigDlg::kIdWrite)->isEnabled());
    EXPECT_FALSE(Button(QarnTeskConverterConfigDlg::kIdFirmware)->isEnabled());

    // Once its answers are all in, it opens by itself.
    Answer(Ip(198, 18, 1, 2), VersionBlock("2.1.11.20"));
    Answer(Ip(198, 18, 1, 2), MacBlock({0x02, 0x51, 0, 0, 0, 2}));
    EXPECT_EQ(Rows(Editor()), "") << "still waiting for block 0";
    Answer(Ip(198, 18, 1, 2), BlockAnswer(0xD0, 60));
    EXPECT_EQ(Rows(Editor()), "ip mask gateway");
    EXPECT_EQ(m_window->Working().dwSourceIp, Ip(198, 18, 1, 2));
    EXPECT_TRUE(Button(QarnTeskConverterConfigDlg::kIdWrite)->isEnabled());
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(MainWindowTest, WriteSendsTheEditedSettingsToTheConverter) {
    Converter(kFirstConverter, Extended(1));
    ClickRow(0);
    ClickValue(Editor().Port1Item());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    Type(QStringLiteral("5000"));
    Press(Qt::Key_Return);
    Click(QarnTeskConverterConfigDlg::kIdWrite);

    ASSERT_EQ(m_endpoint.sent.size(), 1u);
    EXPECT_EQ(m_endpoint.sent[0].address, kFirstConverter) << "straight to the converter";
    const std::vector<uint8_t> plain = Unscrambled(m_endpoint.sent[0].datagram);
    ASSERT_EQ(plain.size(), 88u);
    EXPECT_EQ(plain[1], 0x1B);
    EXPECT_EQ(Get32(plain, 20), kFirstConverter);
    EXPECT_EQ(Get16(plain, 64), 5000);
    EXPECT_EQ(Get16(plain, 66), 4002);
    EXPECT_EQ(plain[84], 'K');
    EXPECT_EQ(m_echo.asked.size(), 1u) << "the address did not change: no echo before the write";
    EXPECT_NE(RowOf(kFirstConverter), -1);
}

TEST_F(MainWindowTest, ANewAddressThatAnotherDeviceHoldsIsRefused) {
    const uint32_t taken = Ip(198, 18, 1, 50);
    m_neighbours[taken] = {0x02, 0x99, 0, 0, 0, 1}; // it answers, and it is someone else
    Converter(kFirstConverter, Extended(1));
    ClickRow(0);
    ClickValue(Editor().IpItem());
    Type(QStringLiteral("198.18.1.50"));
    Press(Qt::Key_Return);
    Click(QarnTeskConverterConfigDlg::kIdWrite);

    const std::vector<QString> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Another device already answers")));
    EXPECT_TRUE(m_endpoint.sent.empty());
    EXPECT_EQ(m_window->Working().dwIp, taken) << "kept, to be corrected";
}

TEST_F(MainWindowTest, AMoveToAFreeAddressTakesTheOldRowAwayAtOnce) {
    const uint32_t free = Ip(198, 18, 1, 60);
    m_echo.silent = {free};
    Converter(kFirstConverter, Extended(1));
    ClickRow(0);
    ClickValue(Editor().IpItem());
    Type(QStringLiteral("198.18.1.60"));
    Press(Qt::Key_Return);
    Click(QarnTeskConverterConfigDlg::kIdWrite);

    ASSERT_EQ(m_endpoint.sent.size(), 1u);
    EXPECT_EQ(Get32(Unscrambled(m_endpoint.sent[0].datagram), 20), free);
    EXPECT_EQ(Model().rowCount(), 0);
    m_window->OnSelectionTimer();
    EXPECT_FALSE(m_window->IsEditorShown());
    EXPECT_FALSE(Button(QarnTeskConverterConfigDlg::kIdWrite)->isEnabled());
}

TEST_F(MainWindowTest, AConverterWithoutEchoIsWrittenByBroadcast) {
    m_echo.silent = {kFirstConverter};
    Converter(kFirstConverter, Extended(1));
    ClickRow(0);
    Click(QarnTeskConverterConfigDlg::kIdWrite);
    ASSERT_EQ(m_endpoint.sent.size(), 1u);
    EXPECT_EQ(m_endpoint.sent[0].address, IConverterEndpoint::kBroadcast);
    EXPECT_EQ(Unscrambled(m_endpoint.sent[0].datagram)[1], 0x1B);
}

TEST_F(MainWindowTest, EscapeInARowGivesBackItsValueAndLeavesTheWindowOpen) {
    Converter(kFirstConverter, Extended(1));
    ClickRow(0);
    ClickValue(Editor().Port1Item());
    Type(QStringLiteral("9"));
    Press(Qt::Key_Escape);
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_EQ(m_window->Working().wPort1, 4001);
}

} // namespace
} // namespace qarn::test
