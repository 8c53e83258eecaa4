#pragma once

// One row of the property tree. A plain instance is a group row without a value; the item kinds
// (COptionTreeItemIPAddress, COptionTreeItemSpinner, ...) derive from it and add an editor widget
// that is shown over the value column while the row is activated.
//
// Life of a row: closed (the value is painted by DrawValue) -> Activate() (editor shown and
// focused) -> Commit() (editor hidden, the tree tells its owner -1105) -> closed. An activation
// therefore yields at most one non-forced commit notification, however often the editor loses
// the focus.

#include <memory>

#include <QColor>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>

class QObject;
class QPainter;
class QPalette;
class QWidget;

namespace qarn {

class COptionTree;
class COptionTreeList;

class COptionTreeItem {
  public:
    COptionTreeItem();
    virtual ~COptionTreeItem();
    COptionTreeItem(const COptionTreeItem&) = delete;
    COptionTreeItem& operator=(const COptionTreeItem&) = delete;

    // --- What a kind overrides -------------------------------------------------------------
    // Paints the closed value into `rect` (the value rectangle). The base paints the item's
    // image, vertically centred, just left of the value column.
    virtual void DrawValue(QPainter& painter, const QRect& rect);
    // Shows the editor over the value rectangle and gives it the focus.
    virtual void OnActivate();
    // Re-places the editor after the tree changed size; hides it unless activated.
    virtual void OnRefresh();
    // Re-places the editor at the value rectangle (after scrolling or a commit).
    virtual void OnMove();
    // Hides the editor; the value stays in it.
    virtual void OnCommit();
    // Destroys the editor; runs before the item is deleted.
    virtual void OnDestroyEditor();
    virtual void OnDeselect();
    virtual void OnSelect() {}
    // Called on expand and collapse only for kinds that answer true to HasExpandHandler().
    virtual bool HasExpandHandler() const { return false; }
    virtual void OnExpand(bool expanded);
    virtual void SetItemHeight(int height);

    // The widget whose loss of focus commits the item; null for kinds that commit themselves
    // (pop-ups and dialogs) or have no editor.
    virtual QWidget* FocusEditor() const;
    // Enter in the editor commits, unless the editor wants the key itself (a multi-line edit).
    virtual bool CommitsOnEnter() const { return true; }
    // Escape in the editor: give back the value the editor held when it was activated. The tree
    // commits afterwards, so the owner reads the old value again.
    virtual void RevertEdit() {}
    // After a mouse click activated the item: `pos` is the click in list coordinates. Check boxes
    // and radio buttons act on the click at once, so that one click is enough.
    virtual void OnClickActivated(const QPoint& pos);
    // The cursor over the value (the link hand over a hyperlink); false keeps the list's cursor.
    virtual bool WantsLinkCursor(const QPoint& pos) const;
    // What Tab does on the way through the rows: pass a row without a value, stop on a row whose
    // editor is a pop-up or dialog (Enter opens it), open the editor of any other row.
    enum class TabStop { Skip, Focus, Activate };
    virtual TabStop GetTabStop() const;

    // --- Label, info, flags -----------------------------------------------------------------
    void SetLabel(const QString& label);
    QString GetLabel() const { return m_label; }
    void SetInfo(const QString& info);
    QString GetInfo() const { return m_info; }
    void SetReadOnly(bool readOnly);
    bool IsReadOnly() const { return m_readOnly; }
    void Select(bool select = true);
    bool IsSelected() const { return m_selected; }
    // Only for an item in a tree; runs OnExpand on the item and its descendants that handle it.
    void SetExpanded(bool expanded);
    bool IsExpanded() const { return m_expanded; }
    bool IsActivated() const { return m_activated; }
    bool IsCommitted() const { return m_committed; }

    // The activation and commit contract (see the file comment). Commit(true) notifies even
    // when the item was committed since its activation (the radio item does so on every click).
    void Activate();
    void Commit(bool force = false);

    // --- Hierarchy and geometry ---------------------------------------------------------------
    COptionTree* GetTree() const { return m_tree; }
    COptionTreeItem* GetParent() const { return m_parent; }
    COptionTreeItem* GetSibling() const { return m_sibling; }
    COptionTreeItem* GetChild() const { return m_child; }
    COptionTreeItem* GetNextVisible() const { return m_nextVisible; }
    bool IsRootLevel() const;
    int GetID() const { return m_id; }
    int GetItemHeight() const { return m_height; }
    // Own height plus, when expanded, the total heights of the children.
    int GetTotalHeight() const;
    QPoint GetLocation() const { return m_location; }
    QRect GetValueRect() const { return m_valueRect; }
    QRect GetLabelRect() const { return m_labelRect; }
    QRect GetExpandBoxRect() const { return m_expandBox; }

    // --- Colours and image (an invalid colour means the palette's) ----------------------------
    void SetValueBackColor(const QColor& color) { m_valueBack = color; }
    void SetValueTextColor(const QColor& color) { m_valueText = color; }
    void SetGroupBackColor(const QColor& color) { m_groupBack = color; }
    void SetLabelTextColor(const QColor& color) { m_labelText = color; }
    void SetLabelBackColor(const QColor& color) { m_labelBack = color; }
    QColor GetValueBackColor(const QPalette& palette) const;
    QColor GetValueTextColor(const QPalette& palette) const;
    QColor GetGroupBackColor(const QPalette& palette) const;
    QColor GetLabelTextColor(const QPalette& palette) const;
    QColor GetLabelBackColor(const QPalette& palette) const;
    void SetImage(const QPixmap& image);
    QPixmap GetImage() const { return m_image; }

  protected:
    // For the kinds' window creation: an item gets its editor once, and only inside a tree.
    bool CanCreateEditor() const;
    // Makes `editor` this item's editor: a hidden child of the list with the tree's font.
    void AdoptEditor(QWidget* editor);
    QWidget* Editor() const { return m_editor; }
    // Where the editor sits: the value rectangle widened by the tree's inner margin on both
    // sides, so that an edit's own text lines up with the closed value.
    virtual QRect EditorRect() const;
    // The colour for the closed value's text: grey when read-only or the tree is disabled.
    QColor ValueTextColor() const;
    // Context object for the editor's connections: it dies with the item, so that no signal
    // or posted call reaches an item that is gone.
    QObject* Context();
    // Tells the owner that the value changed, outside Commit (check box, spin button, combo).
    void NotifyChanged();
    // Tells the owner after the running event is done (a combo box is still inside its own
    // selection handling when it reports the change).
    void PostNotifyChanged();

  private:
    friend class COptionTree;
    friend class COptionTreeList;

    QString m_label;
    QString m_info;
    int m_id = 0;
    COptionTreeItem* m_parent = nullptr;
    COptionTreeItem* m_sibling = nullptr;
    COptionTreeItem* m_child = nullptr;
    COptionTreeItem* m_nextVisible = nullptr;
    COptionTree* m_tree = nullptr;
    QPoint m_location;
    int m_height = 0; // 0 until the tree gives its default
    QRect m_valueRect;
    QRect m_labelRect;
    QRect m_expandBox;
    bool m_selected = false;
    bool m_expanded = false;
    bool m_activated = false;
    bool m_readOnly = false;
    bool m_committed = false;
    QColor m_valueBack;
    QColor m_valueText;
    QColor m_groupBack;
    QColor m_labelText;
    QColor m_labelBack;
    QPixmap m_image;
    QPointer<QWidget> m_editor;
    std::unique_ptr<QObject> m_context;
};

} // namespace qarn
