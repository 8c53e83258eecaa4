// The text progress bar as a user sees it: the text and percentage, the colours of the bar and of
// the text over it, and that it repaints only when its bar grows by a pixel, also when the
// position comes from a worker thread.

#include "ui/controls/CTextProgressCtrl.h"

#include <cstdint>
#include <thread>

#include <QImage>
#include <QPaintEvent>
#include <QTest>
#include <gtest/gtest.h>

namespace qarn {
namespace {

// Counts the paint events the control receives.
class PaintCounter : public QObject {
  public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int Count() const { return m_count; }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++m_count;
        return false;
    }

  private:
    int m_count = 0;
};

class TextProgressTest : public ::testing::Test {
  protected:
    // A shown control whose client area (inside the frame) is `clientWidth` pixels wide.
    void Show(int clientWidth) {
        const int frame = 2 * m_bar.frameWidth();
        m_bar.resize(clientWidth + frame, 24);
        m_bar.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_bar));
        ASSERT_EQ(m_bar.contentsRect().width(), clientWidth);
    }

    QImage Picture() { return m_bar.grab().toImage(); }
    // The colour at `x` pixels into the client area, on its top row (above the text).
    QColor ClientPixel(const QImage& picture, int x) {
        const QRect client = m_bar.contentsRect();
        return picture.pixelColor(client.left() + x, client.top());
    }

    CTextProgressCtrl m_bar;
};

struct TextCase {
    const char* name;
    const char* text;
    int lower;
    int upper;
    int position;
    bool showText;
    bool showPercent;
    const char* shown;
};

const TextCase kTextCases[] = {
    {"text_then_percent", "Transferring ", 0, 100, 42, true, true, "Transferring 42%"},
    {"percent_alone", "", 0, 100, 37, true, true, "37%"},
    {"text_without_percent", "Transferring ", 0, 100, 42, true, false, "Transferring "},
    {"hidden_text", "Transferring ", 0, 100, 42, false, true, ""},
    {"truncated_not_rounded", "", 0, 1000, 999, true, true, "99%"},
    {"whole_numbers_29_of_100", "", 0, 100, 29, true, true, "29%"},
    {"shifted_range", "", 100, 300, 150, true, true, "25%"},
    {"negative_range", "", -50, 50, 0, true, true, "50%"},
    {"full", "", 0, 100, 100, true, true, "100%"},
    {"above_the_range_holds_at_100", "", 0, 100, 250, true, true, "100%"},
    {"below_the_range_holds_at_0", "", 10, 20, 3, true, true, "0%"},
    {"empty_range", "", 5, 5, 5, true, true, "0%"},
    {"widest_range", "", INT32_MIN, INT32_MAX, 0, true, true, "50%"},
};

TEST_F(TextProgressTest, ShowsTextAndPercentage) {
    for (const TextCase& c : kTextCases) {
        SCOPED_TRACE(c.name);
        m_bar.SetRange(c.lower, c.upper);
        m_bar.SetWindowText(QString::fromUtf8(c.text));
        m_bar.SetShowText(c.showText);
        m_bar.SetShowPercent(c.showPercent);
        m_bar.SetPos(c.position);
        EXPECT_EQ(m_bar.DisplayText().toStdString(), c.shown);
        EXPECT_EQ(m_bar.GetWindowText().toStdString(), c.text);
    }
}

TEST_F(TextProgressTest, SetPosReturnsThePreviousPosition) {
    EXPECT_EQ(m_bar.SetPos(10), 0);
    EXPECT_EQ(m_bar.SetPos(20), 10);
    EXPECT_EQ(m_bar.GetPos(), 20);
}

TEST_F(TextProgressTest, PaintsTheBarAndTheRestInTheirColours) {
    Show(200);
    m_bar.SetShowText(false);
    m_bar.SetBarColour(Qt::red);
    m_bar.SetBackColour(Qt::white);
    m_bar.SetPos(25);
    const QImage picture = Picture();
    EXPECT_EQ(ClientPixel(picture, 0), QColor(Qt::red));
    EXPECT_EQ(ClientPixel(picture, 49), QColor(Qt::red));
    EXPECT_EQ(ClientPixel(picture, 50), QColor(Qt::white));
    EXPECT_EQ(ClientPixel(picture, 199), QColor(Qt::white));
}

TEST_F(TextProgressTest, InvertsTheTextColoursOverTheBar) {
    Show(200);
    m_bar.SetBarColour(Qt::blue);
    m_bar.SetBackColour(Qt::white);
    m_bar.SetTextOnBarColour(Qt::white);
    m_bar.SetTextOnBackColour(Qt::blue);
    m_bar.SetWindowText(QStringLiteral("MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM "));
    m_bar.SetPos(50);
    const QImage picture = Picture();
    // Across the middle row, the bar half holds only blue and text-white (plus their blend at the
    // letters' edges), the other half only white and text-blue: each half shows both colours.
    const QRect client = m_bar.contentsRect();
    const int y = client.center().y();
    auto countBlue = [&](int from, int to) {
        int blue = 0;
        for (int x = from; x < to; ++x)
            blue += picture.pixelColor(client.left() + x, y) == QColor(Qt::blue) ? 1 : 0;
        return blue;
    };
    const int blueOnBar = countBlue(0, 100);
    const int blueOnRest = countBlue(100, 200);
    EXPECT_GT(blueOnBar, 0);
    EXPECT_LT(blueOnBar, 100) << "no text over the bar";
    EXPECT_GT(blueOnRest, 0) << "no text over the rest";
    EXPECT_LT(blueOnRest, 100);
}

TEST_F(TextProgressTest, EmptyRangePaintsNoBar) {
    Show(200);
    m_bar.SetBarColour(Qt::red);
    m_bar.SetRange(7, 7);
    m_bar.SetPos(7);
    const QImage picture = Picture();
    for (int x = 0; x < 200; x += 10)
        EXPECT_NE(ClientPixel(picture, x), QColor(Qt::red)) << "x=" << x;
}

TEST_F(TextProgressTest, RepaintsOnlyWhenTheBarWidthChanges) {
    Show(50);
    PaintCounter paints(&m_bar);
    m_bar.SetPos(2); // 1 pixel: the first position after showing always repaints
    EXPECT_EQ(paints.Count(), 1);
    m_bar.SetPos(3); // 3 % is still 1 pixel of 50
    EXPECT_EQ(paints.Count(), 1);
    m_bar.SetPos(4); // 2 pixels
    EXPECT_EQ(paints.Count(), 2);
    m_bar.SetPos(4);
    EXPECT_EQ(paints.Count(), 2);
}

TEST_F(TextProgressTest, RepaintsAfterAResizeEvenAtTheSamePosition) {
    Show(50);
    m_bar.SetPos(40);
    PaintCounter paints(&m_bar);
    m_bar.resize(m_bar.width() + 30, m_bar.height());
    QCoreApplication::processEvents();
    const int afterResize = paints.Count();
    m_bar.SetPos(40);
    EXPECT_EQ(paints.Count(), afterResize + 1);
}

TEST_F(TextProgressTest, PositionFromAWorkerThreadRepaintsOnTheWidgetsThread) {
    Show(100);
    m_bar.SetShowText(false);
    m_bar.SetBarColour(Qt::red);
    m_bar.SetBackColour(Qt::white);
    m_bar.SetPos(10);
    PaintCounter paints(&m_bar);
    int previous = -1;
    std::thread worker([&] {
        previous = m_bar.SetPos(60);
        m_bar.SetWindowText(QStringLiteral("Transferring "));
        m_bar.SetShowText(true);
    });
    worker.join();
    EXPECT_EQ(previous, 10);
    EXPECT_EQ(m_bar.GetPos(), 60);
    EXPECT_EQ(paints.Count(), 0) << "painted outside the widget's thread";
    EXPECT_TRUE(QTest::qWaitFor([&] { return paints.Count() > 0; }, 2000));
    QCoreApplication::processEvents();
    const QImage picture = Picture();
    EXPECT_EQ(ClientPixel(picture, 59), QColor(Qt::red));
    EXPECT_EQ(ClientPixel(picture, 61), QColor(Qt::white));
    EXPECT_EQ(m_bar.DisplayText(), QStringLiteral("Transferring 60%"));
}

} // namespace
} // namespace qarn
