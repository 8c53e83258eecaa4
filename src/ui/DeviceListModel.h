#pragma once

#include "protocol/DeviceList.h"
#include "protocol/IDeviceListObserver.h"

#include <cstdint>
#include <vector>

#include <QAbstractTableModel>
#include <QColor>
#include <QStringList>

namespace qarn {

// The device list as a Qt item model: one row per row of the core's DeviceList, in its order,
// with its four column texts, the row colour (black, or red for a converter that does not answer
// echo or whose answers are not all in) and the sort order it keeps. The DeviceList stays the
// one model of the converters; this class only tells views what changed.
//
// Threads: the user-interface thread only, like the DeviceList behind it.
//
// Updates come in batches: the window applies the datagrams that arrived since it last looked
// between BeginBatch and EndBatch. Rows inserted, removed and sorted are announced as they
// happen (views keep selection and scroll position through them); changed texts and colours are
// announced once per batch, for all rows at once, which costs a view one repaint instead of a
// search per row.
class DeviceListModel : public QAbstractTableModel, public IDeviceListObserver {
    Q_OBJECT

  public:
    static inline const QColor kBlackText{0, 0, 0};
    static inline const QColor kRedText{255, 0, 0};

    // Watches `list` from now on (as its observer) until destroyed; `list` must outlive it.
    explicit DeviceListModel(DeviceList& list, QObject* parent = nullptr);
    ~DeviceListModel() override;

    // The four column headings (strings 16000, 16001, 16002, 16004).
    void SetHeadings(const QStringList& headings);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    DeviceList& List() { return m_list; }
    // The record of `row`, null when there is none.
    const LANconvDevice* RecordAt(int row) const;

    void BeginBatch();
    // Announces the text and colour changes of the batch; then ListChanged when anything changed.
    void EndBatch();

    // Rows whose texts changed since the last call (source addresses, network order), and
    // whether rows went meanwhile; for the window's column sizing.
    std::vector<uint32_t> TakeChangedSources();
    bool TakeRowsRemoved();

    // IDeviceListObserver
    void RowAboutToBeInserted(size_t row) override;
    void RowInserted(size_t row) override;
    void RowAboutToBeRemoved(size_t row) override;
    void RowRemoved(size_t row) override;
    void RowChanged(size_t row) override;
    void RowsAboutToBeCleared() override;
    void RowsCleared() override;
    void RowsAboutToBeSorted() override;
    void RowsSorted() override;
    void UpdateFinished(std::optional<size_t> rowToShow) override;

  signals:
    // The list changed: after every batch, and after each change made outside a batch. The sort
    // column or direction may have changed as well. The window refreshes what depends on it here
    // (column widths, sort mark, the enabling of its controls).
    void ListChanged();

  private:
    void AnnounceChangedRows();
    void ListChangedOutsideBatch();

    DeviceList& m_list;
    QStringList m_headings;
    int m_batchDepth = 0;
    bool m_rowsChangedInBatch = false;
    bool m_listChangedInBatch = false;
    bool m_rowsRemoved = false;
    std::vector<uint32_t> m_changedSources;
    // Between RowsAboutToBeSorted and RowsSorted: the source address each persistent index
    // (the view's selection and current row) pointed at, to find its row again afterwards.
    QModelIndexList m_persistentBeforeSort;
    std::vector<uint32_t> m_persistentSources;
};

} // namespace qarn
