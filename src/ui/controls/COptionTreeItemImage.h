#pragma once

// A row whose value is one image of a list (a symbol, a state), with OptionShowText followed by
// that image's text. Activating it opens a grid of all images; the pick, or closing the grid
// without one, commits.

#include "ui/controls/COptionTreeItem.h"

#include <cstdint>
#include <optional>
#include <vector>

#include <QStringList>

namespace qarn {

class COptionTreeItemImage : public COptionTreeItem {
  public:
    enum Option : std::uint32_t {
        OptionShowText = 0x40000, // the image's text beside it
    };

    COptionTreeItemImage() = default;

    // `columns` is the width of the pop-up's grid; false when the item is not in a tree yet or
    // was created.
    bool CreateImageItem(std::uint32_t options, int columns = 4);

    // Adds an image (and its text) at the end; its index.
    int AddImage(const QPixmap& image, const QString& text = {});
    void SetSelection(int index);
    int GetSelection() const { return m_selected; }
    int GetImageCount() const { return static_cast<int>(m_images.size()); }

    void DrawValue(QPainter& painter, const QRect& rect) override;
    void OnActivate() override;
    QWidget* FocusEditor() const override { return nullptr; }
    TabStop GetTabStop() const override;

  private:
    void Done(std::optional<int> picked);

    bool m_created = false;
    std::uint32_t m_options = 0;
    int m_columns = 4;
    std::vector<QPixmap> m_images;
    QStringList m_texts;
    int m_selected = -1;
};

} // namespace qarn
