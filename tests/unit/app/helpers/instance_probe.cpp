// A small program that runs the single-instance guard the way the application's start-up does,
// for tests that need real, separate processes. It reports on standard output, one line each:
//
//   registered | unregistered        this copy runs (with or without the instance record)
//   another-running reached=<0|1>     another copy runs; this one asked it forward and ends
//   init-failed                       the start-up lock could not be made
//   shown minimized=<0|1> visible=<0|1>
//   handed-over                       the window was given to the guard
//   activated minimized=<0|1> visible=<0|1> active=<0|1>
//
// A running copy ends on SIGTERM or SIGINT (cleanly, letting go of its record) or after its time
// limit. Options:
//   --minimized | --hidden            how the window first appears (shown normally otherwise)
//   --hand-over-on-signal             hand the window to the guard only on SIGUSR1, so that a
//                                     test can send a request before a window is there
//   --start-at <ms>                   CLOCK_MONOTONIC time to wait for before consulting the guard,
//                                     so that several copies start at the same moment
//   --timeout-ms <ms>                 time limit (default 20000)

#include "app/CInstanceHandler.h"
#include "platform/Process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

namespace {

int g_signalPipe[2] = {-1, -1};

// The handler only passes the signal's number on; the event loop acts on it.
void OnSignal(int number) {
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &byte, 1);
}

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::string Flag(const char* name, bool value) {
    return std::string(" ") + name + (value ? "=1" : "=0");
}

std::string WindowState(const QWidget& window) {
    return Flag("minimized", window.isMinimized()) + Flag("visible", window.isVisible());
}

struct Options {
    bool minimized = false;
    bool hidden = false;
    bool handOverOnSignal = false;
    long long startAtMs = 0;
    int timeoutMs = 20000;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--minimized")
            options.minimized = true;
        else if (arg == "--hidden")
            options.hidden = true;
        else if (arg == "--hand-over-on-signal")
            options.handOverOnSignal = true;
        else if (arg == "--start-at" && hasValue)
            options.startAtMs = std::atoll(argv[++i]);
        else if (arg == "--timeout-ms" && hasValue)
            options.timeoutMs = std::atoi(argv[++i]);
    }
    return options;
}

void WaitUntil(long long monotonicMs) {
    if (monotonicMs <= 0)
        return;
    timespec at{};
    at.tv_sec = static_cast<time_t>(monotonicMs / 1000);
    at.tv_nsec = static_cast<long>(monotonicMs % 1000) * 1000000L;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

// Reports each time a request brings the window forward, once the window system has had a moment
// to pass on the activation.
class ProbeInstanceHandler : public qarn::CInstanceHandler {
  protected:
    void BringToFront(QWidget* window) override {
        CInstanceHandler::BringToFront(window);
        QTimer::singleShot(100, window, [window] {
            Say("activated" + WindowState(*window) + Flag("active", window->isActiveWindow()));
        });
    }
};

// SIGTERM and SIGINT end the event loop; SIGUSR1 calls `onUser1`.
void InstallSignals(QApplication& app, const std::function<void()>& onUser1) {
    if (pipe(g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, onUser1] {
        char number = 0;
        if (read(g_signalPipe[0], &number, 1) != 1)
            return;
        if (number == SIGUSR1)
            onUser1();
        else
            app.quit();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGUSR1, &action, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const Options options = ParseOptions(argc, argv);
    WaitUntil(options.startAtMs);

    ProbeInstanceHandler guard;
    if (!guard.Initialize(qarn::platform::GetModuleBaseName().value_or(""))) {
        Say("init-failed");
        return 2;
    }
    if (guard.IsAnotherInstanceRunning()) {
        const bool reached = guard.ActivateOtherInstance();
        Say(std::string("another-running") + Flag("reached", reached));
        return 0;
    }
    Say(guard.RegisterInstance() ? "registered" : "unregistered");

    QWidget window;
    window.setWindowTitle(QString::fromStdString(guard.InstanceName()));
    window.resize(240, 120);
    if (options.minimized)
        window.showMinimized();
    else if (!options.hidden)
        window.show();

    // Signals are taken before "shown" goes out: a test acts on that line.
    const auto handOver = [&guard, &window] {
        Say("handed-over");
        guard.SetMainWindow(&window);
    };
    InstallSignals(app, handOver);
    Say("shown" + WindowState(window));
    if (!options.handOverOnSignal)
        QTimer::singleShot(0, &window, handOver);
    QTimer::singleShot(options.timeoutMs, &app, &QApplication::quit);
    return app.exec();
}
