#pragma once

#include <QStyledItemDelegate>

namespace qarn {

// Paints the cells of the device list: one line of text, in the row's colour or, selected, in the
// highlight colours. Lighter than the style's general cell painting, which lays out every text
// for wrapping and icons the list never has: with answers arriving all the time the list repaints
// often.
class DeviceListDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

} // namespace qarn
