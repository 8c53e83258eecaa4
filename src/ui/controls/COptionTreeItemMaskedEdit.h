#pragma once

// A row whose value has a fixed shape, edited through a masked edit (CmEdit): the MAC address
// as six pairs of hexadecimal digits, or a single letter. Closed it shows the edit's text with
// its literals and prompt characters, so that an empty position stays visible as '_'.
//
//     mac->CreateMaskedEditItem();
//     mac->SetMask("[0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef] ...");
//     mac->SetEditText("00 20 4a 90 12 34");
//     mac->GetInputText();   // "00204a901234"
//
// With the tree's coordinate pad option the row opens a pad of keys below it while active.

#include "ui/controls/COptionTreeItem.h"

#include <cstdint>

namespace qarn {

class CCoordSIP;
class CmEdit;

class COptionTreeItemMaskedEdit : public COptionTreeItem {
  public:
    COptionTreeItemMaskedEdit();
    ~COptionTreeItemMaskedEdit() override;

    // The editor; false when the item is not in a tree yet or has one already. `options` are
    // kept for the owner.
    bool CreateMaskedEditItem(std::uint32_t options = 0);

    void SetMask(const QString& mask);
    void SetEditText(const QString& text);
    // The characters entered, without literals and prompts (see CmEdit::GetInputText).
    QString GetInputText(int start = 0, int count = -1) const;
    // The text as shown: "00 1a __ __ __ __".
    QString GetWindowText() const;
    CmEdit* GetEdit() const;
    std::uint32_t GetOptions() const { return m_options; }

    void DrawValue(QPainter& painter, const QRect& rect) override;
    void OnActivate() override;
    void OnMove() override;
    void OnCommit() override;
    void OnDestroyEditor() override;
    void RevertEdit() override;

  private:
    void PlacePad();

    std::uint32_t m_options = 0;
    QString m_atActivation;
    CCoordSIP* m_pad = nullptr; // a window of its own, child of the edit
};

} // namespace qarn
