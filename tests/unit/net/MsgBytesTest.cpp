#include "net/MsgBytes.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Serialise(const CMsg& msg) {
    Bytes out;
    EXPECT_TRUE(MsgToBytes(msg, out));
    return out;
}

Bytes EmptyRecord() {
    Bytes bytes = {0x0A, 0x00, 0x00, 0x00};
    bytes.resize(4 + 12 + 16, 0x00);
    bytes.insert(bytes.end(), {0xFF, 0xFE, 0xFF, 0x00});
    bytes.resize(bytes.size() + 4 + 2, 0x00);
    return bytes;
}

CMsg FullMsg() {
    CMsg msg;
    msg.userValue = -2;
    msg.address = 0x0100A8C0; // 192.168.0.1
    msg.port = 58009;
    msg.time = {2024, 2, 4, 29, 23, 59, 58, 999};
    msg.text = u"AB";
    msg.tag = 0x01020304;
    msg.data = {0xDE, 0xAD, 0xBE};
    return msg;
}

TEST(MsgBytesTest, EmptyRecordIs42BytesAndReadsBackAsAllZero) {
    EXPECT_EQ(Serialise(CMsg{}), EmptyRecord());
    CMsg msg = FullMsg();
    ASSERT_TRUE(BytesToMsg(EmptyRecord(), msg));
    EXPECT_EQ(msg, CMsg{});
}

TEST(MsgBytesTest, FieldsAreWrittenInOrderLittleEndian) {
    const Bytes expected = {
        0x0A, 0x00, 0x00, 0x00,                         // schema
        0xC0, 0xA8, 0x00, 0x01,                         // address
        0x99, 0xE2, 0x00, 0x00,                         // port 58009
        0xFE, 0xFF, 0xFF, 0xFF,                         // userValue -2
        0xE8, 0x07, 0x02, 0x00, 0x04, 0x00, 0x1D, 0x00, // year, month, day of week, day
        0x17, 0x00, 0x3B, 0x00, 0x3A, 0x00, 0xE7, 0x03, // hour, minute, second, ms
        0xFF, 0xFE, 0xFF, 0x02, 0x41, 0x00, 0x42, 0x00, // marker, length 2, "AB"
        0x04, 0x03, 0x02, 0x01,                         // tag
        0x03, 0x00, 0xDE, 0xAD, 0xBE,                   // data count and bytes
    };
    EXPECT_EQ(Serialise(FullMsg()), expected);
    CMsg read;
    ASSERT_TRUE(BytesToMsg(expected, read));
    EXPECT_EQ(read, FullMsg());
}

// Offset of the text length form in every record: schema, address, port, userValue, time, marker.
constexpr size_t kTextLengthOffset = 35;

TEST(MsgBytesTest, TextLengthUsesTheShortestForm) {
    struct Row {
        size_t length;
        Bytes form;
    };
    const Row rows[] = {
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {300, {0xFF, 0x2C, 0x01}},
        {0xFFFD, {0xFF, 0xFD, 0xFF}},
        {0xFFFE, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {0x10000, {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.length);
        CMsg msg;
        msg.text.assign(row.length, u'x');
        const Bytes bytes = Serialise(msg);
        ASSERT_EQ(bytes.size(), 42 - 1 + row.form.size() + 2 * row.length);
        EXPECT_EQ(Bytes(bytes.begin() + kTextLengthOffset - 3, bytes.begin() + kTextLengthOffset),
                  (Bytes{0xFF, 0xFE, 0xFF}));
        EXPECT_EQ(Bytes(bytes.begin() + kTextLengthOffset,
                        bytes.begin() + kTextLengthOffset + row.form.size()),
                  row.form);
        CMsg read;
        ASSERT_TRUE(BytesToMsg(bytes, read));
        EXPECT_EQ(read.text, msg.text);
    }
}

TEST(MsgBytesTest, DataCountUsesTheShortestForm) {
    struct Row {
        size_t count;
        Bytes form;
    };
    const Row rows[] = {
        {0xFFFE, {0xFE, 0xFF}},
        {0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
        {0x10000, {0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.count);
        CMsg msg;
        msg.data.assign(row.count, 0x5A);
        const Bytes bytes = Serialise(msg);
        ASSERT_EQ(bytes.size(), 40 + row.form.size() + row.count);
        EXPECT_EQ(Bytes(bytes.begin() + 40, bytes.begin() + 40 + row.form.size()), row.form);
        CMsg read;
        ASSERT_TRUE(BytesToMsg(bytes, read));
        EXPECT_EQ(read.data, msg.data);
    }
}

TEST(MsgBytesTest, RoundTripKeepsEveryField) {
    struct Row {
        const char* name;
        CMsg msg;
    };
    std::vector<Row> rows;
    rows.push_back({"empty", CMsg{}});
    rows.push_back({"full", FullMsg()});
    CMsg extremes;
    extremes.userValue = INT32_MIN;
    extremes.address = 0xFFFFFFFF;
    extremes.port = INT32_MAX;
    extremes.time = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    extremes.tag = -1;
    extremes.data.assign(1, 0xFF);
    rows.push_back({"extreme values", extremes});
    CMsg unpaired;
    unpaired.text = std::u16string{u'R', char16_t(0xD800), char16_t(0xFFFF), char16_t(0), u'z'};
    rows.push_back({"unpaired surrogate, U+FFFF and NUL in text", unpaired});
    CMsg large;
    large.text.assign(70000, u'\u00e9');
    large.data.assign(100000, 0x01);
    rows.push_back({"32-bit text and data forms", large});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CMsg read;
        ASSERT_TRUE(BytesToMsg(Serialise(row.msg), read));
        EXPECT_EQ(read, row.msg);
    }
}

TEST(MsgBytesTest, RejectsWhatIsNotARecordAndLeavesTheMessageAlone) {
    auto withByte = [](Bytes bytes, size_t at, uint8_t value) {
        bytes[at] = value;
        return bytes;
    };
    const Bytes empty = EmptyRecord();
    // The 16-bit text length 0xFFFE would be a second marker, not a length.
    Bytes secondMarker(empty.begin(), empty.begin() + kTextLengthOffset);
    secondMarker.insert(secondMarker.end(), {0xFF, 0xFE, 0xFF, 0x00, 0, 0, 0, 0, 0, 0});
    struct Row {
        const char* name;
        Bytes bytes;
    };
    const Row rows[] = {
        {"no bytes", {}},
        {"schema 11", withByte(empty, 0, 0x0B)},
        {"schema 10 in the wrong byte", withByte(withByte(empty, 0, 0), 1, 0x0A)},
        {"text without marker", withByte(empty, kTextLengthOffset - 2, 0x00)},
        {"second marker as text length", secondMarker},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CMsg msg = FullMsg();
        EXPECT_FALSE(BytesToMsg(row.bytes, msg));
        EXPECT_EQ(msg, FullMsg());
    }
    CMsg msg;
    EXPECT_FALSE(BytesToMsg(nullptr, 42, msg));
}

TEST(MsgBytesTest, EveryTruncationFails) {
    CMsg longText;
    longText.text.assign(300, u'q');
    longText.data.assign(0x10000, 0x77);
    for (const CMsg& record : {CMsg{}, FullMsg(), longText}) {
        const Bytes bytes = Serialise(record);
        for (size_t size = 0; size < bytes.size(); ++size) {
            CMsg read;
            ASSERT_FALSE(BytesToMsg(bytes.data(), size, read)) << "prefix of " << size;
        }
    }
}

TEST(MsgBytesTest, HugeDeclaredLengthsInTinyInputFail) {
    const Bytes empty = EmptyRecord();
    const Bytes prefix(empty.begin(), empty.begin() + kTextLengthOffset);
    struct Row {
        const char* name;
        Bytes tail;
    };
    const Row rows[] = {
        {"text 2^31 units", {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80, 0x41, 0x00}},
        {"text 0xFFFFFFFE units", {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x41, 0x00}},
        {"text wider than 32 bits", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00}},
        {"data 0xFFFFFFFE bytes", {0x00, 0, 0, 0, 0, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x01}},
        {"data wider than 32 bits", {0x00, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
        {"data 300 bytes, 2 given", {0x00, 0, 0, 0, 0, 0x2C, 0x01, 0x01, 0x02}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes bytes;
        bytes.reserve(prefix.size() + row.tail.size());
        bytes.insert(bytes.end(), prefix.begin(), prefix.end());
        bytes.insert(bytes.end(), row.tail.begin(), row.tail.end());
        CMsg read;
        EXPECT_FALSE(BytesToMsg(bytes, read));
    }
}

TEST(MsgBytesTest, BytesBehindARecordAreIgnored) {
    Bytes bytes = Serialise(FullMsg());
    bytes.insert(bytes.end(), {0x0A, 0x00, 0x00});
    CMsg read;
    ASSERT_TRUE(BytesToMsg(bytes, read));
    EXPECT_EQ(read, FullMsg());
}

} // namespace
} // namespace qarn
