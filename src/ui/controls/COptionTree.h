#pragma once

// The property tree: a hierarchy of labelled settings in two columns (labels left, values right)
// with an optional info pane at the bottom that explains the focused row. A click in a row's
// value column opens the row's editor; when the editor loses the focus the row commits and the
// owner hears of it through Notify(-1105, item).
//
//     auto* tree = new COptionTree(parent, COptionTree::OptionShowInfo);
//     auto* port = new COptionTreeItemSpinner;
//     tree->InsertItem(port, group);
//     port->CreateSpinnerItem(COptionTreeItemSpinner::OptionEdit, 5000, 0, 65535);
//     tree->SetNotify(true, owner);
//     connect(tree, &COptionTree::Notify, owner, [](int code, COptionTreeItem* item) { ... });
//
// The tree owns its items: InsertItem takes them, DeleteItem and DeleteAllItems delete them.
// Notifications are emitted synchronously, on the thread of the tree, only while notifications
// are on and their receiver still exists.

#include "ui/controls/COptionTreeItem.h"

#include <cstdint>
#include <vector>

#include <QFont>
#include <QPointer>
#include <QWidget>

namespace qarn {

class COptionTreeInfo;
class COptionTreeList;

// What the tree tells its owner; the item is the one concerned, or null.
enum OptionTreeNotification : int {
    OT_NOTIFY_INSERTITEM = -1101,      // an item was inserted
    OT_NOTIFY_DELETEITEM = -1102,      // an item is being deleted (null: DeleteAllItems starts)
    OT_NOTIFY_ITEMCHANGED = -1105,     // a value was committed or changed
    OT_NOTIFY_SELCHANGE = -1107,       // the focused row changed (item may be null)
    OT_NOTIFY_ITEMEXPANDING = -1108,   // a row is about to expand or collapse; nonzero vetoes
    OT_NOTIFY_COLUMNCLICK = -1109,     // the label column is about to be resized; nonzero vetoes
    OT_NOTIFY_PROPCLICK = -1110,       // a value was clicked, activation follows; nonzero vetoes
    OT_NOTIFY_DBLCLICK = -1111,        // double-click on a row without children
    OT_NOTIFY_CLICK = -1112,           // a row was expanded or collapsed
    OT_NOTIFY_ITEMBUTTONCLICK = -1113, // a label was clicked
    OT_NOTIFY_LABELDBLCLICK = -1114,   // double-click on the label of a row without children
};

class COptionTree : public QWidget {
    Q_OBJECT

  public:
    enum Option : std::uint32_t {
        OptionShowInfo = 0x01,        // the info pane at the bottom
        OptionNotify = 0x02,          // notifications on (SetNotify)
        OptionDefaultInfoText = 0x04, // with no focused row the info pane shows 2102 / 2103
        OptionShadeBackground = 0x08, // list background and gutter in the button colour
        OptionShadeGroupRows = 0x10,  // group rows in their group background colour
        OptionFontSmall95 = 0x20,     // font at 95 % of the desktop's
        OptionFontSmall90 = 0x40,     // font at 90 % of the desktop's
        OptionCoordinatePad = 0x80,   // masked-edit items open the coordinate pad
        OptionInfoSingleText = 0x100, // info pane: "label: info" as one text
    };

    // The strip left of the labels that holds the expand boxes; also the narrowest label column.
    static constexpr int kGutterWidth = 15;
    static constexpr int kDefaultColumnWidth = 150;

    explicit COptionTree(QWidget* parent = nullptr, std::uint32_t options = 0);
    ~COptionTree() override;

    std::uint32_t GetOptions() const { return m_options; }
    // Notifications go out while `enable` holds and `receiver` exists (a null receiver: none).
    void SetNotify(bool enable, QObject* receiver);

    // Clamps to [15, width - 15] (the upper bound only once the tree has a size).
    void SetColumnWidth(int width);
    int GetColumnWidth() const { return m_columnWidth; }

    // Takes ownership of `item` (null: returns null). A null `parent` means the top level; the
    // item goes behind `after` when that is a child of `parent`, else at the end.
    COptionTreeItem* InsertItem(COptionTreeItem* item, COptionTreeItem* parent = nullptr,
                                COptionTreeItem* after = nullptr);
    void DeleteItem(COptionTreeItem* item);
    void DeleteAllItems();
    COptionTreeItem* GetRootItem() { return &m_root; }
    // The item with `id`, or null.
    COptionTreeItem* FindItem(int id);
    // Whether `item` is in this tree now (an item may be deleted by the owner's handler).
    bool HoldsItem(const COptionTreeItem* item) const;

    void FocusItem(COptionTreeItem* item);
    COptionTreeItem* GetFocusedItem() const { return m_focused; }
    void EnsureVisible(COptionTreeItem* item);
    void ExpandAllItems();

    // Sizes derived from the font height d in pixels: rows 2d - 3, info pane 44d / 10,
    // inner margin d / 2.
    int GetDefaultRowHeight() const;
    int GetMargin() const;
    const QFont& GetNormalFont() const { return m_normalFont; }
    const QFont& GetBoldFont() const { return m_boldFont; }

    COptionTreeList* GetList() const { return m_list; }
    COptionTreeInfo* GetInfo() const { return m_info; }
    // The first row of the last layout; rows follow through COptionTreeItem::GetNextVisible.
    COptionTreeItem* GetFirstVisible() const;

    // Repaints list and info pane and re-places the open editors (after any change of rows).
    void UpdateTree();

  signals:
    // `result` starts at 0; a handler sets it nonzero to veto where the code allows it.
    void Notify(int code, qarn::COptionTreeItem* item, int* result);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    friend class COptionTreeItem;
    friend class COptionTreeList;

    // Sends `code` to the owner; the owner's result (0 when notifications are off).
    int SendNotify(int code, COptionTreeItem* item);
    void BuildFonts();
    void LayoutChildren();
    void DeleteItemTree(COptionTreeItem* item);
    // Editors: key handling (Enter, Escape, Tab) and commit when the focus leaves them.
    void WatchEditor(QWidget* editor);
    void TrackActivation(COptionTreeItem* item, bool active);
    void OnFocusChanged(QWidget* old, QWidget* now);
    COptionTreeItem* ActivatedItemOf(const QObject* widget) const;
    void RefreshAllItems();
    void MoveAllItems();

    std::uint32_t m_options = 0;
    COptionTreeItem m_root;
    COptionTreeItem* m_focused = nullptr;
    int m_columnWidth = kDefaultColumnWidth;
    bool m_columnWidthSet = false;
    int m_itemCounter = 0;
    std::uint64_t m_deletions = 0; // changes whenever an item is deleted
    QPointer<QObject> m_notifyReceiver;
    QFont m_normalFont;
    QFont m_boldFont;
    COptionTreeList* m_list = nullptr;
    COptionTreeInfo* m_info = nullptr;
    std::vector<COptionTreeItem*> m_activated; // activated items whose focus loss commits
};

} // namespace qarn
