#pragma once

// A row that offers a few choices as radio buttons, one per line; the row grows with them. A
// click on a choice checks it and commits at once, every time (a forced commit).

#include "ui/controls/COptionTreeItem.h"

namespace qarn {

class COptionTreeRadioButton;

class COptionTreeItemRadio : public COptionTreeItem {
  public:
    COptionTreeItemRadio() = default;

    // The editor; false when the item is not in a tree yet or has one already.
    bool CreateRadioItem();

    // Adds a choice at the end; its index.
    int InsertNewRadio(const QString& text, bool checked = false);
    int GetCheckedRadio() const;
    void CheckRadio(int index);
    int GetRadioCount() const;
    COptionTreeRadioButton* GetRadios() const;

    void DrawValue(QPainter& painter, const QRect& rect) override;
    void OnActivate() override;
    void OnClickActivated(const QPoint& pos) override;
    void RevertEdit() override;

  protected:
    // The indicator starts where the other rows' texts start.
    QRect EditorRect() const override { return GetValueRect().adjusted(0, 0, 0, -1); }

  private:
    int m_atActivation = -1;
};

} // namespace qarn
