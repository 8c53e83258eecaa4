#pragma once

// The image row's pop-up: every image of the list as a button in a grid, its text as the tool
// tip. It reports once, when it closes: the index picked, or none.

#include <functional>
#include <optional>
#include <vector>

#include <QFrame>
#include <QPixmap>

namespace qarn {

class COptionTreeImagePopUp : public QFrame {
    Q_OBJECT

  public:
    using Done = std::function<void(std::optional<int>)>;

    COptionTreeImagePopUp(QWidget* parent, const std::vector<QPixmap>& images,
                          const QStringList& texts, int selected, int columns, Done done);

    // Shows the pop-up right below `anchor` (global coordinates).
    void ShowBelow(const QRect& anchor);

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    Done m_done;
    std::optional<int> m_picked;
};

} // namespace qarn
