#include "ui/controls/COptionTreeItemHyperLink.h"

#include "ui/controls/COptionTree.h"

#include <QDesktopServices>
#include <QPainter>

namespace qarn {

bool COptionTreeItemHyperLink::CreateHyperLinkItem(const QString& text, const QUrl& target) {
    if (GetTree() == nullptr || m_created)
        return false;
    m_created = true;
    m_text = text;
    m_target = target;
    GetTree()->UpdateTree();
    return true;
}

void COptionTreeItemHyperLink::SetLinkText(const QString& text) {
    m_text = text;
    if (GetTree() != nullptr)
        GetTree()->UpdateTree();
}

void COptionTreeItemHyperLink::DrawValue(QPainter& painter, const QRect& rect) {
    COptionTreeItem::DrawValue(painter, rect);
    const QPalette& palette = GetTree()->palette();
    QFont font = painter.font();
    font.setUnderline(true);
    painter.setFont(font);
    if (IsReadOnly() || !GetTree()->isEnabled())
        painter.setPen(ValueTextColor());
    else
        painter.setPen(palette.color(m_visited ? QPalette::LinkVisited : QPalette::Link));
    const QString shown = painter.fontMetrics().elidedText(m_text, Qt::ElideRight, rect.width());
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

void COptionTreeItemHyperLink::OnActivate() {
    if (!m_created || !m_target.isValid())
        return;
    m_visited = true;
    GetTree()->UpdateTree();
    QDesktopServices::openUrl(m_target);
}

bool COptionTreeItemHyperLink::WantsLinkCursor(const QPoint& pos) const {
    // The whole value is the link, as a click anywhere on it opens the target.
    return m_created && !IsReadOnly() && GetValueRect().contains(pos);
}

COptionTreeItem::TabStop COptionTreeItemHyperLink::GetTabStop() const {
    return m_created ? TabStop::Focus : TabStop::Skip;
}

} // namespace qarn
