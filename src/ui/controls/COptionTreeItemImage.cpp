#include "ui/controls/COptionTreeItemImage.h"

#include "ui/controls/COptionTree.h"
#include "ui/controls/COptionTreeImagePopUp.h"
#include "ui/controls/COptionTreeList.h"

#include <QPainter>
#include <QPointer>

namespace qarn {

bool COptionTreeItemImage::CreateImageItem(std::uint32_t options, int columns) {
    if (GetTree() == nullptr || m_created)
        return false;
    m_created = true;
    m_options = options;
    m_columns = std::max(1, columns);
    return true;
}

int COptionTreeItemImage::AddImage(const QPixmap& image, const QString& text) {
    m_images.push_back(image);
    while (m_texts.size() + 1 < static_cast<qsizetype>(m_images.size()))
        m_texts.append(QString());
    m_texts.append(text);
    // The row is at least as high as its images.
    const int needed = image.deviceIndependentSize().toSize().height() + 4;
    if (needed > GetItemHeight())
        SetItemHeight(needed);
    if (GetTree() != nullptr)
        GetTree()->UpdateTree();
    return GetImageCount() - 1;
}

void COptionTreeItemImage::SetSelection(int index) {
    m_selected = index >= 0 && index < GetImageCount() ? index : -1;
    if (GetTree() != nullptr)
        GetTree()->UpdateTree();
}

void COptionTreeItemImage::DrawValue(QPainter& painter, const QRect& rect) {
    COptionTreeItem::DrawValue(painter, rect);
    if (m_selected < 0)
        return;
    const QPixmap& image = m_images[static_cast<std::size_t>(m_selected)];
    const QSize size = image.deviceIndependentSize().toSize();
    const int y = rect.top() + (rect.height() - size.height()) / 2;
    painter.drawPixmap(QPoint(rect.left(), y), image);
    if ((m_options & OptionShowText) == 0 || m_selected >= m_texts.size())
        return;
    painter.setPen(ValueTextColor());
    painter.drawText(rect.adjusted(size.width() + GetTree()->GetMargin(), 0, 0, 0),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_texts.at(m_selected));
}

void COptionTreeItemImage::OnActivate() {
    if (!m_created)
        return;
    QWidget* viewport = GetTree()->GetList()->viewport();
    QPointer<QObject> alive = Context();
    auto* popup = new COptionTreeImagePopUp(viewport, m_images, m_texts, m_selected, m_columns,
                                            [this, alive](std::optional<int> picked) {
                                                if (alive != nullptr)
                                                    Done(picked);
                                            });
    const QRect value = GetValueRect();
    popup->ShowBelow(QRect(viewport->mapToGlobal(value.topLeft()), value.size()));
}

void COptionTreeItemImage::Done(std::optional<int> picked) {
    if (picked.has_value())
        m_selected = *picked;
    Commit(false);
}

COptionTreeItem::TabStop COptionTreeItemImage::GetTabStop() const {
    return m_created ? TabStop::Focus : TabStop::Skip;
}

} // namespace qarn
