#include "ui/controls/COptionTreeItemStatic.h"

#include "ui/controls/COptionTree.h"

#include <QPainter>

namespace qarn {

void COptionTreeItemStatic::SetStaticText(const QString& text) {
    m_text = text;
    if (GetTree() != nullptr)
        GetTree()->UpdateTree();
}

void COptionTreeItemStatic::DrawValue(QPainter& painter, const QRect& rect) {
    COptionTreeItem::DrawValue(painter, rect);
    painter.setPen(ValueTextColor());
    const QString shown = painter.fontMetrics().elidedText(m_text, Qt::ElideRight, rect.width());
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

} // namespace qarn
