#pragma once

// A row with a yes/no value: a check box with one text for each state ("On" / "Off"). One click
// on the value toggles it; each toggle is told to the owner at once (-1105).

#include "ui/controls/COptionTreeItem.h"

class QCheckBox;

namespace qarn {

class COptionTreeItemCheckBox : public COptionTreeItem {
  public:
    COptionTreeItemCheckBox() = default;

    // The editor; false when the item is not in a tree yet or has one already.
    bool CreateCheckBoxItem(bool checked = false);

    void SetCheck(bool checked);
    bool GetCheck() const;
    void SetCheckText(const QString& checked, const QString& unchecked);
    QString GetWindowText() const;
    QCheckBox* GetCheckBox() const;

    void DrawValue(QPainter& painter, const QRect& rect) override;
    void OnActivate() override;
    void OnClickActivated(const QPoint& pos) override;
    void RevertEdit() override;

  protected:
    // The indicator starts where the other rows' texts start.
    QRect EditorRect() const override { return GetValueRect().adjusted(0, 0, 0, -1); }

  private:
    void ShowState();

    QString m_checkedText;
    QString m_uncheckedText;
    bool m_atActivation = false;
};

} // namespace qarn
