#pragma once

// A tour of the real window on a (simulated) LAN, the way a technician goes through it: wait for
// the list, look at a converter's settings, change one and write it, update a converter's
// firmware and watch the progress, start the program a second time. Each step checks what the
// user would see and the tour stops at the first one that does not hold. Screenshots of the
// screens on the way go to a folder when asked for.
//
// It runs inside the program's own start-up (QarnTeskConverterConfigApp::InitInstance with the
// program's MainDialogFactory): the window, endpoint, echo and firmware engines are the real
// ones. It is driven with QTest's mouse and key events on the real widgets.

#include "ui/MainDialogFactory.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <QObject>
#include <QString>

class QTimer;

namespace qarn {

class QarnTeskConverterConfigDlg;

struct TourOptions {
    QString screenshots;            // folder for the screenshots; none when empty
    QString prefix;                 // put before each screenshot's name ("RUS-")
    size_t expect = 0;              // converters that must be listed and complete
    std::optional<uint32_t> deaf;   // a converter that must be red (no echo)
    std::optional<uint32_t> select; // the converter whose settings are looked at
    std::optional<uint32_t> write;  // the converter whose port 1 becomes 5000 and is written
    QString simLog;                 // the simulator's --log file: the write must be there once
    std::optional<uint32_t> flash;  // the converter whose firmware is updated
    // A converter that takes the whole image but keeps its old firmware: the update must be
    // reported as not taken, naming the old version.
    std::optional<uint32_t> flashStale;
    bool manual = false;            // open the entry by MAC address and look at it
    QString secondStart;            // the program to start a second time
    std::chrono::seconds limit{30}; // for each wait
};

class WindowTour : public QObject {
  public:
    WindowTour(TourOptions options, MainDialogFactory& factory);

    // Runs the tour once the window is up; then closes the window.
    void Start();

    bool Passed() const { return m_failure.isEmpty(); }
    const QString& Failure() const { return m_failure; }

  private:
    void Run();
    bool WaitForList();
    bool LookAtSettings(uint32_t address, const QString& shot);
    bool WriteAPort(uint32_t address);
    bool UpdateFirmware(uint32_t address, bool stale);
    bool StartASecondTime();
    bool LookAtManualEntry();

    // Waits, with the window's events going on, until `done` holds; false after the limit with
    // the failure `what`.
    bool WaitFor(const std::function<bool()>& done, const QString& what);
    bool Fail(const QString& why);
    void Say(const QString& line) const;
    bool ClickRow(uint32_t address);
    void Shot(const QString& name);
    void WatchMessageBoxes();

    TourOptions m_options;
    MainDialogFactory& m_factory;
    QarnTeskConverterConfigDlg* m_window = nullptr;
    QTimer* m_watcher = nullptr;
    QString m_failure;
    QStringList m_messages;   // texts of the message boxes the tour closed
    QString m_messageShot;    // screenshot to take of the next message box
    qint64 m_simLogStart = 0; // the simulator's log before the write
};

} // namespace qarn
