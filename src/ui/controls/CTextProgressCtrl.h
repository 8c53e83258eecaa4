#pragma once

// The progress bar of a firmware transfer: a filled bar, the unfilled rest, and a centred text
// (the control's text followed by the percentage, "Transferring 42%") whose colours are inverted
// where it lies over the bar. It paints itself, double-buffered.
//
// The range and position live in this class. SetPos, SetShowText and SetWindowText may be called
// from a worker thread: they store plain values and have the repaint done on the thread that owns
// the widget. A position only repaints when the bar's width in pixels changes, so a transfer that
// reports every block does not repaint a hundred times for one pixel.

#include <atomic>
#include <mutex>

#include <QColor>
#include <QFrame>
#include <QPalette>
#include <QString>

namespace qarn {

class CTextProgressCtrl : public QFrame {
    Q_OBJECT

  public:
    explicit CTextProgressCtrl(QWidget* parent = nullptr);

    // Stores the range; no repaint (the next SetPos shows it).
    void SetRange(int lower, int upper);
    int GetLower() const;
    int GetUpper() const;

    // Stores the position and returns the previous one. Repaints at once when the bar's width in
    // pixels differs from the width at the last repaint.
    int SetPos(int position);
    int GetPos() const;

    void SetShowText(bool show);
    bool GetShowText() const { return m_showText.load(); }
    void SetShowPercent(bool show);
    bool GetShowPercent() const { return m_showPercent.load(); }

    // The text shown before the percentage.
    void SetWindowText(const QString& text);
    QString GetWindowText() const;

    // What the control shows over the bar: "Transferring 42%", the text alone without percent,
    // empty while the text is hidden.
    QString DisplayText() const;

    // Whole percent done, truncated and held within 0..100: 0..100 at 29 -> 29. 0 for an empty
    // range.
    int Percent() const;

    // Colours; an invalid colour (the default) follows the style's palette: the bar and the text
    // over the rest in the highlight colour, the rest and the text over the bar in the base
    // colour.
    void SetBarColour(const QColor& colour);
    void SetBackColour(const QColor& colour);
    void SetTextOnBarColour(const QColor& colour);
    void SetTextOnBackColour(const QColor& colour);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct Range {
        int lower;
        int upper;
    };

    // Width in pixels of the done part of a bar `width` pixels wide; 0 for an empty range.
    static int BarWidth(Range range, int position, int width);
    // Invalidates the widget, and with `now` paints it at once; from another thread both are
    // queued to the widget's own thread.
    void Invalidate(bool now);
    void PaintBar(QPainter& painter, const QRect& client) const;
    QColor Colour(const QColor& chosen, QPalette::ColorRole role) const;

    std::atomic<Range> m_range{Range{0, 100}};
    std::atomic<int> m_position{0};
    std::atomic<int> m_barWidth{-1};
    // The client width, readable from a worker thread that calls SetPos.
    std::atomic<int> m_clientWidth{0};
    std::atomic<bool> m_showText{true};
    std::atomic<bool> m_showPercent{true};
    mutable std::mutex m_textLock;
    QString m_text;

    QColor m_barColour;
    QColor m_backColour;
    QColor m_textOnBarColour;
    QColor m_textOnBackColour;
};

} // namespace qarn
