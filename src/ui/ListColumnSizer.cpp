#include "ui/ListColumnSizer.h"

#include <algorithm>

#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <QTableView>

namespace qarn {

namespace {

// Room around a cell's text: the item view's focus frame on either side and a little air.
constexpr int kTextAir = 8;

} // namespace

ListColumnSizer::ListColumnSizer(QTableView& view, const DeviceList& list)
    : m_view(view), m_list(list) {}

int ListColumnSizer::TextWidth(int column, const std::string& text) {
    // Far more than a segment has texts; a list of spoofed sources must not grow this for ever.
    constexpr size_t kMaxMeasured = 65536;
    std::unordered_map<std::string, int>& measured = m_measured[static_cast<size_t>(column)];
    const auto found = measured.find(text);
    if (found != measured.end())
        return found->second;
    if (measured.size() >= kMaxMeasured)
        measured.clear();
    const int width = QFontMetrics(m_view.font()).horizontalAdvance(QString::fromStdString(text));
    measured.emplace(text, width);
    return width;
}

void ListColumnSizer::MeasureRow(size_t row) {
    for (int column = 0; column < DeviceList::kColumnVersion; ++column) {
        const std::string& text = m_list.GetColumnText(row, column);
        if (text.empty())
            continue;
        int& width = m_contentWidths[static_cast<size_t>(column)];
        width = std::max(width, TextWidth(column, text));
    }
}

void ListColumnSizer::Measure(const std::vector<uint32_t>& sources, bool remeasureAll) {
    if (remeasureAll) {
        m_contentWidths.fill(0);
        for (size_t row = 0; row < m_list.GetRowCount(); ++row)
            MeasureRow(row);
        return;
    }
    for (const uint32_t source : sources) {
        if (const std::optional<size_t> row = m_list.FindRowBySource(source))
            MeasureRow(*row);
    }
}

void ListColumnSizer::Reset() {
    m_contentWidths.fill(0);
}

void ListColumnSizer::Apply() {
    QHeaderView* header = m_view.horizontalHeader();
    const int margin =
        2 * (m_view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &m_view) + 1) +
        kTextAir;
    for (int column = 0; column < DeviceList::kColumnCount; ++column) {
        const auto k = static_cast<size_t>(column);
        int width = header->sectionSizeHint(column);
        if (m_contentWidths[k] > 0)
            width = std::max(width, m_contentWidths[k] + margin);
        if (width != m_appliedWidths[k]) {
            m_appliedWidths[k] = width;
            header->resizeSection(column, width);
        }
    }
}

} // namespace qarn
