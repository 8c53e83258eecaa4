#include "ui/controls/COptionTreeItemSingleImage.h"

#include "ui/controls/COptionTree.h"

#include <QPainter>

namespace qarn {

void COptionTreeItemSingleImage::SetBitmap(const QPixmap& bitmap) {
    m_bitmap = bitmap;
    const int needed = bitmap.deviceIndependentSize().toSize().height() + 4;
    if (needed > GetItemHeight())
        SetItemHeight(needed);
    if (GetTree() != nullptr)
        GetTree()->UpdateTree();
}

void COptionTreeItemSingleImage::DrawValue(QPainter& painter, const QRect& rect) {
    COptionTreeItem::DrawValue(painter, rect);
    if (m_bitmap.isNull())
        return;
    const QSize size = m_bitmap.deviceIndependentSize().toSize();
    painter.drawPixmap(QPoint(rect.left(), rect.top() + (rect.height() - size.height()) / 2),
                       m_bitmap);
}

} // namespace qarn
