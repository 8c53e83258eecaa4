#include "protocol/DeviceList.h"

#include "diag/FileLogger.h"
#include "protocol/ConverterText.h"

#include <algorithm>
#include <string>

namespace qarn {

namespace {

template <typename T>
int ThreeWay(const T& a, const T& b) {
    return a < b ? -1 : b < a ? 1 : 0;
}

unsigned char FoldCase(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

// Case-insensitive order of two UTF-8 texts: ASCII letters fold to lower case, everything else
// compares by code point (which the byte order of UTF-8 gives).
int CompareNoCase(const std::string& a, const std::string& b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const int order = ThreeWay(FoldCase(a[i]), FoldCase(b[i]));
        if (order != 0)
            return order;
    }
    return ThreeWay(a.size(), b.size());
}

bool IsZero(const MacAddress& mac) {
    return std::all_of(mac.begin(), mac.end(), [](uint8_t b) { return b == 0; });
}

const std::string kNoText;

} // namespace

RowColourClass ColourClassOf(const LANconvDevice& record) {
    if (record.bUnreachable)
        return record.bComplete ? RowColourClass::UnreachableComplete
                                : RowColourClass::UnreachableIncomplete;
    // A converter whose echo is still out may yet turn out deaf: black would promise what the
    // list does not know, so it stays red like one whose answers are still coming.
    return record.bComplete && !record.bEchoPending ? RowColourClass::ReachableComplete
                                                    : RowColourClass::ReachableIncomplete;
}

bool IsDrawnRed(RowColourClass colourClass) {
    return colourClass != RowColourClass::ReachableComplete;
}

DeviceList::DeviceList(IReachability& echo, Clock clock, size_t echoWorkers)
    : m_clock(clock ? std::move(clock) : Clock(MonotonicSeconds)), m_echo(echo, echoWorkers) {}

DeviceList::~DeviceList() = default;

int64_t DeviceList::MonotonicSeconds() {
    const auto sinceBoot = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::seconds>(sinceBoot).count() + 1;
}

AnswerDisposition DeviceList::OnConverterAnswer(const CMsg& msg) {
    return OnConverterAnswer(msg.address, msg.data);
}

AnswerDisposition DeviceList::OnConverterAnswer(uint32_t source, std::span<const uint8_t> data) {
    const AnswerCheck check = CheckAnswer(data);
    if (check.disposition != AnswerDisposition::Applied &&
        check.disposition != AnswerDisposition::NoSlot)
        return check.disposition;

    const size_t countBefore = m_rows.size();
    const auto found = m_rowOfSource.find(source);
    Row* row = found != m_rowOfSource.end() ? found->second.get() : nullptr;
    if (row == nullptr && m_rows.size() >= m_maxRows) {
        ++m_drops.listFull;
        return AnswerDisposition::ListFull;
    }
    Notify([](IDeviceListObserver& o) { o.UpdateStarted(); });
    // Extended converters are described by their configuration answer alone.
    if (row != nullptr && check.type == AnswerType::Block && row->record.nKind == kKindExtended) {
        Notify([](IDeviceListObserver& o) { o.UpdateFinished(std::nullopt); });
        return AnswerDisposition::ExtendedRowIgnoresBlock;
    }
    // A new row's number is known; looking it up could cost a pass over the rows behind the
    // last new row that was sorted in.
    const bool isNewRow = row == nullptr;
    size_t index = isNewRow ? m_rows.size() : IndexOf(row);
    if (isNewRow)
        row = InsertRow(source);
    else if (!row->echoStarted)
        StartEcho(*row);
    const MacAddress previousMac = row->record.abyMac;
    const AnswerEffect effect = ApplyAnswer(*row, check, data, isNewRow);
    Notify([index](IDeviceListObserver& o) { o.RowChanged(index); });
    if (effect.macChanged)
        TakeMac(row, previousMac);
    Notify([](IDeviceListObserver& o) { o.AnswerApplied(); });

    if (m_rows.size() != countBefore) {
        const std::optional<size_t> placed = SortAfterCountChange(isNewRow ? row : nullptr);
        if (placed)
            index = *placed;
    } else if (isNewRow) {
        m_inOrder = false; // the MAC rule took a row for it: it stays last until the next sort
    }
    // After a MAC address was learned the list has never scrolled to the row (a row removed by
    // the MAC rule may have moved it); otherwise the row is shown where the sort put it.
    std::optional<size_t> show;
    if (!effect.macChanged)
        show = index;
    Notify([show](IDeviceListObserver& o) { o.UpdateFinished(show); });
    return check.disposition;
}

DeviceList::Row* DeviceList::InsertRow(uint32_t source) {
    auto row = std::make_unique<Row>();
    row->record.dwSourceIp = source;
    row->record.dwIp = source;
    row->record.bEchoPending = true;
    ++m_pendingEchoRows;
    row->record.RecomputeComplete();
    row->columns[kColumnAddress] = IpToText(source);

    const size_t index = m_rows.size();
    row->index = index;
    Row* inserted = row.get();
    Notify([index](IDeviceListObserver& o) { o.RowAboutToBeInserted(index); });
    m_rows.push_back(inserted);
    m_rowOfSource[source] = std::move(row);
    Notify([index](IDeviceListObserver& o) { o.RowInserted(index); });
    // Started once the row is listed: an inline echo may hand its result over at once.
    StartEcho(*inserted);
    return inserted;
}

void DeviceList::StartEcho(Row& row) {
    row.echoStarted = m_echo.Start(row.record.dwSourceIp);
    if (!row.echoStarted)
        ++m_drops.echoRefused;
}

size_t DeviceList::CollectEchoResults() {
    const std::vector<ParallelEcho::Result> results = m_echo.TakeResults();
    std::vector<size_t> changed;
    for (const ParallelEcho::Result& result : results) {
        const auto found = m_rowOfSource.find(result.address);
        if (found == m_rowOfSource.end())
            continue; // the row went while its echo ran
        LANconvDevice& record = found->second->record;
        if (!record.bEchoPending)
            continue;
        record.bEchoPending = false;
        --m_pendingEchoRows;
        record.bUnreachable = !result.reply;
        record.RecomputeComplete();
        changed.push_back(IndexOf(found->second.get()));
    }
    if (changed.empty())
        return 0;
    Notify([](IDeviceListObserver& o) { o.UpdateStarted(); });
    for (const size_t row : changed)
        Notify([row](IDeviceListObserver& o) { o.RowChanged(row); });
    Notify([](IDeviceListObserver& o) { o.AnswerApplied(); });
    Notify([](IDeviceListObserver& o) { o.UpdateFinished(std::nullopt); });
    return changed.size();
}

void DeviceList::SetEchoReadyCallback(std::function<void()> ready) {
    m_echo.SetReadyCallback(std::move(ready));
}

bool DeviceList::WaitForEchoes(std::chrono::milliseconds limit) {
    return m_echo.WaitIdle(limit);
}

AnswerEffect DeviceList::ApplyAnswer(Row& row, const AnswerCheck& check,
                                     std::span<const uint8_t> data, bool isNewRow) {
    LANconvDevice& record = row.record;
    LANconvDevice keyBefore;
    keyBefore.dwIp = record.dwIp;
    keyBefore.abyMac = record.abyMac;
    keyBefore.strSerial = record.strSerial;
    keyBefore.dwFirmwareVersion = record.dwFirmwareVersion;

    const int64_t now = m_clock();
    AnswerEffect effect;
    if (check.type == AnswerType::Configuration)
        effect = ApplyConfigurationAnswer(record, data, now);
    else if (check.slot)
        effect = ApplyBlockAnswer(record, *check.slot, data, now);
    else
        record.RecomputeComplete();

    if (!isNewRow && Compare(&keyBefore, &record, m_sortColumn, true) != 0)
        m_inOrder = false;
    if (effect.versionColumn)
        row.columns[kColumnVersion] = *effect.versionColumn;
    if (effect.serialChanged)
        row.columns[kColumnSerial] = SerialColumnText(record.strSerial);
    if (effect.macChanged)
        row.columns[kColumnMac] = MacText(record.abyMac);
    return effect;
}

void DeviceList::TakeMac(Row* row, const MacAddress& previous) {
    const MacAddress& mac = row->record.abyMac;
    if (previous != mac && !IsZero(previous)) {
        const auto held = m_rowOfMac.find(previous);
        if (held != m_rowOfMac.end() && held->second == row)
            m_rowOfMac.erase(held);
    }
    // Rows that have not learned a MAC address yet hold zeros; a converter reporting zeros must
    // not take all of them with it.
    if (IsZero(mac))
        return;
    Row*& holder = m_rowOfMac[mac];
    Row* other = holder;
    holder = row;
    // A converter that moved to a new address leaves its old row this way.
    if (other != nullptr && other != row)
        RemoveRow(IndexOf(other));
}

DropCounts DeviceList::LogDrops() {
    const DropCounts fresh = m_drops - m_dropsLogged;
    m_dropsLogged = m_drops;
    if (fresh.Any() && IsWarningLogEnabled())
        LogWarning("DeviceList::LogDrops: dropped since the last discovery request: " +
                   std::to_string(fresh.queueFull) + " datagrams for a full queue, " +
                   std::to_string(fresh.waitingFull) + " for want of room to wait, " +
                   std::to_string(fresh.listFull) + " from new sources for a full list (" +
                   std::to_string(m_maxRows) + " rows); " + std::to_string(fresh.echoRefused) +
                   " echoes put off");
    return fresh;
}

size_t DeviceList::RemoveStaleEntries() {
    const int64_t now = m_clock();
    size_t removed = 0;
    for (size_t row = m_rows.size(); row-- > 0;) {
        const int64_t lastSeen = m_rows[row]->record.lastSeen;
        if (lastSeen == 0 || now - lastSeen > kStaleAfterSeconds) {
            RemoveRow(row);
            ++removed;
        }
    }
    return removed;
}

bool DeviceList::RemoveEntryByAddress(uint32_t address) {
    if (address == 0)
        return false;
    const std::optional<size_t> row = FindRowBySource(address);
    if (!row)
        return false;
    RemoveRow(*row);
    return true;
}

void DeviceList::Clear() {
    Notify([](IDeviceListObserver& o) { o.RowsAboutToBeCleared(); });
    m_rows.clear();
    m_pendingEchoRows = 0;
    m_rowOfMac.clear();
    m_rowOfSource.clear(); // deletes the rows
    m_firstStaleIndex = SIZE_MAX;
    m_inOrder = true;
    Notify([](IDeviceListObserver& o) { o.RowsCleared(); });
}

void DeviceList::RemoveRow(size_t row) {
    Notify([row](IDeviceListObserver& o) { o.RowAboutToBeRemoved(row); });
    const Row* gone = m_rows[row];
    if (gone->record.bEchoPending)
        --m_pendingEchoRows;
    const auto held = m_rowOfMac.find(gone->record.abyMac);
    if (held != m_rowOfMac.end() && held->second == gone)
        m_rowOfMac.erase(held);
    m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(row));
    MarkIndicesStale(row);
    m_rowOfSource.erase(gone->record.dwSourceIp); // deletes the row
    Notify([row](IDeviceListObserver& o) { o.RowRemoved(row); });
}

size_t DeviceList::IndexOf(const Row* row) const {
    if (row->index >= m_firstStaleIndex) {
        for (size_t i = m_firstStaleIndex; i < m_rows.size(); ++i)
            m_rows[i]->index = i;
        m_firstStaleIndex = SIZE_MAX;
    }
    return row->index;
}

const LANconvDevice* DeviceList::GetRecord(size_t row) const {
    return row < m_rows.size() ? &m_rows[row]->record : nullptr;
}

const std::string& DeviceList::GetColumnText(size_t row, int column) const {
    if (row >= m_rows.size() || column < 0 || column >= kColumnCount)
        return kNoText;
    return m_rows[row]->columns[static_cast<size_t>(column)];
}

RowColourClass DeviceList::GetColourClass(size_t row) const {
    const LANconvDevice* record = GetRecord(row);
    return record != nullptr ? ColourClassOf(*record) : RowColourClass::ReachableComplete;
}

std::optional<size_t> DeviceList::FindRowBySource(uint32_t source) const {
    const auto it = m_rowOfSource.find(source);
    if (it == m_rowOfSource.end())
        return std::nullopt;
    return IndexOf(it->second.get());
}

std::optional<size_t> DeviceList::FindRowByMac(const MacAddress& mac) const {
    if (!IsZero(mac)) {
        const auto held = m_rowOfMac.find(mac);
        if (held == m_rowOfMac.end())
            return std::nullopt;
        return IndexOf(held->second);
    }
    for (size_t row = 0; row < m_rows.size(); ++row) {
        if (m_rows[row]->record.abyMac == mac)
            return row;
    }
    return std::nullopt;
}

void DeviceList::HeaderClick(int column) {
    if (column == m_sortColumn) {
        m_sortAscending = !m_sortAscending;
    } else {
        m_sortColumn = column;
        m_sortAscending = true;
    }
    SortList();
}

void DeviceList::SortList() {
    Notify([](IDeviceListObserver& o) { o.RowsAboutToBeSorted(); });
    SortRows();
    Notify([](IDeviceListObserver& o) { o.RowsSorted(); });
}

SortMark DeviceList::GetSortMark(int column) const {
    if (column != m_sortColumn)
        return SortMark::None;
    return m_sortAscending ? SortMark::Down : SortMark::Up;
}

void DeviceList::SortRows() {
    std::stable_sort(m_rows.begin(), m_rows.end(), [this](const Row* a, const Row* b) {
        return Compare(&a->record, &b->record, m_sortColumn, m_sortAscending) < 0;
    });
    for (size_t i = 0; i < m_rows.size(); ++i)
        m_rows[i]->index = i;
    m_firstStaleIndex = SIZE_MAX;
    m_inOrder = true;
}

std::optional<size_t> DeviceList::SortAfterCountChange(const Row* newRow) {
    Notify([](IDeviceListObserver& o) { o.RowsAboutToBeSorted(); });
    std::optional<size_t> placed;
    if (!m_inOrder) {
        SortRows();
        if (newRow != nullptr)
            placed = newRow->index;
    } else if (newRow != nullptr) {
        // Every row but the new last one is in order: put it behind its equals, where a stable
        // sort of the whole list puts it too.
        Row* const added = m_rows.back();
        const auto last = m_rows.end() - 1;
        const auto place =
            std::upper_bound(m_rows.begin(), last, added, [this](const Row* a, const Row* b) {
                return Compare(&a->record, &b->record, m_sortColumn, m_sortAscending) < 0;
            });
        placed = static_cast<size_t>(place - m_rows.begin());
        std::move_backward(place, last, m_rows.end());
        *place = added;
        MarkIndicesStale(*placed);
    }
    Notify([](IDeviceListObserver& o) { o.RowsSorted(); });
    return placed;
}

int DeviceList::Compare(const LANconvDevice* a, const LANconvDevice* b, int column,
                        bool ascending) {
    if (a == nullptr)
        return -1;
    if (b == nullptr)
        return 1;
    int order = 0;
    switch (column) {
    case kColumnAddress:
        // dwIp holds the octets in memory order, so its value reads them little-endian.
        order = ThreeWay(a->dwIp, b->dwIp);
        break;
    case kColumnMac:
        order = ThreeWay(a->abyMac, b->abyMac);
        break;
    case kColumnSerial:
        order = CompareNoCase(a->strSerial, b->strSerial);
        break;
    case kColumnVersion:
        order = ThreeWay(a->dwFirmwareVersion, b->dwFirmwareVersion);
        break;
    default:
        break;
    }
    return ascending ? order : -order;
}

} // namespace qarn
