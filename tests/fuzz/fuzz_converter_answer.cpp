// Arbitrary datagrams of any length and type from a handful of source addresses into the device
// list (bounded to three rows), mixed with age-out walks, header clicks and row removals. Nothing
// may crash or read out of bounds, and after every step the list must hold together: one row per
// source address, each row with its record, the lookup by address agreeing with the rows, the
// columns agreeing with the records, no MAC address in two rows, and completeness as the answers
// make it.
//
// Input: a series of steps, each an operation byte followed by its operands:
//   op & 7 = 0..3  raw datagram from source (op >> 3) & 3: two length bytes (LE, & 0x1FF), bytes
//            4     block answer built from: kind byte, size byte
//            5     configuration answer built from: choice byte
//            6     clock forward by the next byte (seconds), the echo results, the age-out walk
//            7     next byte: < 128 header click on column (byte % 6), else removal by address
#include "platform/ByteOrder.h"
#include "platform/TextCodec.h"
#include "protocol/ConverterText.h"
#include "protocol/DeviceList.h"
#include "protocol/Scramble.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

using qarn::DeviceList;
using qarn::LANconvDevice;
using qarn::MacAddress;

constexpr size_t kMaxRows = 3;
constexpr std::array<uint32_t, 4> kSources = {0x0100000A, 0x0200000A, 0x0101000A, 0};
constexpr std::array<MacAddress, 4> kMacs = {{{0, 0, 0, 0, 0, 0},
                                              {0x00, 0x20, 0x4A, 0, 0, 1},
                                              {0x00, 0x20, 0x4A, 0, 0, 2},
                                              {0x00, 0x20, 0x4A, 0, 0, 3}}};
constexpr std::array<const char*, 4> kSerials = {"73145800000001", "46951700000002", "ABC",
                                                 "99999900000003"};

// Every odd last octet stays silent to the echo.
class ParityEcho : public qarn::IReachability {
  public:
    bool Echo(uint32_t address) override { return (address >> 24) % 2 == 0; }
};

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
    std::abort();
}

class Input {
  public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_at >= m_size; }
    uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::vector<uint8_t> Bytes(size_t count) {
        const size_t take = std::min(count, m_size - m_at);
        std::vector<uint8_t> bytes(m_data + m_at, m_data + m_at + take);
        m_at += take;
        return bytes;
    }

  private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

std::vector<uint8_t> BuildBlock(Input& in) {
    static constexpr uint8_t kSubCmds[] = {0xD0, 0xD5, 0xF5, 0xF7, 0xF9, 0xE0, 0xFC, 0xDF};
    const uint8_t kind = in.Byte();
    std::vector<uint8_t> d(in.Byte(), 0x41);
    if (d.size() > 0)
        d[0] = static_cast<uint8_t>(3 + (kind >> 6)); // 3..6: never 1 or 2
    if (d.size() > 3)
        d[3] = kSubCmds[kind & 7];
    const MacAddress& mac = kMacs[(kind >> 3) & 3];
    for (size_t i = 0; i < mac.size() && 24 + i < d.size(); ++i)
        d[24 + i] = mac[i];
    const std::string serial = kSerials[(kind >> 5) & 3];
    for (size_t i = 0; i < 14 && 106 + i < d.size(); ++i)
        d[106 + i] = i < serial.size() ? static_cast<uint8_t>(serial[i]) : 0;
    return d;
}

std::vector<uint8_t> BuildConfigurationAnswer(Input& in) {
    const uint8_t choice = in.Byte();
    std::vector<uint8_t> d((choice & 8) != 0 ? 88 : 80, 0);
    d[0] = 1;
    d[1] = 0x1B;
    const uint32_t seed = 0x00C0FFEEu + choice;
    qarn::platform::PutLe32(d.data() + 12, seed);
    qarn::platform::PutLe32(d.data() + 16, (choice & 4) != 0 ? qarn::kMarkerExtended : 0);
    d[28] = choice;
    const MacAddress& mac = kMacs[choice & 3];
    std::copy(mac.begin(), mac.end(), d.begin() + 36);
    const std::string serial = kSerials[(choice >> 4) & 3];
    std::copy(serial.begin(), serial.end(), d.begin() + 44);
    qarn::platform::PutLe32(d.data() + 68, 2000000u + choice * 10101u);
    qarn::ScramblePayload(seed, d.data() + 16, static_cast<int32_t>(d.size() - 16));
    return d;
}

size_t Utf16Length(const std::string& text) {
    return qarn::platform::Utf8ToUtf16(text).size();
}

void CheckRow(const DeviceList& list, size_t row, int64_t now) {
    const LANconvDevice* r = list.GetRecord(row);
    if (r == nullptr)
        Fail("row without record");
    if (list.FindRowBySource(r->dwSourceIp) != row)
        Fail("lookup by address disagrees with row " + std::to_string(row));
    const bool silent = (r->dwSourceIp >> 24) % 2 != 0;
    if (r->bUnreachable != (!r->bEchoPending && silent))
        Fail("reachability neither pending nor the echo's");
    if (r->bComplete != (r->bUnreachable || r->HasAllAnswerBlocks()))
        Fail("completeness");
    if (r->lastSeen > now)
        Fail("seen in the future");
    const auto& col = [&](int c) -> const std::string& { return list.GetColumnText(row, c); };
    if (col(DeviceList::kColumnAddress) != qarn::IpToText(r->dwSourceIp))
        Fail("address column");
    const std::string& mac = col(DeviceList::kColumnMac);
    if (mac.empty() ? r->abyMac != MacAddress{} : mac != qarn::MacText(r->abyMac))
        Fail("MAC column");
    const std::string& serial = col(DeviceList::kColumnSerial);
    if (serial.empty() ? !r->strSerial.empty() : serial != qarn::SerialColumnText(r->strSerial))
        Fail("serial column");
    if (Utf16Length(r->strSerial) > 14)
        Fail("serial longer than its field");
    const std::string& version = col(DeviceList::kColumnVersion);
    if (!version.empty() && !r->abBlockSeen[qarn::kSlotVersionText])
        Fail("version column without a version");
    if (Utf16Length(version) > 16)
        Fail("version column longer than its field");
}

void CheckList(const DeviceList& list, int64_t now) {
    std::set<uint32_t> sources;
    std::set<MacAddress> macs;
    size_t pending = 0;
    for (size_t row = 0; row < list.GetRowCount(); ++row) {
        CheckRow(list, row, now);
        const LANconvDevice& r = *list.GetRecord(row);
        pending += r.bEchoPending ? 1 : 0;
        if (!sources.insert(r.dwSourceIp).second)
            Fail("two rows for one source address");
        if (r.abyMac != MacAddress{} && !macs.insert(r.abyMac).second)
            Fail("one MAC address in two rows");
        if (r.abyMac != MacAddress{} && list.FindRowByMac(r.abyMac) != row)
            Fail("lookup by MAC address disagrees with row " + std::to_string(row));
    }
    if (list.GetRowCount() > kMaxRows)
        Fail("more rows than the bound");
    if (list.GetRecord(list.GetRowCount()) != nullptr)
        Fail("a record behind the last row");
    if (pending != list.GetPendingEchoCount())
        Fail("count of pending echoes");
}

void CheckSorted(const DeviceList& list) {
    for (size_t row = 1; row < list.GetRowCount(); ++row) {
        if (DeviceList::Compare(list.GetRecord(row - 1), list.GetRecord(row), list.GetSortColumn(),
                                list.IsSortAscending()) > 0)
            Fail("rows out of order after a sort");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int64_t now = 1000;
    ParityEcho echo;
    DeviceList list(
        echo, [&now] { return now; }, qarn::ParallelEcho::kInline);
    list.SetMaxRows(kMaxRows); // one source fewer than there are: the bound is reached
    Input in(data, size);
    while (!in.Empty()) {
        const uint8_t op = in.Byte();
        const uint32_t source = kSources[(op >> 3) & 3];
        const size_t rowsBefore = list.GetRowCount();
        switch (op & 7) {
        case 4:
            list.OnConverterAnswer(source, BuildBlock(in));
            break;
        case 5:
            list.OnConverterAnswer(source, BuildConfigurationAnswer(in));
            break;
        case 6:
            now += in.Byte();
            list.CollectEchoResults();
            list.RemoveStaleEntries();
            break;
        case 7: {
            const uint8_t what = in.Byte();
            if (what < 128) {
                list.HeaderClick(what % 6);
                CheckSorted(list);
            } else {
                list.RemoveEntryByAddress(source);
            }
            break;
        }
        default: {
            const size_t low = in.Byte();
            const size_t length = (low | static_cast<size_t>(in.Byte()) << 8) & 0x1FF;
            list.OnConverterAnswer(source, in.Bytes(length));
            break;
        }
        }
        CheckList(list, now);
        // An answer that changed the number of rows leaves the whole list sorted.
        if ((op & 7) <= 5 && list.GetRowCount() != rowsBefore)
            CheckSorted(list);
    }
    return 0;
}
