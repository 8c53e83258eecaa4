#pragma once

// A row that shows one picture as its value (a device photo, a wiring sketch); not editable.
// The row grows to the picture's height.

#include "ui/controls/COptionTreeItem.h"

namespace qarn {

class COptionTreeItemSingleImage : public COptionTreeItem {
  public:
    COptionTreeItemSingleImage() = default;

    void SetBitmap(const QPixmap& bitmap);
    QPixmap GetBitmap() const { return m_bitmap; }

    void DrawValue(QPainter& painter, const QRect& rect) override;

  private:
    QPixmap m_bitmap;
};

} // namespace qarn
