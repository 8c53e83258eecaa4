#pragma once

// A row with a colour: a small framed swatch followed by "RGB (255, 128, 0)", or with OptionHex
// by "#FF8000". Activating it opens the colour pop-up; the pick, or closing the pop-up without
// one, commits.

#include "ui/controls/COptionTreeItem.h"

#include <cstdint>
#include <optional>

namespace qarn {

class COptionTreeItemColor : public COptionTreeItem {
  public:
    enum Option : std::uint32_t {
        OptionHex = 0x40000, // "#RRGGBB" instead of "RGB (r, g, b)"
    };

    COptionTreeItemColor() = default;

    // Sets the options and colours; false when the item is not in a tree yet or was created.
    bool CreateColorItem(std::uint32_t options, const QColor& color, const QColor& automatic);

    void SetColor(const QColor& color);
    QColor GetColor() const { return m_color; }
    void SetAutomaticColor(const QColor& color) { m_automatic = color; }
    QColor GetAutomaticColor() const { return m_automatic; }
    // The text beside the swatch.
    QString GetColorText() const;

    void DrawValue(QPainter& painter, const QRect& rect) override;
    void OnActivate() override;
    QWidget* FocusEditor() const override { return nullptr; }
    TabStop GetTabStop() const override;

  private:
    void Done(std::optional<QColor> picked);

    bool m_created = false;
    std::uint32_t m_options = 0;
    QColor m_color;
    QColor m_automatic;
};

} // namespace qarn
