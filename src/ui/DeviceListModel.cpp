#include "ui/DeviceListModel.h"

#include <utility>

namespace qarn {

DeviceListModel::DeviceListModel(DeviceList& list, QObject* parent)
    : QAbstractTableModel(parent), m_list(list) {
    m_list.SetObserver(this);
}

DeviceListModel::~DeviceListModel() {
    m_list.SetObserver(nullptr);
}

void DeviceListModel::SetHeadings(const QStringList& headings) {
    m_headings = headings;
    emit headerDataChanged(Qt::Horizontal, 0, DeviceList::kColumnCount - 1);
}

int DeviceListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_list.GetRowCount());
}

int DeviceListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : DeviceList::kColumnCount;
}

const LANconvDevice* DeviceListModel::RecordAt(int row) const {
    return row < 0 ? nullptr : m_list.GetRecord(static_cast<size_t>(row));
}

QVariant DeviceListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const auto row = static_cast<size_t>(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(m_list.GetColumnText(row, index.column()));
    case Qt::ForegroundRole:
        return IsDrawnRed(m_list.GetColourClass(row)) ? kRedText : kBlackText;
    default:
        return {};
    }
}

QVariant DeviceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= m_headings.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return m_headings[section];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags DeviceListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void DeviceListModel::BeginBatch() {
    ++m_batchDepth;
}

void DeviceListModel::EndBatch() {
    if (m_batchDepth == 0 || --m_batchDepth > 0)
        return;
    AnnounceChangedRows();
    if (std::exchange(m_listChangedInBatch, false))
        emit ListChanged();
}

std::vector<uint32_t> DeviceListModel::TakeChangedSources() {
    return std::exchange(m_changedSources, {});
}

bool DeviceListModel::TakeRowsRemoved() {
    return std::exchange(m_rowsRemoved, false);
}

void DeviceListModel::AnnounceChangedRows() {
    if (!m_rowsChangedInBatch)
        return;
    m_rowsChangedInBatch = false;
    const int rows = rowCount();
    if (rows > 0)
        emit dataChanged(index(0, 0), index(rows - 1, DeviceList::kColumnCount - 1));
}

void DeviceListModel::ListChangedOutsideBatch() {
    if (m_batchDepth > 0) {
        m_listChangedInBatch = true;
        return;
    }
    AnnounceChangedRows();
    emit ListChanged();
}

void DeviceListModel::RowAboutToBeInserted(size_t row) {
    const int at = static_cast<int>(row);
    beginInsertRows(QModelIndex(), at, at);
}

void DeviceListModel::RowInserted(size_t) {
    endInsertRows(); // RowChanged follows for the new row
}

void DeviceListModel::RowAboutToBeRemoved(size_t row) {
    const int at = static_cast<int>(row);
    beginRemoveRows(QModelIndex(), at, at);
}

void DeviceListModel::RowRemoved(size_t) {
    endRemoveRows();
    m_rowsRemoved = true;
    ListChangedOutsideBatch();
}

void DeviceListModel::RowChanged(size_t row) {
    m_rowsChangedInBatch = true;
    m_listChangedInBatch = true;
    if (const LANconvDevice* record = m_list.GetRecord(row))
        m_changedSources.push_back(record->dwSourceIp);
}

void DeviceListModel::RowsAboutToBeCleared() {
    beginResetModel();
}

void DeviceListModel::RowsCleared() {
    endResetModel();
    m_changedSources.clear();
    m_rowsChangedInBatch = false;
    m_rowsRemoved = true;
    ListChangedOutsideBatch();
}

void DeviceListModel::RowsAboutToBeSorted() {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    m_persistentBeforeSort = persistentIndexList();
    m_persistentSources.clear();
    m_persistentSources.reserve(static_cast<size_t>(m_persistentBeforeSort.size()));
    for (const QModelIndex& index : std::as_const(m_persistentBeforeSort)) {
        const LANconvDevice* record = RecordAt(index.row());
        m_persistentSources.push_back(record != nullptr ? record->dwSourceIp : 0);
    }
}

void DeviceListModel::RowsSorted() {
    QModelIndexList after;
    after.reserve(m_persistentBeforeSort.size());
    for (qsizetype i = 0; i < m_persistentBeforeSort.size(); ++i) {
        const QModelIndex& before = m_persistentBeforeSort[i];
        const std::optional<size_t> row =
            m_list.FindRowBySource(m_persistentSources[static_cast<size_t>(i)]);
        after.push_back(row ? index(static_cast<int>(*row), before.column()) : QModelIndex());
    }
    changePersistentIndexList(m_persistentBeforeSort, after);
    m_persistentBeforeSort.clear();
    m_persistentSources.clear();
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    ListChangedOutsideBatch();
}

void DeviceListModel::UpdateFinished(std::optional<size_t>) {
    // The window does not scroll to the answering row: with a busy segment the list would jump
    // under the user's hand several times a second.
    ListChangedOutsideBatch();
}

} // namespace qarn
