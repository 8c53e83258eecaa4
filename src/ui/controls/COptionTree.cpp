#include "ui/controls/COptionTree.h"

#include "ui/controls/COptionTreeInfo.h"
#include "ui/controls/COptionTreeList.h"

#include <algorithm>

#include <QApplication>
#include <QEvent>
#include <QFontInfo>
#include <QKeyEvent>
#include <QScrollBar>

namespace qarn {

namespace {

// Whether `widget` is `editor` or lies below it, pop-up windows included (a combo box's list and
// a date edit's calendar are windows of their own whose parent is the editor).
bool IsInside(const QWidget* editor, const QWidget* widget) {
    for (; widget != nullptr; widget = widget->parentWidget())
        if (widget == editor)
            return true;
    return false;
}

// Every item below `item` (not `item` itself), parents before children.
template <typename Visit>
void ForEachDescendant(COptionTreeItem* item, Visit visit) {
    for (COptionTreeItem* child = item->GetChild(); child != nullptr;) {
        COptionTreeItem* next = child->GetSibling(); // the visit may not delete, but be safe
        visit(child);
        ForEachDescendant(child, visit);
        child = next;
    }
}

} // namespace

COptionTree::COptionTree(QWidget* parent, std::uint32_t options)
    : QWidget(parent), m_options(options & ~std::uint32_t{OptionNotify}) {
    m_root.m_tree = this;
    m_root.m_expanded = true;
    BuildFonts();
    m_list = new COptionTreeList(this);
    m_info = new COptionTreeInfo(this);
    m_info->setVisible((m_options & OptionShowInfo) != 0);
    connect(qApp, &QApplication::focusChanged, this, &COptionTree::OnFocusChanged);
    LayoutChildren();
}

COptionTree::~COptionTree() {
    // Items first, while the list (the parent of their editors) still exists.
    m_options &= ~std::uint32_t{OptionNotify};
    m_activated.clear();
    m_focused = nullptr;
    while (m_root.m_child != nullptr)
        DeleteItemTree(m_root.m_child);
    m_root.m_tree = nullptr;
}

void COptionTree::SetNotify(bool enable, QObject* receiver) {
    if (enable)
        m_options |= OptionNotify;
    else
        m_options &= ~std::uint32_t{OptionNotify};
    m_notifyReceiver = receiver;
    LayoutChildren();
    UpdateTree();
}

void COptionTree::SetColumnWidth(int width) {
    width = std::max(width, kGutterWidth);
    if (!rect().isEmpty())
        width = std::max(kGutterWidth, std::min(width, this->width() - kGutterWidth));
    m_columnWidth = width;
    m_columnWidthSet = true;
    UpdateTree();
}

COptionTreeItem* COptionTree::InsertItem(COptionTreeItem* item, COptionTreeItem* parent,
                                         COptionTreeItem* after) {
    if (item == nullptr)
        return nullptr;
    if (parent == nullptr)
        parent = &m_root;
    item->m_parent = parent;
    item->m_tree = this;
    item->m_sibling = nullptr;
    if (parent->m_child == nullptr) {
        parent->m_child = item;
    } else {
        COptionTreeItem* last = parent->m_child;
        COptionTreeItem* anchor = nullptr;
        for (COptionTreeItem* child = parent->m_child; child != nullptr; child = child->m_sibling) {
            if (child == after)
                anchor = child;
            last = child;
        }
        if (anchor == nullptr)
            anchor = last;
        item->m_sibling = anchor->m_sibling;
        anchor->m_sibling = item;
    }
    item->m_id = ++m_itemCounter;
    if (item->m_height == 0)
        item->SetItemHeight(GetDefaultRowHeight());
    SendNotify(OT_NOTIFY_INSERTITEM, item);
    UpdateTree();
    return item;
}

void COptionTree::DeleteItem(COptionTreeItem* item) {
    if (item == nullptr)
        return;
    if (item == &m_root) {
        while (m_root.m_child != nullptr)
            DeleteItemTree(m_root.m_child);
    } else if (HoldsItem(item)) {
        DeleteItemTree(item);
    }
    UpdateTree();
}

void COptionTree::DeleteAllItems() {
    SendNotify(OT_NOTIFY_DELETEITEM, nullptr);
    DeleteItem(&m_root);
    m_itemCounter = 1;
}

void COptionTree::DeleteItemTree(COptionTreeItem* item) {
    SendNotify(OT_NOTIFY_DELETEITEM, item);
    while (item->m_child != nullptr)
        DeleteItemTree(item->m_child);
    if (m_focused == item)
        m_focused = nullptr;
    TrackActivation(item, false);
    if (QWidget* editor = item->m_editor;
        editor != nullptr && IsInside(editor, qApp->focusWidget()))
        m_list->setFocus(Qt::OtherFocusReason);
    item->OnDestroyEditor();
    COptionTreeItem* parent = item->m_parent;
    if (parent != nullptr) {
        if (parent->m_child == item) {
            parent->m_child = item->m_sibling;
        } else {
            for (COptionTreeItem* child = parent->m_child; child != nullptr;
                 child = child->m_sibling) {
                if (child->m_sibling == item) {
                    child->m_sibling = item->m_sibling;
                    break;
                }
            }
        }
    }
    ++m_deletions;
    if (m_list != nullptr)
        m_list->ForgetRows();
    delete item;
}

COptionTreeItem* COptionTree::FindItem(int id) {
    COptionTreeItem* found = nullptr;
    ForEachDescendant(&m_root, [&](COptionTreeItem* item) {
        if (found == nullptr && item->m_id == id)
            found = item;
    });
    return found;
}

bool COptionTree::HoldsItem(const COptionTreeItem* item) const {
    bool found = false;
    ForEachDescendant(const_cast<COptionTreeItem*>(&m_root),
                      [&](COptionTreeItem* each) { found = found || each == item; });
    return found;
}

void COptionTree::FocusItem(COptionTreeItem* item) {
    m_focused = item;
    if (item != nullptr)
        EnsureVisible(item);
    SendNotify(OT_NOTIFY_SELCHANGE, item);
    UpdateTree();
}

void COptionTree::EnsureVisible(COptionTreeItem* item) {
    if (item == nullptr || !HoldsItem(item))
        return;
    m_list->UpdateLayout();
    bool painted = false;
    for (COptionTreeItem* row = m_list->FirstVisible(); row != nullptr; row = row->m_nextVisible)
        painted = painted || row == item;
    if (!painted) {
        for (COptionTreeItem* parent = item->m_parent; parent != nullptr && parent != &m_root;
             parent = parent->m_parent)
            parent->m_expanded = true;
        m_list->UpdateLayout();
    }
    m_list->ScrollTo(item);
}

void COptionTree::ExpandAllItems() {
    ForEachDescendant(&m_root, [](COptionTreeItem* item) {
        item->m_expanded = true;
        if (item->HasExpandHandler())
            item->OnExpand(true);
    });
    UpdateTree();
}

int COptionTree::GetDefaultRowHeight() const {
    const int d = QFontInfo(m_normalFont).pixelSize();
    // The editors (a combo box above all) need their text line and a frame; a tiny font must
    // not squeeze them below that.
    return std::max(2 * d - 3, QFontMetrics(m_normalFont).height() + 4);
}

int COptionTree::GetMargin() const {
    return QFontInfo(m_normalFont).pixelSize() / 2;
}

COptionTreeItem* COptionTree::GetFirstVisible() const {
    return m_list->FirstVisible();
}

void COptionTree::UpdateTree() {
    if (m_list == nullptr)
        return;
    m_list->UpdateLayout();
    MoveAllItems();
    m_list->viewport()->update();
    m_info->update();
}

void COptionTree::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_columnWidth > width() - kGutterWidth && width() > 2 * kGutterWidth)
        m_columnWidth = width() - kGutterWidth;
    LayoutChildren();
}

void COptionTree::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::StyleChange:
        BuildFonts();
        LayoutChildren();
        UpdateTree();
        break;
    case QEvent::PaletteChange:
    case QEvent::EnabledChange:
        UpdateTree();
        break;
    default:
        break;
    }
}

bool COptionTree::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    COptionTreeItem* item = ActivatedItemOf(watched);
    if (item == nullptr)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool plain = (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) == 0;
    switch (key->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        if (!plain)
            break;
        m_list->TabToRow(key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier) == 0);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!item->CommitsOnEnter())
            break;
        m_list->setFocus(Qt::OtherFocusReason); // the focus leaves the editor: it commits
        return true;
    case Qt::Key_Escape:
        item->RevertEdit();
        m_list->setFocus(Qt::OtherFocusReason);
        return true;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

int COptionTree::SendNotify(int code, COptionTreeItem* item) {
    if ((m_options & OptionNotify) == 0 || m_notifyReceiver.isNull())
        return 0;
    int result = 0;
    emit Notify(code, item, &result);
    return result;
}

void COptionTree::BuildFonts() {
    QFont base = font();
    double scale = 1.0;
    if ((m_options & OptionFontSmall90) != 0)
        scale = 0.90;
    else if ((m_options & OptionFontSmall95) != 0)
        scale = 0.95;
    if (scale != 1.0) {
        if (base.pointSizeF() > 0)
            base.setPointSizeF(base.pointSizeF() * scale);
        else
            base.setPixelSize(std::max(1, static_cast<int>(base.pixelSize() * scale)));
    }
    m_normalFont = base;
    m_boldFont = base;
    m_boldFont.setWeight(QFont::Bold);
    if (m_list != nullptr)
        m_list->setFont(m_normalFont);
}

void COptionTree::LayoutChildren() {
    if (m_list == nullptr)
        return;
    const int d = QFontInfo(m_normalFont).pixelSize();
    const int infoHeight = (m_options & OptionShowInfo) != 0 ? 44 * d / 10 : 0;
    m_list->setGeometry(0, 0, width(), std::max(0, height() - infoHeight));
    m_info->setGeometry(0, std::max(0, height() - infoHeight), width(), infoHeight);
    m_info->setVisible(infoHeight > 0);
}

void COptionTree::WatchEditor(QWidget* editor) {
    editor->installEventFilter(this);
    for (QWidget* child : editor->findChildren<QWidget*>())
        child->installEventFilter(this);
}

void COptionTree::TrackActivation(COptionTreeItem* item, bool active) {
    const auto found = std::find(m_activated.begin(), m_activated.end(), item);
    if (active && found == m_activated.end() && item->FocusEditor() != nullptr)
        m_activated.push_back(item);
    else if (!active && found != m_activated.end())
        m_activated.erase(found);
}

void COptionTree::OnFocusChanged(QWidget* /*old*/, QWidget* now) {
    // No focus widget at all means the window lost the activation (another program, or a pop-up
    // closing on the way back): the editor gets the focus again when the window comes back, so
    // the edit stays open for the user to finish.
    if (now == nullptr)
        return;
    // Commit every open editor that no longer holds the focus. A commit may delete items (the
    // owner's handler), so each one is looked up again before it is touched.
    const std::vector<COptionTreeItem*> open = m_activated;
    for (COptionTreeItem* item : open) {
        if (std::find(m_activated.begin(), m_activated.end(), item) == m_activated.end())
            continue;
        const QWidget* editor = item->FocusEditor();
        if (editor == nullptr || !IsInside(editor, now))
            item->Commit(false);
    }
}

COptionTreeItem* COptionTree::ActivatedItemOf(const QObject* widget) const {
    for (COptionTreeItem* item : m_activated) {
        const QWidget* editor = item->FocusEditor();
        for (const QObject* object = widget; object != nullptr; object = object->parent())
            if (object == editor)
                return item;
    }
    return nullptr;
}

void COptionTree::RefreshAllItems() {
    ForEachDescendant(&m_root, [](COptionTreeItem* item) { item->OnRefresh(); });
}

void COptionTree::MoveAllItems() {
    ForEachDescendant(&m_root, [](COptionTreeItem* item) { item->OnMove(); });
}

} // namespace qarn
