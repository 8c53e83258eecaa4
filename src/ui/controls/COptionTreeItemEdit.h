#pragma once

// A row with free text. With OptionMultiline the closed value wraps over the row's height and
// the editor takes several lines; Enter commits unless OptionWantReturn lets a multi-line edit
// keep it for a line break.

#include "ui/controls/COptionTreeItem.h"

#include <cstdint>

namespace qarn {

class COptionTreeItemEdit : public COptionTreeItem {
  public:
    enum Option : std::uint32_t {
        OptionWantReturn = 0x1000, // multi-line: Enter starts a new line
        OptionNumerical = 0x10000, // digits only
        OptionPassword = 0x20000,  // shows bullets instead of the text
        OptionMultiline = 0x40000, // several lines, word-wrapped
    };

    COptionTreeItemEdit() = default;

    // The editor; false when the item is not in a tree yet or has one already.
    bool CreateEditItem(std::uint32_t options = 0);

    void SetEditText(const QString& text);
    QString GetEditText() const;
    std::uint32_t GetOptions() const { return m_options; }

    void DrawValue(QPainter& painter, const QRect& rect) override;
    void OnActivate() override;
    void RevertEdit() override;
    bool CommitsOnEnter() const override;
    void SetItemHeight(int height) override;

  private:
    bool Multiline() const { return (m_options & OptionMultiline) != 0; }

    std::uint32_t m_options = 0;
    QString m_atActivation;
};

} // namespace qarn
