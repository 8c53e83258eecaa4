#pragma once

// A scripted converter behind a fake transport, for the transfer engines without a network. The
// fake answers each datagram the engine sends at once, on the engine's own thread, by pushing the
// scripted answers into the engine's private queue, so every run is deterministic. Everything the
// engine does to the outside (datagrams, pauses, pings, progress calls) lands in one timeline.

#include "firmware/FirmwareTransferEnvironment.h"
#include "firmware/IFirmwareTransport.h"
#include "firmware/IProgressDisplay.h"
#include "net/CMsgQueue.h"
#include "platform/ByteOrder.h"
#include "protocol/Scramble.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qarn::test {

using Bytes = std::vector<uint8_t>;

inline constexpr char kTarget[] = "198.18.1.7";
inline constexpr uint32_t kTargetAddress = 0x070112C6; // 198.18.1.7, network order
inline constexpr uint32_t kElsewhere = 0x090112C6;     // 198.18.1.9: another host on the port

// One datagram as the engine sent it, its header fields read byte by byte and its payload
// unscrambled with the seed it carries.
struct Sent {
    Bytes bytes;
    uint8_t type = 0, cmd = 0, answerCmd = 0, subCmd = 0;
    uint32_t block = 0, length = 0, seed = 0;
    Bytes plain;

    explicit Sent(Bytes datagram) : bytes(std::move(datagram)) {
        if (bytes.size() < 16)
            return;
        type = bytes[0];
        cmd = bytes[1];
        answerCmd = bytes[2];
        subCmd = bytes[3];
        block = platform::GetLe32(&bytes[4]);
        length = platform::GetLe32(&bytes[8]);
        seed = platform::GetLe32(&bytes[12]);
        plain.assign(bytes.begin() + 16, bytes.end());
        ScramblePayload(seed, plain.data(), static_cast<int32_t>(plain.size()));
    }
    bool IsBlock() const { return cmd == 0x1E; }
    bool IsCommit() const { return cmd == 0x26; }
    uint16_t Number() const { return static_cast<uint16_t>(block & 0xFFFF); }
};

// A converter's 16-byte answer to a block: echo at offset 4, byAnswerCmd at offset 2.
inline Bytes Ack(uint16_t echo, uint8_t answerCmd = 1) {
    Bytes answer(16, 0);
    answer[0] = 1;
    answer[1] = 0x1E;
    answer[2] = answerCmd;
    platform::PutLe16(&answer[4], echo);
    return answer;
}

// The answer to a commit: byCmd 0x26 accepts, anything else refuses.
inline Bytes CommitAnswer(uint8_t cmd) {
    Bytes answer(16, 0);
    answer[0] = 1;
    answer[1] = cmd;
    answer[2] = cmd == 0x26 ? 1 : 0;
    return answer;
}

inline Bytes Resized(Bytes bytes, size_t size) {
    bytes.resize(size, 0);
    return bytes;
}

// What the fake transport and environment saw, kept by the test after the engine has let go of
// them.
struct FakeLink {
    // The scripted converter: answers to each send of block `number`, in turn; a send without a
    // script left gets the right acknowledgement. An empty answer list is silence.
    std::map<uint16_t, std::deque<std::vector<Bytes>>> blockScripts;
    std::deque<std::vector<Bytes>> commitScript;
    // Datagrams that reach the port from kElsewhere at each send, before the converter answers.
    std::function<std::vector<Bytes>(const Sent&)> fromElsewhere;
    bool openSucceeds = true;
    std::vector<Bytes> waitingAtOpen; // already in the queue when the engine looks first
    bool pingAnswers = true;

    std::vector<Sent> sent;
    std::vector<std::string> timeline;
    int transportsMade = 0;
    bool madeForUdp = false;
    int32_t clientLimit = 0;
    uint32_t openedTarget = 0;
    bool signalAnswers = false;
    int closes = 0;

    std::vector<Bytes> AnswersTo(const Sent& datagram) {
        if (datagram.IsCommit()) {
            if (commitScript.empty())
                return {CommitAnswer(0x26)};
            auto answers = commitScript.front();
            commitScript.pop_front();
            return answers;
        }
        auto script = blockScripts.find(datagram.Number());
        if (script == blockScripts.end() || script->second.empty())
            return {Ack(datagram.Number())};
        auto answers = script->second.front();
        script->second.pop_front();
        return answers;
    }

    std::vector<Sent> Blocks() const {
        std::vector<Sent> blocks;
        for (const Sent& s : sent)
            if (s.IsBlock())
                blocks.push_back(s);
        return blocks;
    }
    size_t SendsOfBlock(uint16_t number) const {
        size_t count = 0;
        for (const Sent& s : sent)
            count += s.IsBlock() && s.Number() == number ? 1 : 0;
        return count;
    }
};

class FakeTransport : public IFirmwareTransport {
  public:
    explicit FakeTransport(FakeLink& link) : m_link(link) {}

    bool Open(CMsgQueue& answers, uint32_t target, bool signalAnswers) override {
        m_link.timeline.push_back("open");
        m_link.openedTarget = target;
        m_link.signalAnswers = signalAnswers;
        if (!m_link.openSucceeds)
            return false;
        m_queue = &answers;
        for (const Bytes& answer : m_link.waitingAtOpen)
            Push(answer);
        return true;
    }
    bool Send(std::span<const uint8_t> datagram) override {
        m_link.sent.emplace_back(Bytes(datagram.begin(), datagram.end()));
        m_link.timeline.push_back("send");
        if (m_link.fromElsewhere)
            for (const Bytes& stray : m_link.fromElsewhere(m_link.sent.back()))
                Push(stray, kElsewhere);
        for (const Bytes& answer : m_link.AnswersTo(m_link.sent.back()))
            Push(answer);
        return true;
    }
    void Close() override {
        m_link.timeline.push_back("close");
        ++m_link.closes;
        m_queue = nullptr;
    }

  private:
    void Push(const Bytes& bytes, uint32_t from = kTargetAddress) {
        auto msg = std::make_unique<CMsg>();
        msg->data = bytes;
        msg->address = from;
        m_queue->Push(std::move(msg), m_link.signalAnswers);
    }

    FakeLink& m_link;
    CMsgQueue* m_queue = nullptr;
};

// The fake transport for UDP, none for the client; pauses and pings recorded, not carried out.
inline FirmwareTransferEnvironment FakeEnvironment(FakeLink& link) {
    FirmwareTransferEnvironment environment;
    environment.makeTransport =
        [&link](bool useUdp, int32_t clientLimit) -> std::unique_ptr<IFirmwareTransport> {
        ++link.transportsMade;
        link.madeForUdp = useUdp;
        link.clientLimit = clientLimit;
        if (!useUdp)
            return nullptr;
        return std::make_unique<FakeTransport>(link);
    };
    environment.pingWait = [&link](const std::string& target, int32_t retries) {
        link.timeline.push_back("ping " + target + " " + std::to_string(retries));
        return link.pingAnswers;
    };
    environment.sleep = [&link](std::chrono::milliseconds span) {
        link.timeline.push_back("sleep " + std::to_string(span.count()));
    };
    return environment;
}

// Records the calls a progress bar gets, in the shared timeline.
class FakeProgress : public IProgressDisplay {
  public:
    explicit FakeProgress(FakeLink& link) : m_link(link) {}

    void SetPos(int32_t percent) override {
        positions.push_back(percent);
        m_link.timeline.push_back("pos " + std::to_string(percent));
    }
    void SetShowText(bool show) override {
        m_link.timeline.push_back(show ? "text on" : "text off");
    }
    void SetWindowText(const std::string& text) override {
        m_link.timeline.push_back("text '" + text + "'");
    }
    void RepaintNow() override { m_link.timeline.push_back("repaint"); }
    void RepaintParentNow() override { m_link.timeline.push_back("repaint parent"); }

    std::vector<int32_t> positions;

  private:
    FakeLink& m_link;
};

// Pseudo-random image bytes: every block differs, so a block sent at the wrong offset shows.
inline Bytes TestImage(size_t size, uint32_t seed) {
    Bytes image(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& byte : image) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<uint8_t>(x);
    }
    return image;
}

// The timeline from the first entry equal to `from` on.
inline std::vector<std::string> TimelineFrom(const std::vector<std::string>& timeline,
                                             const std::string& from) {
    for (size_t i = 0; i < timeline.size(); ++i)
        if (timeline[i] == from)
            return {timeline.begin() + static_cast<std::ptrdiff_t>(i), timeline.end()};
    return {};
}

} // namespace qarn::test
