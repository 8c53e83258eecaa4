#include "ui/controls/COptionTreeItem.h"

#include "ui/controls/COptionTree.h"
#include "ui/controls/COptionTreeList.h"

#include <algorithm>

#include <QApplication>
#include <QObject>
#include <QPainter>
#include <QPalette>
#include <QWidget>

namespace qarn {

COptionTreeItem::COptionTreeItem() = default;

COptionTreeItem::~COptionTreeItem() {
    // The context goes first: editor signals and posted calls must not reach a half-gone item.
    m_context.reset();
    if (m_editor != nullptr) {
        m_editor->hide();
        m_editor->deleteLater();
    }
}

void COptionTreeItem::DrawValue(QPainter& painter, const QRect& rect) {
    if (m_image.isNull())
        return;
    const QSize size = m_image.deviceIndependentSize().toSize();
    const int x = rect.left() - size.width() - 2;
    const int y = rect.top() + (rect.height() - size.height()) / 2;
    painter.drawPixmap(QPoint(x, y), m_image);
}

void COptionTreeItem::OnActivate() {
    if (m_editor == nullptr)
        return;
    m_editor->setGeometry(EditorRect());
    m_editor->show();
    m_editor->raise();
    m_editor->setFocus(Qt::OtherFocusReason);
}

void COptionTreeItem::OnRefresh() {
    if (m_editor == nullptr)
        return;
    m_editor->setGeometry(EditorRect());
    m_editor->setVisible(m_activated);
}

void COptionTreeItem::OnMove() {
    if (m_editor != nullptr)
        m_editor->setGeometry(EditorRect());
}

void COptionTreeItem::OnCommit() {
    if (m_editor != nullptr)
        m_editor->hide();
}

void COptionTreeItem::OnDestroyEditor() {
    if (m_editor == nullptr)
        return;
    // Later, not now: the owner may delete items from inside a signal of this very editor.
    m_editor->hide();
    m_editor->deleteLater();
    m_editor = nullptr;
}

void COptionTreeItem::OnDeselect() {
    if (m_editor != nullptr && !m_activated)
        m_editor->hide();
}

void COptionTreeItem::OnExpand(bool /*expanded*/) {}

void COptionTreeItem::SetItemHeight(int height) {
    const int imageHeight =
        m_image.isNull() ? 0 : m_image.deviceIndependentSize().toSize().height();
    m_height = std::max(height, m_image.isNull() ? 0 : imageHeight + 2);
}

QWidget* COptionTreeItem::FocusEditor() const {
    return m_editor;
}

void COptionTreeItem::OnClickActivated(const QPoint& /*pos*/) {}

bool COptionTreeItem::WantsLinkCursor(const QPoint& /*pos*/) const {
    return false;
}

COptionTreeItem::TabStop COptionTreeItem::GetTabStop() const {
    return m_editor != nullptr ? TabStop::Activate : TabStop::Skip;
}

void COptionTreeItem::SetLabel(const QString& label) {
    m_label = label;
    if (m_tree != nullptr)
        m_tree->UpdateTree();
}

void COptionTreeItem::SetInfo(const QString& info) {
    m_info = info;
    if (m_tree != nullptr)
        m_tree->UpdateTree();
}

void COptionTreeItem::SetReadOnly(bool readOnly) {
    m_readOnly = readOnly;
    if (m_tree != nullptr)
        m_tree->UpdateTree();
}

void COptionTreeItem::Select(bool select) {
    m_selected = select;
    if (select)
        OnSelect();
    else
        OnDeselect();
}

void COptionTreeItem::SetExpanded(bool expanded) {
    if (m_tree == nullptr)
        return;
    m_expanded = expanded;
    // Depth first over the item and its descendants, for the kinds that keep a window open.
    std::vector<COptionTreeItem*> pending{this};
    while (!pending.empty()) {
        COptionTreeItem* item = pending.back();
        pending.pop_back();
        if (item->HasExpandHandler())
            item->OnExpand(expanded);
        for (COptionTreeItem* child = item->m_child; child != nullptr; child = child->m_sibling)
            pending.push_back(child);
    }
    m_tree->UpdateTree();
}

void COptionTreeItem::Activate() {
    m_activated = true;
    m_committed = false;
    if (m_tree != nullptr)
        m_tree->TrackActivation(this, true);
    OnActivate();
}

void COptionTreeItem::Commit(bool force) {
    m_activated = false;
    if (m_tree != nullptr)
        m_tree->TrackActivation(this, false);
    if (!force && m_committed)
        return;
    m_committed = true;
    QPointer<COptionTree> tree = m_tree;
    // Hiding the focused editor would let Qt pass the focus to any next widget; the list is the
    // place the user was working in.
    QWidget* editor = m_editor;
    if (tree != nullptr && editor != nullptr && editor->isAncestorOf(QApplication::focusWidget()))
        tree->m_list->setFocus(Qt::OtherFocusReason);
    OnCommit();
    if (tree == nullptr)
        return;
    const std::uint64_t deletions = tree->m_deletions;
    tree->SendNotify(OT_NOTIFY_ITEMCHANGED, this);
    // The owner's handler may have deleted this item, or the whole tree.
    if (tree == nullptr || (tree->m_deletions != deletions && !tree->HoldsItem(this)))
        return;
    std::vector<COptionTreeItem*> pending{this};
    while (!pending.empty()) {
        COptionTreeItem* item = pending.back();
        pending.pop_back();
        item->OnMove();
        for (COptionTreeItem* child = item->m_child; child != nullptr; child = child->m_sibling)
            pending.push_back(child);
    }
    tree->UpdateTree();
}

bool COptionTreeItem::IsRootLevel() const {
    return m_tree != nullptr && m_parent == m_tree->GetRootItem();
}

int COptionTreeItem::GetTotalHeight() const {
    int total = m_height;
    if (m_expanded)
        for (const COptionTreeItem* child = m_child; child != nullptr; child = child->m_sibling)
            total += child->GetTotalHeight();
    return total;
}

QColor COptionTreeItem::GetValueBackColor(const QPalette& palette) const {
    return m_valueBack.isValid() ? m_valueBack : palette.color(QPalette::Base);
}

QColor COptionTreeItem::GetValueTextColor(const QPalette& palette) const {
    return m_valueText.isValid() ? m_valueText : palette.color(QPalette::Text);
}

QColor COptionTreeItem::GetGroupBackColor(const QPalette& palette) const {
    return m_groupBack.isValid() ? m_groupBack : palette.color(QPalette::Button);
}

QColor COptionTreeItem::GetLabelTextColor(const QPalette& palette) const {
    return m_labelText.isValid() ? m_labelText : palette.color(QPalette::Text);
}

QColor COptionTreeItem::GetLabelBackColor(const QPalette& palette) const {
    return m_labelBack.isValid() ? m_labelBack : palette.color(QPalette::Base);
}

void COptionTreeItem::SetImage(const QPixmap& image) {
    m_image = image;
    SetItemHeight(m_height);
}

bool COptionTreeItem::CanCreateEditor() const {
    return m_tree != nullptr && m_editor == nullptr;
}

void COptionTreeItem::AdoptEditor(QWidget* editor) {
    editor->setParent(m_tree->GetList()->viewport());
    editor->setFont(m_tree->GetNormalFont());
    editor->hide();
    m_editor = editor;
    m_tree->WatchEditor(editor);
}

QRect COptionTreeItem::EditorRect() const {
    // One pixel short of the row: the line under the row stays while the editor is open.
    const int margin = m_tree != nullptr ? m_tree->GetMargin() : 0;
    return m_valueRect.adjusted(-margin, 0, margin, -1);
}

QColor COptionTreeItem::ValueTextColor() const {
    if (m_tree == nullptr)
        return {};
    const QPalette& palette = m_tree->palette();
    if (m_readOnly || !m_tree->isEnabled())
        return palette.color(QPalette::Disabled, QPalette::Text);
    return GetValueTextColor(palette);
}

QObject* COptionTreeItem::Context() {
    if (m_context == nullptr)
        m_context = std::make_unique<QObject>();
    return m_context.get();
}

void COptionTreeItem::NotifyChanged() {
    if (m_tree != nullptr)
        m_tree->SendNotify(OT_NOTIFY_ITEMCHANGED, this);
}

void COptionTreeItem::PostNotifyChanged() {
    QMetaObject::invokeMethod(
        Context(), [this] { NotifyChanged(); }, Qt::QueuedConnection);
}

} // namespace qarn
