#pragma once

// The gallery's property tree: the configuration editor's rows (addresses, MAC, ports, letter,
// system type) in the editor's own tree options, and below them one row of every other kind, with
// a line under the tree that shows the last notification the owner received and a switch that
// disables the tree.

#include <QWidget>

class QLabel;
class QTextStream;

namespace qarn {

class COptionTree;
class COptionTreeItem;
class COptionTreeItemComboBox;
class COptionTreeItemMaskedEdit;

class CGalleryTree : public QWidget {
    Q_OBJECT

  public:
    explicit CGalleryTree(QWidget* parent = nullptr);

    // Writes one line "row-<label> x y width height" per visible row's value, in screen
    // coordinates, and "row-<label>-label ..." for its label, for scripts that click on them;
    // the label in lower case with dashes: "row-port-1".
    void PrintRows(QTextStream& out) const;
    COptionTree* Tree() const { return m_tree; }

  private:
    void FillEditorRows();
    void FillOtherKinds();
    void OnNotify(int code, COptionTreeItem* item);

    COptionTree* m_tree = nullptr;
    QLabel* m_last = nullptr;
    COptionTreeItemComboBox* m_systemType = nullptr;
    COptionTreeItemMaskedEdit* m_letter = nullptr;
};

} // namespace qarn
