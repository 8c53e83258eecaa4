#pragma once

// Flicker-free painting: everything is drawn into an off-screen pixmap of the target rectangle,
// which is copied onto the target in one step when the object goes out of scope. A printer is
// drawn on directly (a page has no flicker and wants full resolution).
//
//     QPainter screen(this);
//     {
//         CMyMemDC memory(screen, rect(), palette().color(QPalette::Window));
//         memory.Painter().fillRect(...);
//     } // copied to the screen here

#include <optional>

#include <QColor>
#include <QPainter>
#include <QPixmap>
#include <QRect>

namespace qarn {

class CMyMemDC {
  public:
    // Fills `rect` (in the target's coordinates) with `background` before anything else is drawn.
    CMyMemDC(QPainter& target, const QRect& rect, const QColor& background);
    ~CMyMemDC();
    CMyMemDC(const CMyMemDC&) = delete;
    CMyMemDC& operator=(const CMyMemDC&) = delete;

    // The painter to draw with, in the target's coordinates.
    QPainter& Painter();
    bool IsOffScreen() const { return m_memory.has_value(); }

  private:
    QPainter& m_target;
    QRect m_rect;
    QPixmap m_bitmap;
    std::optional<QPainter> m_memory;
};

} // namespace qarn
