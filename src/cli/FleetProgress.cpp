#include "cli/FleetProgress.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace qarn::cli {

namespace {

// VT100: to the start of the line `n` lines up; erase the whole line.
std::string CursorUp(size_t n) {
    return "\x1b[" + std::to_string(n) + "A\r";
}
constexpr const char* kEraseLine = "\x1b[2K";

} // namespace

// The engine's view of one lane. The texts the engine sets are the window's business; the lane
// shows the converter's name and the state the fleet gives it.
class FleetProgress::LaneDisplay : public IProgressDisplay {
  public:
    LaneDisplay(FleetProgress& owner, size_t lane) : m_owner(owner), m_lane(lane) {}
    void SetPos(int32_t percent) override { m_owner.OnPosition(m_lane, percent); }
    void SetShowText(bool) override {}
    void SetWindowText(const std::string&) override {}
    void RepaintNow() override {}
    void RepaintParentNow() override {}

  private:
    FleetProgress& m_owner;
    size_t m_lane;
};

FleetProgress::FleetProgress(std::ostream& out, FleetOutput form, int terminalRows)
    : m_out(out), m_form(form), m_terminalRows(std::max(terminalRows, 4)) {}

FleetProgress::~FleetProgress() {
    Finish();
}

size_t FleetProgress::AddLane(const std::string& name, uint64_t totalBytes) {
    const std::lock_guard<std::mutex> guard(m_lock);
    Lane lane;
    lane.name = name;
    lane.totalBytes = totalBytes;
    m_lanes.push_back(lane);
    m_displays.push_back(std::make_unique<LaneDisplay>(*this, m_lanes.size() - 1));
    return m_lanes.size() - 1;
}

IProgressDisplay& FleetProgress::Display(size_t lane) {
    const std::lock_guard<std::mutex> guard(m_lock);
    return *m_displays.at(lane);
}

uint64_t FleetProgress::BytesAt(const Lane& lane) const {
    return lane.totalBytes * static_cast<uint64_t>(std::clamp(lane.percent, 0, 100)) / 100;
}

void FleetProgress::OnPosition(size_t index, int32_t percent) {
    const std::lock_guard<std::mutex> guard(m_lock);
    Lane& lane = m_lanes.at(index);
    lane.started = true;
    lane.percent = std::clamp(percent, 0, 100);
    const int32_t step = lane.percent / kLineStep;
    const bool newStep = step > lane.lastStep;
    if (newStep)
        lane.lastStep = step;
    switch (m_form) {
    case FleetOutput::Bars:
        Redraw(false);
        break;
    case FleetOutput::Lines:
        if (newStep)
            m_out << lane.name << ": " << lane.percent << " % (" << BytesAt(lane) << " of "
                  << lane.totalBytes << " bytes)\n"
                  << std::flush;
        break;
    case FleetOutput::Json:
        if (newStep)
            m_out << nlohmann::ordered_json{{"event", "progress"},
                                            {"converter", lane.name},
                                            {"percent", lane.percent},
                                            {"bytes", BytesAt(lane)},
                                            {"total_bytes", lane.totalBytes}}
                         .dump()
                  << "\n"
                  << std::flush;
        break;
    }
}

void FleetProgress::SetState(size_t index, const std::string& state,
                             const std::string& stateAtFull) {
    const std::lock_guard<std::mutex> guard(m_lock);
    Lane& lane = m_lanes.at(index);
    lane.state = state;
    lane.stateAtFull = stateAtFull.empty() ? state : stateAtFull;
    // Each transfer (a further attempt too) starts from its first block: its tenths show again.
    lane.running = true;
    lane.ended = false;
    lane.started = false;
    lane.percent = 0;
    lane.lastStep = -1;
    if (m_form == FleetOutput::Bars)
        Redraw(true);
}

void FleetProgress::EndLane(size_t index, const std::string& verdict) {
    const std::lock_guard<std::mutex> guard(m_lock);
    Lane& lane = m_lanes.at(index);
    lane.running = false;
    lane.ended = true;
    if (verdict == "updated")
        ++m_updated;
    else if (verdict == "failed")
        ++m_failed;
    if (m_form == FleetOutput::Bars)
        Redraw(true);
}

void FleetProgress::Note(size_t index, const std::string& text,
                         const nlohmann::ordered_json& event) {
    const std::lock_guard<std::mutex> guard(m_lock);
    if (m_form == FleetOutput::Json) {
        m_out << event.dump() << "\n" << std::flush;
        return;
    }
    WriteAbove({m_lanes.at(index).name + ": " + text});
}

void FleetProgress::Print(const std::string& text) {
    const std::lock_guard<std::mutex> guard(m_lock);
    if (m_form != FleetOutput::Json)
        WriteAbove({text});
}

void FleetProgress::Emit(const nlohmann::ordered_json& event) {
    const std::lock_guard<std::mutex> guard(m_lock);
    if (m_form == FleetOutput::Json)
        m_out << event.dump() << "\n" << std::flush;
}

void FleetProgress::Finish() {
    const std::lock_guard<std::mutex> guard(m_lock);
    if (m_form == FleetOutput::Bars)
        EraseBlock();
    m_finished = true;
}

void FleetProgress::WriteAbove(const std::vector<std::string>& lines) {
    if (m_form == FleetOutput::Bars)
        EraseBlock();
    for (const std::string& line : lines)
        m_out << line << "\n";
    m_out << std::flush;
    if (m_form == FleetOutput::Bars)
        Redraw(true);
}

std::string FleetProgress::BarLine(const Lane& lane) const {
    const int filled = lane.percent * kBarWidth / 100;
    std::string percent = std::to_string(lane.percent);
    percent.insert(0, 3 - percent.size(), ' ');
    std::string name = lane.name;
    name.resize(std::max<size_t>(name.size(), 15), ' ');
    return name + " [" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(kBarWidth - filled), '-') + "] " + percent + " %  " +
           (lane.percent == 100 ? lane.stateAtFull : lane.state);
}

std::string FleetProgress::CountLine() const {
    size_t running = 0;
    size_t waiting = 0;
    for (const Lane& lane : m_lanes) {
        if (lane.running)
            ++running;
        else if (!lane.ended)
            ++waiting;
    }
    return std::to_string(m_updated) + " updated, " + std::to_string(m_failed) + " failed, " +
           std::to_string(running) + " running, " + std::to_string(waiting) + " waiting";
}

void FleetProgress::EraseBlock() {
    if (m_drawnLines == 0)
        return;
    m_out << CursorUp(m_drawnLines);
    for (size_t i = 0; i < m_drawnLines; ++i)
        m_out << kEraseLine << "\n";
    m_out << CursorUp(m_drawnLines) << std::flush;
    m_drawnLines = 0;
}

void FleetProgress::Redraw(bool force) {
    if (m_finished)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastDraw < kRedrawInterval)
        return;
    m_lastDraw = now;
    // The block must fit the screen, or moving up over it would land on lines scrolled away.
    const size_t room = static_cast<size_t>(m_terminalRows) - 2;
    std::vector<std::string> block;
    size_t hidden = 0;
    for (const Lane& lane : m_lanes) {
        if (!lane.running)
            continue;
        if (block.size() < room)
            block.push_back(BarLine(lane));
        else
            ++hidden;
    }
    std::string foot = CountLine();
    if (hidden > 0)
        foot += " (" + std::to_string(hidden) + " running not shown)";
    block.push_back(foot);
    if (m_drawnLines > 0)
        m_out << CursorUp(m_drawnLines);
    for (const std::string& line : block)
        m_out << kEraseLine << line << "\n";
    // Lines left over from a taller block before.
    for (size_t i = block.size(); i < m_drawnLines; ++i)
        m_out << kEraseLine << "\n";
    if (m_drawnLines > block.size())
        m_out << CursorUp(m_drawnLines - block.size());
    m_out << std::flush;
    m_drawnLines = block.size();
}

} // namespace qarn::cli
