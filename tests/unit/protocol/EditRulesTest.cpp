#include "protocol/EditRules.h"

#include "ConverterDatagrams.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using test::Ip;

LANconvDevice Converter(int32_t kind, bool unreachable, uint32_t firmware = 2030000) {
    LANconvDevice record;
    record.dwSourceIp = Ip(192, 168, 1, 20);
    record.dwIp = record.dwSourceIp;
    record.nKind = kind;
    record.bUnreachable = unreachable;
    record.dwFirmwareVersion = firmware;
    record.bySystemType = kSystemTypeTesk;
    return record;
}

TEST(EditRulesTest, PortRuleClampsAndSkipsTheReservedPorts) {
    const struct {
        const char* text;
        EditStatus status;
        uint16_t stored;
        const char* shown; // the spinner's text after a correction
    } rows[] = {
        {"58009", EditStatus::Corrected, 58018, "58018"},
        {"58000", EditStatus::Corrected, 58018, "58018"},
        {"58017", EditStatus::Corrected, 58018, "58018"},
        {"57999", EditStatus::Stored, 57999, ""},
        {"58018", EditStatus::Stored, 58018, ""},
        {"70000", EditStatus::Corrected, 65535, "65535"},
        {"65536", EditStatus::Corrected, 65535, "65535"},
        {"65535", EditStatus::Stored, 65535, ""},
        {"99999999999999999999", EditStatus::Corrected, 65535, "65535"},
        {"12.5", EditStatus::Stored, 12, ""},
        {"4,001", EditStatus::Stored, 4, ""},
        {"", EditStatus::Stored, 0, ""},
        {"0", EditStatus::Stored, 0, ""},
    };
    for (EditItem item : {EditItem::Port1, EditItem::Port2}) {
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.text) + (item == EditItem::Port1 ? " port 1" : " port 2"));
            LANconvDevice record = Converter(kKindExtended, false);
            record.wPort1 = record.wPort2 = 1111;
            const EditResult result = ApplyPort(record, item, row.text);
            EXPECT_EQ(result.status, row.status);
            EXPECT_EQ(result.text, row.shown);
            EXPECT_EQ(item == EditItem::Port1 ? record.wPort1 : record.wPort2, row.stored);
            EXPECT_EQ(item == EditItem::Port1 ? record.wPort2 : record.wPort1, 1111);
        }
    }
    LANconvDevice record = Converter(kKindExtended, false);
    for (const char* text : {"-5", "abc", "1 2", "4001x"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ApplyPort(record, EditItem::Port1, text).status, EditStatus::InvalidText);
        EXPECT_EQ(record.wPort1, 0);
    }
}

TEST(EditRulesTest, IpNeedsALastOctetOtherThanZeroAnd255) {
    const struct {
        uint32_t address;
        EditStatus status;
        const char* text;
    } rows[] = {
        {Ip(192, 168, 1, 1), EditStatus::Stored, ""},
        {Ip(192, 168, 1, 254), EditStatus::Stored, ""},
        {Ip(192, 168, 1, 0), EditStatus::Rejected, "192.168.1.0"},
        {Ip(192, 168, 1, 255), EditStatus::Rejected, "192.168.1.255"},
        {0, EditStatus::Rejected, "0.0.0.0"},
        {Ip(0, 0, 0, 7), EditStatus::Stored, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        LANconvDevice record = Converter(kKindStandard, false);
        const uint32_t before = record.dwIp;
        const EditResult result = ApplyIp(record, row.address);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.text, row.text);
        EXPECT_EQ(record.dwIp, row.status == EditStatus::Stored ? row.address : before);
    }
    // Netmask, gateway and peer are taken as they come, 0.0.0.0 included.
    LANconvDevice record = Converter(kKindExtended, false);
    record.dwGateway = record.dwPeerIp = record.dwNetmask = 1;
    EXPECT_EQ(ApplyNetmask(record, 0xFF00FF00).status, EditStatus::Stored);
    EXPECT_EQ(ApplyGateway(record, 0).status, EditStatus::Stored);
    EXPECT_EQ(ApplyPeerIp(record, 0xFFFFFFFF).status, EditStatus::Stored);
    EXPECT_EQ(record.dwNetmask, 0xFF00FF00u);
    EXPECT_EQ(record.dwGateway, 0u);
    EXPECT_EQ(record.dwPeerIp, 0xFFFFFFFFu);
}

TEST(EditRulesTest, MacNeedsTwelveDigits) {
    LANconvDevice record = MakeBlankRecord();
    EXPECT_EQ(record.abyMac, kBlankRecordMac);
    EXPECT_EQ(ApplyMacInput(record, "001a2b3c4d5e").status, EditStatus::Stored);
    EXPECT_EQ(record.abyMac, (MacAddress{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_EQ(ApplyMacInput(record, "ABCDEF012345").status, EditStatus::Stored);
    EXPECT_EQ(record.abyMac, (MacAddress{0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45}));
    // A digit deleted in the middle leaves eleven: nothing changes, silently.
    EXPECT_EQ(ApplyMacInput(record, "00a2b3c4d5e").status, EditStatus::Ignored);
    EXPECT_EQ(record.abyMac, (MacAddress{0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45}));
    EXPECT_EQ(ApplyMacInput(record, "").status, EditStatus::Ignored);
}

TEST(EditRulesTest, LetterAndSystemType) {
    LANconvDevice record = Converter(kKindExtended, false);
    EXPECT_EQ(ApplyLetter(record, "Q").status, EditStatus::Stored);
    EXPECT_EQ(record.chLetter, 'Q');
    ApplyLetter(record, "");
    EXPECT_EQ(record.chLetter, 0) << "an empty letter item stores 0";

    const struct {
        int index;
        uint8_t stored;
        bool letterEditable;
    } rows[] = {{0, 0, false}, {1, 1, true}, {2, 2, true}, {-1, 0xFF, true}, {3, 0xFF, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.index);
        EXPECT_EQ(ApplySystemType(record, row.index).status, EditStatus::Stored);
        EXPECT_EQ(record.bySystemType, row.stored);
        EXPECT_EQ(IsLetterEditable(row.index), row.letterEditable);
    }
    // The list shows "rilo" for a value it does not hold; the record keeps the value.
    EXPECT_EQ(SystemTypeIndexOf(0xFF), 0);
    EXPECT_EQ(SystemTypeIndexOf(7), 0);
    EXPECT_EQ(SystemTypeIndexOf(2), 2);
}

TEST(EditRulesTest, ViewsDecideWhichItemsAreOfferedAndEditable) {
    // Per item: '-' not shown, 'r' read-only, 'e' editable. Items in the order Mac, Ip, Netmask,
    // Gateway, Port2, Port1, PeerIp, Letter, SystemType.
    const EditItem items[] = {EditItem::Mac,     EditItem::Ip,     EditItem::Netmask,
                              EditItem::Gateway, EditItem::Port2,  EditItem::Port1,
                              EditItem::PeerIp,  EditItem::Letter, EditItem::SystemType};
    struct Row {
        const char* name;
        LANconvDevice record;
        EditorView view;
        const char* states;
    };
    LANconvDevice noAddress = Converter(kKindStandard, false);
    noAddress.dwIp = 0;
    LANconvDevice manualNoAddress = Converter(kKindByMac, false);
    manualNoAddress.dwIp = 0;
    LANconvDevice limitedNoAddress = Converter(kKindExtended, true);
    limitedNoAddress.dwIp = 0;
    LANconvDevice rilo = Converter(kKindExtended, false);
    rilo.bySystemType = kSystemTypeRilo;
    LANconvDevice noType = Converter(kKindExtended, false);
    noType.bySystemType = kSystemTypeNone;
    const Row rows[] = {
        {"manual", Converter(kKindByMac, true), EditorView::Manual, "eeee-----"},
        {"manual without address", manualNoAddress, EditorView::Manual, "eeee-----"},
        {"limited", Converter(kKindExtended, true), EditorView::Limited, "reee-----"},
        {"limited without address", limitedNoAddress, EditorView::Limited, "rerr-----"},
        {"full", Converter(kKindExtended, false, 2999999), EditorView::Full, "-eeeeeeee"},
        {"full from 3.0.0.0 has no port 2", Converter(kKindExtended, false, 3000000),
         EditorView::Full, "-eee-eeee"},
        {"full with rilo: letter read-only", rilo, EditorView::Full, "-eeeeeere"},
        {"full with no type: shows rilo", noType, EditorView::Full, "-eeeeeere"},
        {"standard", Converter(kKindStandard, false), EditorView::AddressOnly, "-eee-----"},
        {"standard without address", noAddress, EditorView::AddressOnly, "-err-----"},
        {"blank record", Converter(kKindNone, false), EditorView::AddressOnly, "-eee-----"},
        {"standard unreachable", Converter(kKindStandard, true), EditorView::Empty, "---------"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(EditorViewOf(row.record), row.view);
        std::string states;
        for (EditItem item : items) {
            const EditorItemState state = EditorItemStateOf(row.record, item);
            states += !state.shown ? '-' : state.readOnly ? 'r' : 'e';
        }
        EXPECT_EQ(states, row.states);
    }
}

TEST(EditRulesTest, BeginEditOffersTheSourceAddressAndKeepsTheSnapshot) {
    const struct {
        const char* name;
        int32_t kind;
        bool unreachable;
        bool takesSource;
    } rows[] = {
        {"full", kKindExtended, false, true},    {"address only", kKindStandard, false, true},
        {"limited", kKindExtended, true, false}, {"manual", kKindByMac, false, false},
        {"empty", kKindStandard, true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LANconvDevice working = Converter(row.kind, row.unreachable);
        working.dwIp = Ip(10, 9, 9, 9);
        const LANconvDevice snapshot = BeginEdit(working);
        EXPECT_EQ(snapshot.dwIp, Ip(10, 9, 9, 9)) << "the snapshot is taken first";
        EXPECT_EQ(working.dwIp, row.takesSource ? working.dwSourceIp : Ip(10, 9, 9, 9));
    }
}

TEST(EditRulesTest, RecordsOpenInTheEditorOnceCompleteOrUnreachable) {
    LANconvDevice record = Converter(kKindExtended, false);
    EXPECT_FALSE(CanOpenInEditor(record));
    for (size_t slot : {kSlotSettings, kSlotSerial, kSlotVersionText})
        record.abBlockSeen[slot] = true;
    EXPECT_FALSE(CanOpenInEditor(record));
    record.abBlockSeen[kSlotMac] = true;
    EXPECT_TRUE(CanOpenInEditor(record));
    EXPECT_TRUE(CanOpenInEditor(Converter(kKindStandard, true)));

    // Manual entry: kind 3 and the serial number of the record being edited, nothing else.
    LANconvDevice manual = MakeBlankRecord();
    manual.dwIp = Ip(10, 0, 0, 7);
    EnterManualMode(manual, "73145800000001");
    EXPECT_EQ(manual.nKind, kKindByMac);
    EXPECT_EQ(manual.strSerial, "73145800000001");
    EXPECT_EQ(manual.dwIp, Ip(10, 0, 0, 7));
    EXPECT_EQ(manual.abyMac, kBlankRecordMac);
}

TEST(EditRulesTest, FirmwareUpdateIsOfferedForANewerImageOnly) {
    const struct {
        const char* name;
        int32_t kind;
        bool unreachable;
        uint32_t available;
        bool offered;
    } rows[] = {
        {"newer image", kKindExtended, false, 2030001, true},
        {"same version", kKindExtended, false, 2030000, false},
        {"no image (0.0.0.0)", kKindStandard, false, 0, false},
        {"unreachable", kKindExtended, true, 3026211, false},
        {"named by MAC", kKindByMac, false, 3026211, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(CanOfferFirmwareUpdate(Converter(row.kind, row.unreachable), row.available),
                  row.offered);
    }
}

TEST(EditRulesTest, TextEntryChecksTheItemAndParsesLikeItsControl) {
    struct Row {
        const char* name;
        LANconvDevice record;
        EditItem item;
        const char* text;
        EditStatus status;
    };
    const LANconvDevice full = Converter(kKindExtended, false);
    LANconvDevice rilo = full;
    rilo.bySystemType = kSystemTypeRilo;
    const Row rows[] = {
        {"ip", full, EditItem::Ip, "192.168.1.30", EditStatus::Stored},
        {"ip .255", full, EditItem::Ip, "192.168.1.255", EditStatus::Rejected},
        {"ip not dotted", full, EditItem::Ip, "192.168.1", EditStatus::InvalidText},
        {"netmask", full, EditItem::Netmask, "255.255.0.0", EditStatus::Stored},
        {"gateway", full, EditItem::Gateway, "10.0.0.254", EditStatus::Stored},
        {"peer", full, EditItem::PeerIp, "10.0.0.1", EditStatus::Stored},
        {"port", full, EditItem::Port1, "58009", EditStatus::Corrected},
        {"port on a standard converter", Converter(kKindStandard, false), EditItem::Port1, "4001",
         EditStatus::NotEditable},
        {"port 2 from 3.0.0.0", Converter(kKindExtended, false, 3000000), EditItem::Port2, "1",
         EditStatus::NotEditable},
        {"letter", full, EditItem::Letter, "z", EditStatus::Stored},
        {"no letter", full, EditItem::Letter, "", EditStatus::Stored},
        {"letter with rilo", rilo, EditItem::Letter, "A", EditStatus::NotEditable},
        {"two letters", full, EditItem::Letter, "AB", EditStatus::InvalidText},
        {"letter outside ! to z", full, EditItem::Letter, "{", EditStatus::InvalidText},
        {"blank letter", full, EditItem::Letter, " ", EditStatus::InvalidText},
        {"system type", full, EditItem::SystemType, "vardo", EditStatus::Stored},
        {"system type unknown", full, EditItem::SystemType, "other", EditStatus::InvalidText},
        {"mac with spaces", Converter(kKindByMac, false), EditItem::Mac, "00 1a 2b 3c 4d 5e",
         EditStatus::Stored},
        {"mac too short", Converter(kKindByMac, false), EditItem::Mac, "00 1a 2b 3c 4d 5",
         EditStatus::Ignored},
        {"mac too long", Converter(kKindByMac, false), EditItem::Mac, "00 1a 2b 3c 4d 5e 6",
         EditStatus::InvalidText},
        {"mac with colons", Converter(kKindByMac, false), EditItem::Mac, "00:1a:2b:3c:4d:5e",
         EditStatus::InvalidText},
        {"mac of a limited view", Converter(kKindExtended, true), EditItem::Mac, "001a2b3c4d5e",
         EditStatus::NotEditable},
        {"netmask in the empty view", Converter(kKindStandard, true), EditItem::Netmask,
         "255.0.0.0", EditStatus::NotEditable},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LANconvDevice working = row.record;
        EXPECT_EQ(ApplyEditText(working, row.item, row.text).status, row.status);
        const bool changed =
            row.status == EditStatus::Stored || row.status == EditStatus::Corrected;
        EXPECT_EQ(working != row.record, changed && std::string(row.text) != "")
            << "only a stored value changes the record";
    }

    LANconvDevice working = full;
    ApplyEditText(working, EditItem::Netmask, "255.255.254.0");
    EXPECT_EQ(working.dwNetmask, 0xFFFFFE00u) << "the netmask is held in host order";
    ApplyEditText(working, EditItem::SystemType, "rilo");
    EXPECT_EQ(ApplyEditText(working, EditItem::Letter, "A").status, EditStatus::NotEditable);
    ApplyEditText(working, EditItem::SystemType, "tesk");
    EXPECT_EQ(ApplyEditText(working, EditItem::Letter, "A").status, EditStatus::Stored);
    EXPECT_EQ(working.chLetter, 'A');
}

} // namespace
} // namespace qarn
