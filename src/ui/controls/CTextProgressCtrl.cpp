#include "ui/controls/CTextProgressCtrl.h"

#include "ui/controls/CMyMemDC.h"

#include <algorithm>
#include <cstdint>

#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QThread>

namespace qarn {

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_clientWidth = contentsRect().width();
}

void CTextProgressCtrl::SetRange(int lower, int upper) {
    m_range = Range{lower, upper};
}

int CTextProgressCtrl::GetLower() const {
    return m_range.load().lower;
}

int CTextProgressCtrl::GetUpper() const {
    return m_range.load().upper;
}

int CTextProgressCtrl::BarWidth(Range range, int position, int width) {
    if (range.lower >= range.upper || width <= 0)
        return 0;
    // Whole numbers, so that 29 of 100 on 100 pixels is 29 pixels and never 28.999...; 64 bits
    // hold any difference of two ints times any widget width.
    const std::int64_t span = std::int64_t{range.upper} - range.lower;
    const std::int64_t done =
        std::clamp<std::int64_t>(std::int64_t{position} - range.lower, 0, span);
    return static_cast<int>(done * width / span);
}

int CTextProgressCtrl::SetPos(int position) {
    const int previous = m_position.exchange(position);
    const int width = BarWidth(m_range.load(), position, m_clientWidth.load());
    if (m_barWidth.exchange(width) != width)
        Invalidate(true);
    return previous;
}

int CTextProgressCtrl::GetPos() const {
    return m_position.load();
}

void CTextProgressCtrl::SetShowText(bool show) {
    if (m_showText.exchange(show) != show)
        Invalidate(false);
}

void CTextProgressCtrl::SetShowPercent(bool show) {
    if (m_showPercent.exchange(show) != show)
        Invalidate(false);
}

void CTextProgressCtrl::SetWindowText(const QString& text) {
    {
        std::lock_guard lock(m_textLock);
        if (m_text == text)
            return;
        m_text = text;
    }
    Invalidate(false);
}

QString CTextProgressCtrl::GetWindowText() const {
    std::lock_guard lock(m_textLock);
    return m_text;
}

int CTextProgressCtrl::Percent() const {
    return BarWidth(m_range.load(), m_position.load(), 100);
}

QString CTextProgressCtrl::DisplayText() const {
    if (!m_showText)
        return {};
    QString text = GetWindowText();
    if (m_showPercent)
        text += QString::number(Percent()) + QLatin1Char('%');
    return text;
}

void CTextProgressCtrl::SetBarColour(const QColor& colour) {
    m_barColour = colour;
    update();
}

void CTextProgressCtrl::SetBackColour(const QColor& colour) {
    m_backColour = colour;
    update();
}

void CTextProgressCtrl::SetTextOnBarColour(const QColor& colour) {
    m_textOnBarColour = colour;
    update();
}

void CTextProgressCtrl::SetTextOnBackColour(const QColor& colour) {
    m_textOnBackColour = colour;
    update();
}

QColor CTextProgressCtrl::Colour(const QColor& chosen, QPalette::ColorRole role) const {
    return chosen.isValid() ? chosen : palette().color(role);
}

void CTextProgressCtrl::Invalidate(bool now) {
    if (QThread::currentThread() == thread()) {
        if (now)
            repaint();
        else
            update();
        return;
    }
    // Widgets belong to their own thread. Queued, not blocking: a worker that reports progress
    // must never wait for a user-interface thread that may be waiting for the worker to end.
    // A pending call is dropped with the widget.
    QMetaObject::invokeMethod(
        this,
        [this, now] {
            if (now)
                repaint();
            else
                update();
        },
        Qt::QueuedConnection);
}

QSize CTextProgressCtrl::sizeHint() const {
    const int frame = 2 * frameWidth();
    return {fontMetrics().horizontalAdvance(QStringLiteral("0000000000000000")) + frame,
            fontMetrics().height() + 4 + frame};
}

QSize CTextProgressCtrl::minimumSizeHint() const {
    const int frame = 2 * frameWidth();
    return {fontMetrics().horizontalAdvance(QStringLiteral("100%")) + frame,
            fontMetrics().height() + frame};
}

void CTextProgressCtrl::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    m_clientWidth = contentsRect().width();
    // The next SetPos repaints even with the same position: the bar's width has changed.
    m_barWidth = -1;
}

void CTextProgressCtrl::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    drawFrame(&painter);
    const QRect client = contentsRect();
    const Range range = m_range.load();
    if (range.lower >= range.upper || client.isEmpty())
        return;
    CMyMemDC memory(painter, client.intersected(event->rect()),
                    Colour(m_backColour, QPalette::Base));
    PaintBar(memory.Painter(), client);
}

void CTextProgressCtrl::PaintBar(QPainter& painter, const QRect& client) const {
    const int done = BarWidth(m_range.load(), m_position.load(), client.width());
    const QRect bar(client.left(), client.top(), done, client.height());
    const QRect rest(client.left() + done, client.top(), client.width() - done, client.height());
    painter.fillRect(bar, Colour(m_barColour, QPalette::Highlight));
    painter.fillRect(rest, Colour(m_backColour, QPalette::Base));

    const QString text = DisplayText();
    if (text.isEmpty())
        return;
    // The same text twice over the whole client rectangle, each time clipped to one part, so
    // that a letter cut by the bar's edge changes colour exactly there.
    painter.save();
    painter.setFont(font());
    const int flags = Qt::AlignCenter | Qt::TextSingleLine;
    painter.setClipRect(bar);
    painter.setPen(Colour(m_textOnBarColour, QPalette::Base));
    painter.drawText(client, flags, text);
    painter.setClipRect(rest);
    painter.setPen(Colour(m_textOnBackColour, QPalette::Highlight));
    painter.drawText(client, flags, text);
    painter.restore();
}

} // namespace qarn
