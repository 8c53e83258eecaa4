#include "cli/TextProgress.h"

#include <algorithm>

namespace qarn::cli {

TextProgress::TextProgress(std::ostream& out, ProgressStyle style, uint64_t totalBytes)
    : m_out(out), m_style(style), m_totalBytes(totalBytes) {}

uint64_t TextProgress::BytesAt(int32_t percent) const {
    return m_totalBytes * static_cast<uint64_t>(std::clamp(percent, 0, 100)) / 100;
}

std::string TextProgress::BarLine() const {
    const int filled = m_position * kBarWidth / 100;
    std::string line = "[" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(kBarWidth - filled), '-') + "]";
    if (!m_showText)
        return line;
    std::string percent = std::to_string(m_position);
    percent.insert(0, 3 - percent.size(), ' '); // "  7", " 42", "100": the bytes stay in place
    return m_text + line + " " + percent + " %  " + std::to_string(BytesAt(m_position)) + " of " +
           std::to_string(m_totalBytes) + " bytes";
}

std::string TextProgress::PlainLine() const {
    return m_text + std::to_string(m_position) + " % (" + std::to_string(BytesAt(m_position)) +
           " of " + std::to_string(m_totalBytes) + " bytes)";
}

void TextProgress::Show() {
    if (!m_started)
        return;
    if (m_style == ProgressStyle::Lines) {
        const int32_t step = m_position / kLineStep;
        if (!m_showText || step <= m_lastStep)
            return;
        m_lastStep = step;
        m_out << PlainLine() << "\n" << std::flush;
        return;
    }
    const std::string line = BarLine();
    if (line == m_drawn)
        return;
    // Blanks cover the rest of a longer line drawn before, e.g. after a shorter window text.
    const size_t cover = m_drawn.size() > line.size() ? m_drawn.size() - line.size() : 0;
    m_out << "\r" << line << std::string(cover, ' ') << std::flush;
    m_drawn = line;
}

void TextProgress::SetPos(int32_t percent) {
    m_started = true;
    m_position = std::clamp(percent, 0, 100);
    Show();
}

void TextProgress::SetShowText(bool show) {
    m_showText = show;
}

void TextProgress::SetWindowText(const std::string& text) {
    m_text = text;
}

void TextProgress::RepaintNow() {
    Show();
}

void TextProgress::RepaintParentNow() {
    Show();
}

void TextProgress::Finish() {
    if (m_drawn.empty())
        return;
    m_out << "\n" << std::flush;
    m_drawn.clear();
}

} // namespace qarn::cli
