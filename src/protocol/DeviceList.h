#pragma once

#include "net/CMsg.h"
#include "protocol/ConverterAnswer.h"
#include "protocol/DropCounts.h"
#include "protocol/IDeviceListObserver.h"
#include "protocol/IReachability.h"
#include "protocol/LANconvDevice.h"
#include "protocol/ParallelEcho.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace qarn {

// How a view draws a row. Black for a reachable converter whose answers are complete, red for the
// rest; a converter whose echo result is still out counts as reachable but incomplete. An
// unreachable converter counts as complete (there is nothing more to wait for), so answers never
// make a row UnreachableIncomplete; the class exists for records from elsewhere.
enum class RowColourClass {
    ReachableComplete,
    ReachableIncomplete,
    UnreachableComplete,
    UnreachableIncomplete,
};
RowColourClass ColourClassOf(const LANconvDevice& record);
// True for every class but ReachableComplete.
bool IsDrawnRed(RowColourClass colourClass);

// Which header shows a sort mark. The list has always shown the down-pointing mark for an
// ascending order and the up-pointing one for a descending order; users know it that way.
enum class SortMark { None, Down, Up };

// The live device list: one row per source address that answered, each row owning its converter
// record and the four column texts (address, MAC address, serial number, firmware version), kept
// in the chosen sort order. It is the model behind the window's list and the command line's
// tables; views follow it through IDeviceListObserver.
//
// Threads: not thread-safe, by design. Exactly one thread owns the model and calls everything on
// it, the reading calls included (they keep bookkeeping of their own up to date): the window's UI
// thread, the command line's main loop. Views are called back on that thread. The answer pump never
// touches the model: it hands each received datagram over to the owning thread, which calls
// OnConverterAnswer. Records handed out are only valid on that thread until its next call that
// changes the list; a view that keeps one takes a copy.
//
// Echo: a new source gets its row at once, with bEchoPending set, and its echo runs on the list's
// ParallelEcho workers, so the owning thread never waits for one. Until the result is applied the
// converter counts as the record's defaults say: reachable (bUnreachable false), complete only
// once its answers are in. CollectEchoResults applies the results that have come (the row turns
// red when there was no reply) and tells the observer; call it regularly on the owning thread: from
// a timer, from the main loop, or when the ready callback has posted a call there. When too many
// echoes are outstanding (a flood of new sources), a new row's echo is asked for again at the
// row's next answer.
//
// Clock: lastSeen and the 20-second age-out run on a monotonic clock, so a step of the system's
// wall clock neither keeps silent converters listed nor empties the list.
//
// Load: the list holds at most kMaxRows rows; a datagram from a new source beyond that is dropped
// (ListFull) and counted, the rows listed go on being served. AnswerIntake, in front of the
// list, bounds what waits and serves listed sources first. LogDrops, once per discovery cycle,
// writes one line with what was dropped.
//
// A window drives it from its UI thread:
//
//     PingReachability ping;                    // serves the echo workers
//     DeviceList list(ping);
//     list.SetObserver(&model);
//     list.SetEchoReadyCallback([this] {        // on an echo worker: post, never touch the list
//         QMetaObject::invokeMethod(this, [this] { list.CollectEchoResults(); },
//                                   Qt::QueuedConnection);
//     });
//     // for each datagram the answer pump hands over, on the UI thread:
//     list.OnConverterAnswer(msg);              // returns at once, also for a new converter
//     // every second, timer 1: discovery.Tick(), which also calls RemoveStaleEntries()
//     // every 100 ms, timer 3 (enough without the ready callback): list.CollectEchoResults();
//     for (size_t row = 0; row < list.GetRowCount(); ++row)
//         Show(list.GetColumnText(row, DeviceList::kColumnAddress), *list.GetRecord(row));
class DeviceList {
  public:
    // Whole seconds, above 0 (a lastSeen of 0 means never); only differences count. The default
    // reads a monotonic clock.
    using Clock = std::function<int64_t()>;

    static constexpr int kColumnAddress = 0;
    static constexpr int kColumnMac = 1;
    static constexpr int kColumnSerial = 2;
    static constexpr int kColumnVersion = 3;
    static constexpr int kColumnCount = 4;

    // A row whose last accepted answer is more than this old goes at the next age-out (seconds).
    static constexpr int64_t kStaleAfterSeconds = 20;
    // Far above any real segment; a row costs well under 1 KiB, so a list full of spoofed
    // sources stays within tens of MiB.
    static constexpr size_t kMaxRows = 65536;

    // `echo` asks every new converter once whether it answers, on `echoWorkers` workers at once
    // (ParallelEcho::kInline: inside OnConverterAnswer, for tests); with workers it must serve
    // several threads at once. It must outlive the list. Destroying the list waits for the echoes
    // that are running (at most one echo time-out).
    explicit DeviceList(IReachability& echo, Clock clock = MonotonicSeconds,
                        size_t echoWorkers = ParallelEcho::kWorkers);
    ~DeviceList();
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    // The view to tell about changes, or null. Not owned; it must outlive the list or be unset.
    void SetObserver(IDeviceListObserver* observer) { m_observer = observer; }

    // Takes one received datagram from `source` (network order): drops what fails the checks,
    // makes the row of a new source and starts its echo (never waiting for it), fills the
    // record, updates the columns, drops other rows that hold the MAC address it just learned,
    // and sorts when the number of rows changed. Says what became of the datagram.
    AnswerDisposition OnConverterAnswer(const CMsg& msg);
    AnswerDisposition OnConverterAnswer(uint32_t source, std::span<const uint8_t> data);

    // Applies the echo results that have come since the last call to the rows that still exist:
    // bUnreachable from the result, bEchoPending cleared, bComplete recomputed. The observer
    // hears UpdateStarted, RowChanged for each such row, AnswerApplied and UpdateFinished(no row),
    // once for all of them, and nothing when none came. Returns how many rows changed. Cheap
    // when nothing came: call it as often as convenient.
    size_t CollectEchoResults();
    // Called on an echo worker when results wait for CollectEchoResults (at most once per
    // CollectEchoResults); see ParallelEcho::SetReadyCallback for what it may do. Set it before
    // the first answer.
    void SetEchoReadyCallback(std::function<void()> ready);
    // Waits until the echoes started so far have finished, or `limit` has passed; true when they
    // have. Their results still need CollectEchoResults. For the command line and tests, which
    // may block; a window never calls it.
    bool WaitForEchoes(std::chrono::milliseconds limit);
    // Rows whose echo result has not been applied yet.
    size_t GetPendingEchoCount() const { return m_pendingEchoRows; }

    // The bound on rows, kMaxRows unless a test sets a smaller one. Rows already listed stay.
    void SetMaxRows(size_t maxRows) { m_maxRows = maxRows; }
    // Whether `source` has a row: a plain lookup, for the intake's sorting of datagrams.
    bool HasRow(uint32_t source) const { return m_rowOfSource.count(source) != 0; }
    // Drops counted by the list itself (listFull, echoRefused) and added by the intake.
    void AddDrops(const DropCounts& drops) { m_drops += drops; }
    const DropCounts& GetDropCounts() const { return m_drops; }
    // Logs one warning with what was dropped since the last call, when anything was, and returns
    // that: called once per discovery cycle, so that a flood costs one line per cycle.
    DropCounts LogDrops();

    // Deletes every row whose record was last seen more than kStaleAfterSeconds ago (or never).
    // Returns how many went.
    size_t RemoveStaleEntries();
    // Deletes the row of `address` (network order); 0 deletes nothing. True when a row went.
    bool RemoveEntryByAddress(uint32_t address);
    // Deletes every row.
    void Clear();

    size_t GetRowCount() const { return m_rows.size(); }
    // Null for a row that does not exist.
    const LANconvDevice* GetRecord(size_t row) const;
    // Empty for a row or column that does not exist, and for a column nothing has filled yet.
    const std::string& GetColumnText(size_t row, int column) const;
    RowColourClass GetColourClass(size_t row) const;
    std::optional<size_t> FindRowBySource(uint32_t source) const;
    // The first row (in the current order) whose record holds `mac`.
    std::optional<size_t> FindRowByMac(const MacAddress& mac) const;

    // A click on the heading of `column`: the same column again reverses the order, another one
    // sorts ascending by that column.
    void HeaderClick(int column);
    // Puts the rows in the current order; rows that compare equal keep their relative order.
    void SortList();
    int GetSortColumn() const { return m_sortColumn; }
    bool IsSortAscending() const { return m_sortAscending; }
    SortMark GetSortMark(int column) const;

    // -1, 0 or +1 for `a` before, with or after `b` by `column`, negated when descending. A null
    // record comes first whatever the direction (a before b when both are null); a column
    // outside 0..3 compares equal. Keys: 0 the address as one little-endian number, so the
    // fourth octet weighs most (10.0.1.1 before 10.0.0.2); 1 the MAC bytes; 2 the serial number
    // without regard to case; 3 the firmware version number.
    static int Compare(const LANconvDevice* a, const LANconvDevice* b, int column, bool ascending);

    // Seconds of the system's monotonic clock, plus one so that the first second is not 0.
    static int64_t MonotonicSeconds();

  private:
    struct Row {
        LANconvDevice record;
        std::array<std::string, kColumnCount> columns;
        size_t index = 0;         // its row number, when this is below m_firstStaleIndex
        bool echoStarted = false; // else its echo was refused and is asked for at its next answer
    };

    template <typename Call>
    void Notify(Call call) {
        if (m_observer != nullptr)
            call(*m_observer);
    }

    // Makes the row of a new source at the end: record with its echo pending, address column.
    Row* InsertRow(uint32_t source);
    void StartEcho(Row& row);
    // The record part of one accepted answer and the column texts it changes.
    AnswerEffect ApplyAnswer(Row& row, const AnswerCheck& check, std::span<const uint8_t> data,
                             bool isNewRow);
    // The MAC step: after `row` learned `previous` -> its current address, drops the row that
    // held that address before.
    void TakeMac(Row* row, const MacAddress& previous);
    void RemoveRow(size_t row);
    // Sorts after the row count changed. `newRow`, the last row, is a row this answer made;
    // returns where it went.
    std::optional<size_t> SortAfterCountChange(const Row* newRow);
    void SortRows();
    size_t IndexOf(const Row* row) const;
    // Row numbers from `first` on may have moved.
    void MarkIndicesStale(size_t first) { m_firstStaleIndex = std::min(m_firstStaleIndex, first); }

    Clock m_clock;
    ParallelEcho m_echo;
    size_t m_pendingEchoRows = 0;
    IDeviceListObserver* m_observer = nullptr;
    // The rows in display order. Plain pointers, so that a new row sorted into the middle of tens
    // of thousands moves the ones behind it in one memmove.
    std::vector<Row*> m_rows;
    // Source address -> row, the rows' owner, so that each datagram finds its row without a walk
    // over a list of thousands of converters; a row knows its own number. Row numbers are brought
    // up to date lazily: a new converter sorted into the middle of the list would otherwise cost
    // a pass over every row behind it.
    std::unordered_map<uint32_t, std::unique_ptr<Row>> m_rowOfSource;
    mutable size_t m_firstStaleIndex = SIZE_MAX;
    // MAC address -> the one row that holds it (rows still without one, all zeros, are not
    // here). The MAC rule keeps every other address in at most one row.
    std::map<MacAddress, Row*> m_rowOfMac;
    // The rows are in the current sort order: a new row can be placed by a binary search.
    // Cleared when an answer changes the sort key of a listed row (such rows keep their place
    // until the next sort).
    bool m_inOrder = true;
    // The state the window's initialisation leaves: ascending by address.
    int m_sortColumn = kColumnAddress;
    bool m_sortAscending = true;
    size_t m_maxRows = kMaxRows;
    DropCounts m_drops;
    DropCounts m_dropsLogged; // m_drops at the last LogDrops
};

} // namespace qarn
