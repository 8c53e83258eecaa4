#pragma once

#include "firmware/IProgressDisplay.h"

#include <cstdint>
#include <ostream>
#include <string>

namespace qarn::cli {

// How the command line shows a running firmware transfer: one bar redrawn in place on a
// terminal, or plain lines for a file or a pipe, where carriage returns would pile up.
enum class ProgressStyle { Bar, Lines };

// The command line's progress display for a firmware transfer, driven by the engine through
// IProgressDisplay as the window's text progress bar is. Like that bar it shows the window text
// followed by the percentage only while the text display is on; here the share of the image's
// bytes that the percentage stands for follows.
//
// Bar, redrawn with '\r' whenever what it shows changes:
//     "flashing 198.18.1.2: [############------------------]  40 %  52428 of 131072 bytes"
// Lines, one at the first position and one each time the percentage reaches a further tenth:
//     "flashing 198.18.1.2: 40 % (52428 of 131072 bytes)"
//
// Everything goes to `out` (the command's standard output, so that standard error keeps the one
// reason line of a failure). Only the thread that runs the transfer calls it.
class TextProgress : public IProgressDisplay {
  public:
    static constexpr int kBarWidth = 30; // characters between the brackets
    static constexpr int kLineStep = 10; // percent between two plain lines

    // `totalBytes`: the size of the image being sent.
    TextProgress(std::ostream& out, ProgressStyle style, uint64_t totalBytes);

    // Clamped to 0..100; shown at once when that changes what is shown.
    void SetPos(int32_t percent) override;
    // Only changes what the next position or repaint shows: when the engine switches the text
    // off at its end, the last line stays on screen as it was.
    void SetShowText(bool show) override;
    void SetWindowText(const std::string& text) override;
    void RepaintNow() override;
    void RepaintParentNow() override;

    // Ends a bar line that is still open, so that what follows starts on a line of its own.
    // Call before printing anything else to `out`.
    void Finish();

    // Whether the engine set a position at all: it does so once its endpoint is open.
    bool Started() const { return m_started; }
    int32_t Position() const { return m_position; }
    // The part of the image that `percent` stands for: 40 % of 131072 -> 52428.
    uint64_t BytesAt(int32_t percent) const;

  private:
    std::string BarLine() const;
    std::string PlainLine() const;
    void Show();

    std::ostream& m_out;
    ProgressStyle m_style;
    uint64_t m_totalBytes;
    std::string m_text;
    bool m_showText = true;
    bool m_started = false;
    int32_t m_position = 0;
    std::string m_drawn;     // the bar line on screen; empty when none is open
    int32_t m_lastStep = -1; // the tenth of the last plain line; -1 before the first
};

} // namespace qarn::cli
