#pragma once

// The number edit inside the spinner. With typing allowed it takes digits, '.' and ',' (also
// when pasted); the Up and Down keys step the value. Its context menu offers the edit commands
// with the language bundle's texts; without typing only Copy is available.

#include <QLineEdit>

class QMenu;

namespace qarn {

class COptionTreeItemSpinner;

class COptionTreeSpinnerEdit : public QLineEdit {
    Q_OBJECT

  public:
    COptionTreeSpinnerEdit(COptionTreeItemSpinner* item, bool editable, QWidget* parent);

    // The context menu as the user would get it now (the caller owns it).
    QMenu* CreateContextMenu();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void InsertFiltered(const QString& text);

    COptionTreeItemSpinner* m_item;
    bool m_editable;
};

} // namespace qarn
