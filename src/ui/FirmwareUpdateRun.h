#pragma once

#include "firmware/FirmwareImages.h"
#include "firmware/IProgressDisplay.h"
#include "ui/DialogServices.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <QObject>
#include <QPointer>

namespace qarn {

class CTextProgressCtrl;

// The engines' progress reports, from the firmware-update thread, shown on the window's text
// progress bar. The bar takes positions and texts from any thread and repaints on its own; the
// two repaint requests are passed to the user-interface thread without waiting for it.
class TextProgressDisplay : public IProgressDisplay {
  public:
    explicit TextProgressDisplay(CTextProgressCtrl* bar);

    void SetPos(int32_t percent) override;
    void SetShowText(bool show) override;
    void SetWindowText(const std::string& text) override;
    void RepaintNow() override;
    void RepaintParentNow() override;

  private:
    QPointer<CTextProgressCtrl> m_bar;
};

// One firmware transfer on a thread of its own, so that the window keeps painting and answering
// while the engine blocks for half a minute and more. The window is locked until `done` has been
// called.
//
// Before the transfer the other converters' answers to the last discovery request must be over:
// the engine's endpoint takes whatever reaches the converter port, and a stray configuration
// answer counts against a block. StartWhenQuiet waits for a second without answers, at most
// 2.5 s (the window sends no request meanwhile), then lets the window close its endpoint (the
// engine needs the port) and starts the transfer.
class FirmwareUpdateRun {
  public:
    static constexpr std::chrono::milliseconds kQuiet{1000};
    static constexpr std::chrono::milliseconds kQuietLimit{2500};

    // Called when the transfer has ended, with its result: on the transfer's thread, or at once
    // when no thread could be started; the window posts it to its own thread from here.
    using Done = std::function<void(const TransferResult& result)>;
    using LastAnswer = std::function<std::chrono::steady_clock::time_point()>;

    FirmwareUpdateRun(IFirmwareTransfer& transfer, FirmwareEngine engine, std::string target,
                      std::vector<uint8_t> image, CTextProgressCtrl* bar);
    // Waits for the transfer's thread.
    ~FirmwareUpdateRun();
    FirmwareUpdateRun(const FirmwareUpdateRun&) = delete;
    FirmwareUpdateRun& operator=(const FirmwareUpdateRun&) = delete;

    // False when the thread could not be started (nothing runs then).
    bool Start(Done done);
    // Waits on `context`'s thread (its event loop keeps running) until `lastAnswer` lies kQuiet
    // back or kQuietLimit has passed, calls `beforeTransfer` and starts; `done` reports a thread
    // that could not be started as a failed transfer.
    void StartWhenQuiet(QObject* context, LastAnswer lastAnswer,
                        std::function<void()> beforeTransfer, Done done);
    // Waits for the thread to end; at once when it has (the window calls it once `done` came).
    void Join();

  private:
    void Run();
    void WaitForQuiet(QObject* context);

    IFirmwareTransfer& m_transfer;
    const FirmwareEngine m_engine;
    const std::string m_target;
    const std::vector<uint8_t> m_image;
    TextProgressDisplay m_progress;
    Done m_done;
    LastAnswer m_lastAnswer;
    std::function<void()> m_beforeTransfer;
    std::chrono::steady_clock::time_point m_waitStart;
    std::thread m_thread;
};

} // namespace qarn
