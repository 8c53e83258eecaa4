#include "ui/controls/COptionTreeList.h"

#include "app/Resources.h"
#include "ui/controls/COptionTree.h"
#include "ui/controls/COptionTreeItem.h"

#include <algorithm>
#include <vector>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

namespace qarn {

namespace {

constexpr int kExpandBoxSize = 9;
constexpr int kColumnGrip = 5;        // a press this close to the column line resizes
constexpr int kColumnDragBorder = 25; // the dragged line stays this far from either edge
constexpr unsigned kResizeCursor = 142;
constexpr unsigned kLinkCursor = 143;

QCursor BundleCursor(unsigned id, Qt::CursorShape fallback) {
    const std::optional<QCursor> cursor = ResourceCursor(id);
    return cursor.has_value() ? *cursor : QCursor(fallback);
}

} // namespace

COptionTreeList::COptionTreeList(COptionTree* tree) : QAbstractScrollArea(tree), m_tree(tree) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    setFont(tree->GetNormalFont());
}

int COptionTreeList::LabelIndent(int level) {
    return COptionTree::kGutterWidth + std::max(0, level - 2) * COptionTree::kGutterWidth;
}

int COptionTreeList::ScrollOffset() const {
    return verticalScrollBar()->value();
}

void COptionTreeList::UpdateLayout() {
    COptionTreeItem* root = m_tree->GetRootItem();
    m_contentHeight = 0;
    for (const COptionTreeItem* top = root->GetChild(); top != nullptr; top = top->GetSibling())
        m_contentHeight += top->GetTotalHeight();
    // The bar only while the rows do not fit; everything fitting puts the offset back to 0.
    QScrollBar* bar = verticalScrollBar();
    const int viewHeight = viewport()->height();
    if (m_contentHeight > viewHeight && viewHeight > 0) {
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        bar->setRange(0, m_contentHeight - viewport()->height());
        bar->setPageStep(viewport()->height());
        bar->setSingleStep(m_tree->GetDefaultRowHeight());
    } else {
        bar->setValue(0);
        bar->setRange(0, 0);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    int y = -bar->value();
    COptionTreeItem* previous = nullptr;
    m_firstVisible = nullptr;
    for (COptionTreeItem* top = root->m_child; top != nullptr; top = top->m_sibling)
        LayoutRow(top, 1, y, previous);
    if (previous != nullptr)
        previous->m_nextVisible = nullptr;
}

void COptionTreeList::LayoutRow(COptionTreeItem* item, int level, int& y,
                                COptionTreeItem*& previous) {
    const int width = viewport()->width();
    const int column = m_tree->GetColumnWidth();
    const int margin = m_tree->GetMargin();
    const int indent = LabelIndent(level);
    const int height = item->m_height;
    item->m_location = QPoint(0, y);
    if (level == 1)
        item->m_labelRect = QRect(indent, y, std::max(0, width - indent), height);
    else
        item->m_labelRect = QRect(indent, y, std::max(0, column - indent), height);
    const int valueLeft = column + 1 + margin;
    item->m_valueRect = QRect(valueLeft, y, std::max(0, width - valueLeft - margin), height);
    if (item->m_child != nullptr) {
        const int boxX = indent - COptionTree::kGutterWidth + 3;
        item->m_expandBox =
            QRect(boxX, y + (height - kExpandBoxSize) / 2, kExpandBoxSize, kExpandBoxSize);
    } else {
        item->m_expandBox = QRect();
    }
    if (previous != nullptr)
        previous->m_nextVisible = item;
    else
        m_firstVisible = item;
    previous = item;
    y += height;
    if (item->m_expanded)
        for (COptionTreeItem* child = item->m_child; child != nullptr; child = child->m_sibling)
            LayoutRow(child, level + 1, y, previous);
}

COptionTreeItem* COptionTreeList::RowAt(const QPoint& pos) const {
    for (COptionTreeItem* row = m_firstVisible; row != nullptr; row = row->m_nextVisible)
        if (pos.y() >= row->m_location.y() && pos.y() < row->m_location.y() + row->m_height)
            return row;
    return nullptr;
}

void COptionTreeList::ScrollTo(const COptionTreeItem* item) {
    const int top = item->m_location.y();
    const int bottom = top + item->m_height;
    QScrollBar* bar = verticalScrollBar();
    if (top < 0)
        bar->setValue(bar->value() + top);
    else if (bottom > viewport()->height())
        bar->setValue(bar->value() + bottom - viewport()->height());
}

int COptionTreeList::LevelOf(const COptionTreeItem* item) const {
    int level = 0;
    for (; item != nullptr && item != m_tree->GetRootItem(); item = item->m_parent)
        ++level;
    return level;
}

void COptionTreeList::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(viewport());
    const QPalette& palette = m_tree->palette();
    const bool shaded = (m_tree->GetOptions() & COptionTree::OptionShadeBackground) != 0;
    const QPalette::ColorGroup group = m_tree->isEnabled() ? QPalette::Active : QPalette::Disabled;
    painter.fillRect(viewport()->rect(),
                     palette.color(group, shaded ? QPalette::Button : QPalette::Base));
    for (COptionTreeItem* row = m_firstVisible; row != nullptr; row = row->m_nextVisible)
        PaintRow(painter, row, LevelOf(row));
    const int gutterLine = COptionTree::kGutterWidth - 1;
    const int bottom = std::min(viewport()->height(), m_contentHeight - ScrollOffset());
    painter.setPen(palette.color(group, QPalette::Mid));
    if (bottom > 0)
        painter.drawLine(gutterLine, 0, gutterLine, bottom - 1);
    if (m_resizing)
        PaintResizeBar(painter);
}

void COptionTreeList::PaintRow(QPainter& painter, COptionTreeItem* item, int level) {
    const int y = item->m_location.y();
    const int height = item->m_height;
    if (y + height <= 0 || y >= viewport()->height())
        return;
    const QPalette& palette = m_tree->palette();
    const bool enabled = m_tree->isEnabled();
    const int width = viewport()->width();
    const int gutter = COptionTree::kGutterWidth;
    const int margin = m_tree->GetMargin();
    const QColor grid = palette.color(QPalette::Button).darker(108);
    const bool grey = item->m_readOnly || !enabled;
    QColor labelText =
        grey ? palette.color(QPalette::Disabled, QPalette::Text) : item->GetLabelTextColor(palette);
    const QRect label = item->m_labelRect;
    QRect labelArea(gutter, y, label.right() + 1 - gutter, height - 1);
    if (level == 1) {
        const bool shade = (m_tree->GetOptions() & COptionTree::OptionShadeGroupRows) != 0;
        painter.fillRect(QRect(gutter, y, width - gutter, height),
                         shade ? item->GetGroupBackColor(palette) : palette.color(QPalette::Base));
        painter.setFont(m_tree->GetBoldFont());
    } else {
        const int column = m_tree->GetColumnWidth();
        painter.fillRect(labelArea, item->GetLabelBackColor(palette));
        painter.fillRect(QRect(column + 1, y, width - column - 1, height - 1),
                         item->GetValueBackColor(palette));
        painter.setPen(grid);
        painter.drawLine(gutter, y + height - 1, width - 1, y + height - 1);
        painter.drawLine(column, y, column, y + height - 1);
        painter.setFont(m_tree->GetNormalFont());
    }
    if (item->m_selected) {
        painter.fillRect(labelArea, palette.color(QPalette::Highlight));
        labelText = palette.color(QPalette::HighlightedText);
    }
    const QRect textRect = label.adjusted(margin, 0, -margin / 2, 0);
    const QString shown = painter.fontMetrics().elidedText(item->m_label, Qt::ElideRight,
                                                           std::max(0, textRect.width()));
    painter.setPen(labelText);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    if (level != 1) {
        painter.save();
        painter.setClipRect(QRect(m_tree->GetColumnWidth() + 1, y,
                                  width - m_tree->GetColumnWidth() - 1, height - 1));
        painter.setFont(m_tree->GetNormalFont());
        painter.setPen(grey ? palette.color(QPalette::Disabled, QPalette::Text)
                            : item->GetValueTextColor(palette));
        item->DrawValue(painter, item->m_valueRect);
        painter.restore();
    }
    PaintExpandBox(painter, item);
}

void COptionTreeList::PaintExpandBox(QPainter& painter, const COptionTreeItem* item) const {
    if (item->m_expandBox.isEmpty())
        return;
    const QPalette& palette = m_tree->palette();
    const QRect box = item->m_expandBox;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(box, palette.color(QPalette::Base));
    painter.setPen(palette.color(QPalette::Mid));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    painter.setPen(palette.color(QPalette::Text));
    const int cx = box.left() + box.width() / 2;
    const int cy = box.top() + box.height() / 2;
    painter.drawLine(box.left() + 2, cy, box.right() - 2, cy);
    if (!item->m_expanded)
        painter.drawLine(cx, box.top() + 2, cx, box.bottom() - 2);
    painter.restore();
}

void COptionTreeList::PaintResizeBar(QPainter& painter) const {
    QPen pen(m_tree->palette().color(QPalette::Text));
    pen.setStyle(Qt::DotLine);
    pen.setWidth(2);
    painter.setPen(pen);
    painter.drawLine(m_resizeX, 0, m_resizeX, viewport()->height());
}

void COptionTreeList::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateLayout();
    m_tree->RefreshAllItems();
}

void COptionTreeList::scrollContentsBy(int /*dx*/, int /*dy*/) {
    UpdateLayout();
    m_tree->MoveAllItems();
    viewport()->update();
}

bool COptionTreeList::NearColumnLine(const COptionTreeItem* row, int x) const {
    return LevelOf(row) != 1 && std::abs(x - m_tree->GetColumnWidth()) <= kColumnGrip;
}

void COptionTreeList::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    UpdateLayout();
    const QPoint pos = event->position().toPoint();
    COptionTreeItem* row = RowAt(pos);
    if (row == nullptr)
        return;
    if (row->m_expandBox.adjusted(-2, -2, 2, 2).contains(pos)) {
        ExpandRow(row, !row->m_expanded);
        return;
    }
    if (NearColumnLine(row, pos.x())) {
        if (m_tree->SendNotify(OT_NOTIFY_COLUMNCLICK, nullptr) == 0) {
            m_resizing = true;
            m_resizeX = pos.x();
            viewport()->update();
        }
        return;
    }
    if (LevelOf(row) != 1 && pos.x() > m_tree->GetColumnWidth())
        ClickValue(row, pos);
    else
        ClickLabel(row);
}

void COptionTreeList::ClickValue(COptionTreeItem* row, const QPoint& pos) {
    DeselectAll();
    row->Select(true);
    const std::uint64_t deletions = m_tree->m_deletions;
    const int veto = m_tree->SendNotify(OT_NOTIFY_PROPCLICK, row);
    if (m_tree->m_deletions != deletions && !m_tree->HoldsItem(row))
        return;
    const bool activate = veto == 0 && !row->m_readOnly;
    if (activate)
        row->Activate();
    m_tree->FocusItem(row);
    if (activate && row->m_activated)
        row->OnClickActivated(pos);
}

void COptionTreeList::ClickLabel(COptionTreeItem* row) {
    DeselectAll();
    row->Select(true);
    m_tree->FocusItem(row);
    if (LevelOf(row) != 1 && m_tree->HoldsItem(row))
        m_tree->SendNotify(OT_NOTIFY_ITEMBUTTONCLICK, row);
}

void COptionTreeList::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (m_resizing) {
        const int right = viewport()->width() - kColumnDragBorder;
        m_resizeX = std::clamp(pos.x(), COptionTree::kGutterWidth + kColumnDragBorder,
                               std::max(COptionTree::kGutterWidth + kColumnDragBorder, right));
        viewport()->update();
        return;
    }
    UpdateCursor(pos);
}

void COptionTreeList::UpdateCursor(const QPoint& pos) {
    const COptionTreeItem* row = RowAt(pos);
    if (m_resizing || (row != nullptr && NearColumnLine(row, pos.x())))
        viewport()->setCursor(BundleCursor(kResizeCursor, Qt::SplitHCursor));
    else if (row != nullptr && LevelOf(row) != 1 && row->WantsLinkCursor(pos))
        viewport()->setCursor(BundleCursor(kLinkCursor, Qt::PointingHandCursor));
    else
        viewport()->unsetCursor();
}

void COptionTreeList::mouseReleaseEvent(QMouseEvent* event) {
    if (!m_resizing || event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_resizing = false;
    const int right = viewport()->width() - kColumnDragBorder;
    const int x =
        std::clamp(event->position().toPoint().x(), COptionTree::kGutterWidth + kColumnDragBorder,
                   std::max(COptionTree::kGutterWidth + kColumnDragBorder, right));
    m_tree->SetColumnWidth(x);
    m_tree->RefreshAllItems();
    UpdateCursor(event->position().toPoint());
}

void COptionTreeList::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    UpdateLayout();
    const QPoint pos = event->position().toPoint();
    COptionTreeItem* row = RowAt(pos);
    if (row == nullptr)
        return;
    if (NearColumnLine(row, pos.x())) {
        // Fit the column to the widest label in sight.
        const QFontMetrics metrics(m_tree->GetNormalFont());
        const int margin = m_tree->GetMargin();
        int widest = COptionTree::kGutterWidth;
        for (const COptionTreeItem* each = m_firstVisible; each != nullptr;
             each = each->m_nextVisible) {
            if (LevelOf(each) != 1)
                widest = std::max(widest, each->m_labelRect.left() + margin +
                                              metrics.horizontalAdvance(each->m_label) + margin);
        }
        m_tree->SetColumnWidth(std::min(widest, viewport()->width() - kColumnDragBorder));
        m_tree->RefreshAllItems();
        return;
    }
    if (row->m_child != nullptr) {
        DeselectAll();
        row->Select(true);
        m_tree->FocusItem(row);
        if (m_tree->HoldsItem(row))
            ExpandRow(row, !row->m_expanded);
        return;
    }
    const bool onLabel = LevelOf(row) != 1 && pos.x() < m_tree->GetColumnWidth();
    m_tree->SendNotify(onLabel ? OT_NOTIFY_LABELDBLCLICK : OT_NOTIFY_DBLCLICK, row);
}

bool COptionTreeList::ExpandRow(COptionTreeItem* item, bool expand) {
    if (item == nullptr || item->m_child == nullptr || item->m_expanded == expand)
        return false;
    const std::uint64_t deletions = m_tree->m_deletions;
    if (m_tree->SendNotify(OT_NOTIFY_ITEMEXPANDING, item) != 0)
        return false;
    if (m_tree->m_deletions != deletions && !m_tree->HoldsItem(item))
        return false;
    item->SetExpanded(expand);
    m_tree->SendNotify(OT_NOTIFY_CLICK, item);
    return true;
}

bool COptionTreeList::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool plain = (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) == 0;
        if (plain && (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)) {
            TabToRow(key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier) == 0);
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void COptionTreeList::keyPressEvent(QKeyEvent* event) {
    UpdateLayout();
    COptionTreeItem* focused = m_tree->GetFocusedItem();
    switch (event->key()) {
    case Qt::Key_Down:
        FocusRow(focused != nullptr ? NextRow(focused, true) : m_firstVisible);
        break;
    case Qt::Key_Up:
        FocusRow(focused != nullptr ? PreviousRow(focused) : LastRow());
        break;
    case Qt::Key_Home:
        FocusRow(m_firstVisible);
        break;
    case Qt::Key_End:
        FocusRow(LastRow());
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Kept from the dialog around the tree: Enter among the settings must never press its
        // default button (which writes them to the converter).
        if (focused == nullptr || LevelOf(focused) == 1)
            break;
        DeselectAll();
        focused->Select(true);
        if (!focused->m_readOnly)
            focused->Activate();
        m_tree->FocusItem(focused);
        break;
    case Qt::Key_Space:
        if (focused != nullptr)
            ExpandRow(focused, !focused->m_expanded);
        break;
    case Qt::Key_Left:
        // A row that cannot collapse hands the focus to its parent, as in any tree.
        if (focused != nullptr && !ExpandRow(focused, false) && !focused->IsRootLevel())
            FocusRow(focused->m_parent);
        break;
    case Qt::Key_Right:
        if (focused != nullptr)
            ExpandRow(focused, true);
        break;
    case Qt::Key_Escape:
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void COptionTreeList::TabToRow(bool forward) {
    setFocus(Qt::TabFocusReason); // an open editor loses the focus and commits
    UpdateLayout();
    COptionTreeItem* focused = m_tree->GetFocusedItem();
    if (focused != nullptr && !m_tree->HoldsItem(focused))
        focused = nullptr;
    // Tab visits the values: group rows, read-only rows and rows without a value are passed.
    auto stops = [this](const COptionTreeItem* row) {
        return LevelOf(row) != 1 && !row->m_readOnly &&
               row->GetTabStop() != COptionTreeItem::TabStop::Skip;
    };
    COptionTreeItem* row = nullptr;
    if (forward) {
        row = focused != nullptr ? focused->m_nextVisible : m_firstVisible;
        while (row != nullptr && !stops(row))
            row = row->m_nextVisible;
    } else {
        row = focused != nullptr ? PreviousRow(focused) : LastRow();
        while (row != nullptr && !stops(row))
            row = PreviousRow(row);
    }
    if (row == nullptr) {
        focusNextPrevChild(forward); // past the last value: on to the next control
        return;
    }
    FocusRow(row);
    if (m_tree->HoldsItem(row) && row->GetTabStop() == COptionTreeItem::TabStop::Activate)
        row->Activate();
}

void COptionTreeList::FocusRow(COptionTreeItem* row) {
    if (row == nullptr)
        return;
    const bool changed = row != m_tree->GetFocusedItem();
    DeselectAll();
    row->Select(true);
    if (changed) {
        m_tree->FocusItem(row);
    } else {
        m_tree->EnsureVisible(row);
        m_tree->UpdateTree();
    }
}

COptionTreeItem* COptionTreeList::NextRow(COptionTreeItem* from, bool skipReadOnly) const {
    COptionTreeItem* row = from->m_nextVisible;
    while (row != nullptr && skipReadOnly && row->m_readOnly)
        row = row->m_nextVisible;
    return row;
}

COptionTreeItem* COptionTreeList::PreviousRow(COptionTreeItem* from) const {
    COptionTreeItem* previous = nullptr;
    for (COptionTreeItem* row = m_firstVisible; row != nullptr && row != from;
         row = row->m_nextVisible)
        previous = row;
    return previous;
}

COptionTreeItem* COptionTreeList::LastRow() const {
    COptionTreeItem* last = nullptr;
    for (COptionTreeItem* row = m_firstVisible; row != nullptr; row = row->m_nextVisible)
        last = row;
    return last;
}

void COptionTreeList::DeselectAll() {
    // Rows inside collapsed parents too: one selected row is the rule.
    std::vector<COptionTreeItem*> pending{m_tree->GetRootItem()->m_child};
    while (!pending.empty()) {
        COptionTreeItem* row = pending.back();
        pending.pop_back();
        for (; row != nullptr; row = row->m_sibling) {
            if (row->m_selected)
                row->Select(false);
            pending.push_back(row->m_child);
        }
    }
}

void COptionTreeList::leaveEvent(QEvent* event) {
    QAbstractScrollArea::leaveEvent(event);
    if (!m_resizing)
        viewport()->unsetCursor();
}

} // namespace qarn
