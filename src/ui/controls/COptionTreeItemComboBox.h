#pragma once

// A row whose value is one of a list of choices (a drop-down list), or with an editable combo
// box a text that completes to the first matching choice. Every choice the user makes is told
// to the owner at once (-1105), while the list is still open; leaving the row commits as usual.

#include "ui/controls/COptionTreeItem.h"

#include <QVariant>

class QComboBox;

namespace qarn {

class COptionTreeItemComboBox : public COptionTreeItem {
  public:
    static constexpr int kDefaultDropDownHeight = 100; // pixels

    COptionTreeItemComboBox() = default;

    // The editor: a drop-down list, or with `editable` a combo box with an edit; false when the
    // item is not in a tree yet or has an editor already.
    bool CreateComboItem(bool editable = false);

    // The choices; -1 / null before CreateComboItem.
    int AddString(const QString& text, const QVariant& data = {});
    int GetCount() const;
    // Selects a choice without telling the owner (the owner set it).
    void SetCurSel(int index);
    int GetCurSel() const;
    QVariant GetItemData(int index) const;
    QString GetWindowText() const;
    // The height the open list may take; it shows as many choices as fit.
    void SetDropDownHeight(int height);
    QComboBox* GetCombo() const;

    void DrawValue(QPainter& painter, const QRect& rect) override;
    void OnActivate() override;
    void RevertEdit() override;

  private:
    void ApplyDropDownHeight();

    int m_dropDownHeight = kDefaultDropDownHeight;
    int m_indexAtActivation = -1;
    QString m_textAtActivation;
};

} // namespace qarn
