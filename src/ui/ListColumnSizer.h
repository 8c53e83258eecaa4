#pragma once

#include "protocol/DeviceList.h"

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class QTableView;
class QFontMetrics;

namespace qarn {

// Keeps the device list's columns as wide as their texts: every column at least as wide as its
// heading, the address, MAC and serial columns as wide as their widest text, the version column
// as wide as its heading (the last column takes the rest of the list's width). Texts are
// measured as rows change, so that a list of thousands of rows is not measured whole after every
// answer.
class ListColumnSizer {
  public:
    ListColumnSizer(QTableView& view, const DeviceList& list);

    // Measures the rows of `sources` (source addresses); all rows when `remeasureAll` (rows went,
    // so a column may have become narrower).
    void Measure(const std::vector<uint32_t>& sources, bool remeasureAll);
    // Forgets every measurement: the columns fit their headings.
    void Reset();
    // Gives the columns the widths measured, where they changed.
    void Apply();

    int ContentWidth(int column) const { return m_contentWidths[static_cast<size_t>(column)]; }

  private:
    void MeasureRow(size_t row);
    // The width of `text` in the list's font; each distinct text is measured once.
    int TextWidth(int column, const std::string& text);

    QTableView& m_view;
    const DeviceList& m_list;
    std::array<int, DeviceList::kColumnCount> m_contentWidths{};
    std::array<int, DeviceList::kColumnCount> m_appliedWidths{};
    // Texts keep coming back with every answer: shaping them again would cost more than all
    // else the window does with an answer.
    std::array<std::unordered_map<std::string, int>, DeviceList::kColumnCount> m_measured;
};

} // namespace qarn
