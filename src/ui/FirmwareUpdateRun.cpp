#include "ui/FirmwareUpdateRun.h"

#include "diag/FileLogger.h"
#include "platform/CrashDump.h"
#include "ui/controls/CTextProgressCtrl.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include <QMetaObject>
#include <QTimer>
#include <QWidget>

namespace qarn {

TextProgressDisplay::TextProgressDisplay(CTextProgressCtrl* bar) : m_bar(bar) {}

void TextProgressDisplay::SetPos(int32_t percent) {
    if (CTextProgressCtrl* bar = m_bar.data())
        bar->SetPos(percent);
}

void TextProgressDisplay::SetShowText(bool show) {
    if (CTextProgressCtrl* bar = m_bar.data())
        bar->SetShowText(show);
}

void TextProgressDisplay::SetWindowText(const std::string& text) {
    if (CTextProgressCtrl* bar = m_bar.data())
        bar->SetWindowText(QString::fromStdString(text));
}

void TextProgressDisplay::RepaintNow() {
    if (CTextProgressCtrl* bar = m_bar.data())
        QMetaObject::invokeMethod(
            bar, [bar] { bar->repaint(); }, Qt::QueuedConnection);
}

void TextProgressDisplay::RepaintParentNow() {
    CTextProgressCtrl* bar = m_bar.data();
    QWidget* window = bar != nullptr ? bar->window() : nullptr;
    if (window != nullptr)
        QMetaObject::invokeMethod(
            window, [window] { window->repaint(); }, Qt::QueuedConnection);
}

FirmwareUpdateRun::FirmwareUpdateRun(IFirmwareTransfer& transfer, FirmwareEngine engine,
                                     std::string target, std::vector<uint8_t> image,
                                     CTextProgressCtrl* bar)
    : m_transfer(transfer), m_engine(engine), m_target(std::move(target)),
      m_image(std::move(image)), m_progress(bar) {}

FirmwareUpdateRun::~FirmwareUpdateRun() {
    Join();
}

bool FirmwareUpdateRun::Start(Done done) {
    if (m_thread.joinable())
        return false;
    m_done = std::move(done);
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error& error) {
        if (IsErrorLogEnabled())
            LogError(std::string("FirmwareUpdateRun::Start: no thread: ") + error.what());
        return false;
    }
    return true;
}

void FirmwareUpdateRun::StartWhenQuiet(QObject* context, LastAnswer lastAnswer,
                                       std::function<void()> beforeTransfer, Done done) {
    m_lastAnswer = std::move(lastAnswer);
    m_beforeTransfer = std::move(beforeTransfer);
    m_done = std::move(done);
    m_waitStart = std::chrono::steady_clock::now();
    WaitForQuiet(context);
}

void FirmwareUpdateRun::WaitForQuiet(QObject* context) {
    constexpr int kLookEveryMs = 100;
    const auto now = std::chrono::steady_clock::now();
    const auto last = m_lastAnswer ? std::max(m_lastAnswer(), m_waitStart) : m_waitStart;
    if (now - last < kQuiet && now - m_waitStart < kQuietLimit) {
        QTimer::singleShot(kLookEveryMs, context, [this, context] { WaitForQuiet(context); });
        return;
    }
    if (m_beforeTransfer)
        m_beforeTransfer();
    Done done = m_done;
    if (!Start(std::move(done)) && m_done)
        m_done(TransferResult{});
}

void FirmwareUpdateRun::Join() {
    if (m_thread.joinable())
        m_thread.join();
}

void FirmwareUpdateRun::Run() {
    platform::AddAlternateSignalStack();
    const TransferResult result = m_transfer.Run(m_engine, m_target, m_image, &m_progress);
    if (m_done)
        m_done(result);
}

} // namespace qarn
