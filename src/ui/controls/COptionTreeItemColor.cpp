#include "ui/controls/COptionTreeItemColor.h"

#include "ui/controls/COptionTree.h"
#include "ui/controls/COptionTreeColorPopUp.h"
#include "ui/controls/COptionTreeList.h"

#include <QPainter>
#include <QPointer>

namespace qarn {

bool COptionTreeItemColor::CreateColorItem(std::uint32_t options, const QColor& color,
                                           const QColor& automatic) {
    if (GetTree() == nullptr || m_created)
        return false;
    m_created = true;
    m_options = options;
    m_color = color;
    m_automatic = automatic;
    GetTree()->UpdateTree();
    return true;
}

void COptionTreeItemColor::SetColor(const QColor& color) {
    m_color = color;
    if (GetTree() != nullptr)
        GetTree()->UpdateTree();
}

QString COptionTreeItemColor::GetColorText() const {
    if ((m_options & OptionHex) != 0)
        return m_color.name(QColor::HexRgb).toUpper();
    return QStringLiteral("RGB (%1, %2, %3)")
        .arg(m_color.red())
        .arg(m_color.green())
        .arg(m_color.blue());
}

void COptionTreeItemColor::DrawValue(QPainter& painter, const QRect& rect) {
    COptionTreeItem::DrawValue(painter, rect);
    if (!m_created)
        return;
    const int side = std::max(4, rect.height() - 8);
    const QRect swatch(rect.left(), rect.top() + (rect.height() - side) / 2, side * 3 / 2, side);
    painter.fillRect(swatch, m_color);
    painter.setPen(ValueTextColor());
    painter.drawRect(swatch.adjusted(0, 0, -1, -1));
    const QRect text = rect.adjusted(swatch.width() + GetTree()->GetMargin(), 0, 0, 0);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, GetColorText());
}

void COptionTreeItemColor::OnActivate() {
    if (!m_created)
        return;
    QWidget* viewport = GetTree()->GetList()->viewport();
    QPointer<QObject> alive = Context();
    auto* popup = new COptionTreeColorPopUp(viewport, m_color, m_automatic,
                                            [this, alive](std::optional<QColor> picked) {
                                                if (alive != nullptr)
                                                    Done(picked);
                                            });
    const QRect value = GetValueRect();
    popup->ShowBelow(QRect(viewport->mapToGlobal(value.topLeft()), value.size()));
}

void COptionTreeItemColor::Done(std::optional<QColor> picked) {
    if (picked.has_value())
        m_color = *picked;
    Commit(false);
}

COptionTreeItem::TabStop COptionTreeItemColor::GetTabStop() const {
    return m_created ? TabStop::Focus : TabStop::Skip;
}

} // namespace qarn
