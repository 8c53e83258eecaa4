#pragma once

// The colour row's pop-up: an "Automatic" button on top, forty common colours below in a grid of
// eight, and a "More colours…" button that opens the desktop's colour dialog. It reports once,
// when it closes: the colour picked, or none when the user closed it without a choice.

#include <functional>
#include <optional>

#include <QColor>
#include <QFrame>

namespace qarn {

class COptionTreeColorPopUp : public QFrame {
    Q_OBJECT

  public:
    using Done = std::function<void(std::optional<QColor>)>;

    COptionTreeColorPopUp(QWidget* parent, const QColor& current, const QColor& automatic,
                          Done done);

    // Shows the pop-up right below `anchor` (global coordinates).
    void ShowBelow(const QRect& anchor);

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    void Pick(const QColor& color);
    void MoreColours();

    QColor m_current;
    Done m_done;
    std::optional<QColor> m_picked;
    bool m_reported = false;
};

} // namespace qarn
