#pragma once

#include "firmware/IProgressDisplay.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <ostream>
#include <string>
#include <vector>

namespace qarn::cli {

// How `flash` shows several transfers at once.
enum class FleetOutput {
    // A terminal: a block of bars, one line per converter whose transfer runs, redrawn in place
    // under the lines already printed, and a count line at its foot. A converter whose transfer
    // ended leaves the block and gets a line of its own above it.
    //     198.18.1.7    [############------------------]  40 %  transferring
    //     3 updated, 0 failed, 5 running, 4 waiting
    Bars,
    // A file or a pipe: "198.18.1.7: 40 % (52428 of 131072 bytes)" at each further tenth, and
    // each note as "198.18.1.7: <text>", in the order they happen.
    Lines,
    // JSON lines, one object per event (see FleetProgress::Emit).
    Json,
};

// The progress of many transfers on one output. Each converter has a lane; the engines drive
// their lanes (IProgressDisplay) from their own threads, so everything here takes one lock.
class FleetProgress {
  public:
    static constexpr int kBarWidth = 30;
    static constexpr int kLineStep = 10;
    // The bars are redrawn at most this often; notes and the end redraw at once.
    static constexpr std::chrono::milliseconds kRedrawInterval{100};

    // `terminalRows` bounds the bar block (with Bars): lanes beyond it are counted, not drawn.
    FleetProgress(std::ostream& out, FleetOutput form, int terminalRows = 24);
    ~FleetProgress();

    FleetProgress(const FleetProgress&) = delete;
    FleetProgress& operator=(const FleetProgress&) = delete;

    // A lane for the converter `name` ("198.18.1.7") whose image has `totalBytes`; all lanes are
    // added before any transfer starts. Returns its number.
    size_t AddLane(const std::string& name, uint64_t totalBytes);
    // What the engine of lane `lane` drives. Stays valid as long as this object.
    IProgressDisplay& Display(size_t lane);

    // A transfer of the lane starts (a further attempt too: its position goes back to 0), with
    // the state shown beside its bar ("transferring") and the one shown once it reaches 100 %
    // ("waiting for its restart"; empty: the same). The lane counts as running from then on.
    void SetState(size_t lane, const std::string& state, const std::string& stateAtFull = "");
    // The lane has ended (for now): it leaves the block. `verdict` for the count line: "updated",
    // "failed" or "" (it comes back, e.g. for its new version).
    void EndLane(size_t lane, const std::string& verdict);
    // A line about one converter: "198.18.1.7: <text>" in text forms, above the bars. With Json
    // the object `event` is printed instead (it names its event and converter itself).
    void Note(size_t lane, const std::string& text, const nlohmann::ordered_json& event);
    // A line of the command's own, above the bars; nothing with Json.
    void Print(const std::string& text);
    // A JSON line (Json only).
    void Emit(const nlohmann::ordered_json& event);
    // Clears the bar block for good; call before the summary.
    void Finish();

    FleetOutput Form() const { return m_form; }

  private:
    class LaneDisplay;
    struct Lane {
        std::string name;
        uint64_t totalBytes = 0;
        int32_t percent = 0;
        bool started = false; // the engine set a position
        bool running = false;
        bool ended = false;
        int32_t lastStep = -1; // the tenth of the last plain line or JSON progress event
        std::string state;
        std::string stateAtFull;
    };

    void OnPosition(size_t lane, int32_t percent);
    uint64_t BytesAt(const Lane& lane) const;
    std::string BarLine(const Lane& lane) const;
    std::string CountLine() const;
    // Under m_lock: prints `lines` above the block, then the block again (Bars).
    void WriteAbove(const std::vector<std::string>& lines);
    void Redraw(bool force);
    void EraseBlock();

    std::ostream& m_out;
    FleetOutput m_form;
    int m_terminalRows;
    mutable std::mutex m_lock;
    std::vector<Lane> m_lanes;
    std::vector<std::unique_ptr<LaneDisplay>> m_displays;
    size_t m_drawnLines = 0; // lines of the block on screen
    std::chrono::steady_clock::time_point m_lastDraw{};
    size_t m_updated = 0;
    size_t m_failed = 0;
    bool m_finished = false;
};

} // namespace qarn::cli
