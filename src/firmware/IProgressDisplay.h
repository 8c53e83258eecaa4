#pragma once

#include <cstdint>
#include <string>

namespace qarn {

// What a firmware transfer shows while it runs: a bar with a position in percent and, when its
// text display is on, a window text followed by that percentage. The main window's text progress
// bar and the command line's progress line implement it; an engine given none shows nothing.
//
// The engines call it from the firmware-update thread, never from a user-interface thread, so an
// implementation that owns a window hands each call over to that window's thread.
class IProgressDisplay {
  public:
    virtual ~IProgressDisplay() = default;

    // 0..100.
    virtual void SetPos(int32_t percent) = 0;
    virtual void SetShowText(bool show) = 0;
    virtual void SetWindowText(const std::string& text) = 0;
    // Repaints the bar itself at once, not at the next idle moment.
    virtual void RepaintNow() = 0;
    // Repaints the window that holds the bar at once.
    virtual void RepaintParentNow() = 0;
};

} // namespace qarn
