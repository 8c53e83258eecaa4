#pragma once

// The rows of a COptionTree: lays them out, paints them, scrolls, and turns mouse and keys into
// focus, selection, expansion, activation and column resizing. Item editors are children of its
// viewport, so they scroll with the rows.

#include <QAbstractScrollArea>

namespace qarn {

class COptionTree;
class COptionTreeItem;

class COptionTreeList : public QAbstractScrollArea {
    Q_OBJECT

  public:
    explicit COptionTreeList(COptionTree* tree);

    // Places every row (locations, rectangles, the visible-row chain) and the scroll range.
    void UpdateLayout();
    // The row at `pos` (viewport coordinates), or null.
    COptionTreeItem* RowAt(const QPoint& pos) const;
    COptionTreeItem* FirstVisible() const { return m_firstVisible; }
    // Rows were deleted: the chain is rebuilt by the next layout.
    void ForgetRows() { m_firstVisible = nullptr; }
    // Scrolls so that the row lies inside the viewport.
    void ScrollTo(const COptionTreeItem* item);
    // Tab from the list or from an editor: the next (or previous) row gets the focus and, unless
    // it is read-only or a group row, its editor. Past either end the focus leaves the tree.
    void TabToRow(bool forward);
    // Toggles a row with children (-1108, veto possible, then -1112); true when it changed.
    bool ExpandRow(COptionTreeItem* item, bool expand);
    // The x of a row's label text: the gutter plus one gutter per level below the second.
    static int LabelIndent(int level);
    int ScrollOffset() const;

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    void LayoutRow(COptionTreeItem* item, int level, int& y, COptionTreeItem*& previous);
    void PaintRow(QPainter& painter, COptionTreeItem* item, int level);
    void PaintExpandBox(QPainter& painter, const COptionTreeItem* item) const;
    void PaintResizeBar(QPainter& painter) const;
    bool NearColumnLine(const COptionTreeItem* row, int x) const;
    void ClickValue(COptionTreeItem* row, const QPoint& pos);
    void ClickLabel(COptionTreeItem* row);
    void UpdateCursor(const QPoint& pos);
    // The keyboard's row moves; the new row becomes the only selected one.
    void FocusRow(COptionTreeItem* row);
    COptionTreeItem* NextRow(COptionTreeItem* from, bool skipReadOnly) const;
    COptionTreeItem* PreviousRow(COptionTreeItem* from) const;
    COptionTreeItem* LastRow() const;
    void DeselectAll();
    int LevelOf(const COptionTreeItem* item) const;

    COptionTree* m_tree;
    COptionTreeItem* m_firstVisible = nullptr;
    bool m_resizing = false;
    int m_resizeX = 0;
    int m_contentHeight = 0;
};

} // namespace qarn
