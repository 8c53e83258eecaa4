#pragma once

#include <cstddef>
#include <optional>

namespace qarn {

// What a view of the device list (the window's list, a Qt item model, the command line's live
// table) hears from the model. Every call comes on the thread that owns the model, in the middle
// of the model's own work: an observer may read the model (row count, records, column texts) but
// must not change it. Row numbers are those of the moment of the call. Paired "about to" / done
// calls let an item model announce a change before it happens.
//
// One answer brings, in this order: UpdateStarted; at most one new row (RowAboutToBeInserted,
// RowInserted); RowChanged for the answering row; removals of rows that another converter's MAC
// address pushed out; AnswerApplied; a sort when the number of rows changed; UpdateFinished.
// Echo results (DeviceList::CollectEchoResults) bring UpdateStarted, RowChanged for each row whose
// reachability is now known, AnswerApplied and UpdateFinished without a row to show.
class IDeviceListObserver {
  public:
    virtual ~IDeviceListObserver() = default;

    // A datagram starts changing the list: stop redrawing until UpdateFinished.
    virtual void UpdateStarted() {}
    // The datagram's changes are complete: size every column to its content except the version
    // column (sized to its heading), redraw, and bring `rowToShow` into view when it is given.
    virtual void UpdateFinished(std::optional<size_t> rowToShow) { (void)rowToShow; }

    virtual void RowAboutToBeInserted(size_t row) { (void)row; }
    virtual void RowInserted(size_t row) { (void)row; }
    virtual void RowAboutToBeRemoved(size_t row) { (void)row; }
    virtual void RowRemoved(size_t row) { (void)row; }
    // The row's record or column texts changed (its colour may have changed with them).
    virtual void RowChanged(size_t row) { (void)row; }
    virtual void RowsAboutToBeCleared() {}
    virtual void RowsCleared() {}
    // The rows are being put in the model's sort order; sort column and direction (and with them
    // the header marks) may have changed too.
    virtual void RowsAboutToBeSorted() {}
    virtual void RowsSorted() {}

    // A converter's answer was taken into its record: a window refreshes what depends on the
    // selected converter (the enabling of its controls, the firmware button's caption).
    virtual void AnswerApplied() {}
};

} // namespace qarn
