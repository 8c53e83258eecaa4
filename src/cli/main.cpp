#include "app/CrashDumpHandler.h"
#include "cli/CtlMain.h"
#include "diag/FileLogger.h"
#include "platform/Console.h"
#include "platform/Process.h"

#include <cstdlib>
#include <iostream>
#include <string_view>

int main(int argc, char** argv) {
    // Standard error carries the one-line reason of a failure; the logger's own remarks (such as
    // another copy of the program holding the log mutex) appear there only when asked for.
    const char* debugOutput = std::getenv("QARN_DEBUG_OUTPUT");
    qarn::platform::SetDebugOutputEnabled(debugOutput != nullptr && *debugOutput != '\0' &&
                                          std::string_view(debugOutput) != "0");
    // As the window's application object does: the crash dump handler first (it reads the
    // diagnostics settings itself, and must be in place before any worker thread starts), then the
    // log. Both follow the program's name, as for every program of the tool.
    qarn::InstallCrashDumpHandler();
    qarn::InitFileLoggerFacility();
    // A bar redrawn in place suits a terminal; a file or a pipe gets plain progress lines.
    const auto progress = qarn::platform::StandardOutputIsTerminal()
                              ? qarn::cli::ProgressStyle::Bar
                              : qarn::cli::ProgressStyle::Lines;
    // Names of converters and folders may be any Unicode text; the console shows the UTF-8.
    qarn::platform::PrepareConsoleOutput();
    const int status = qarn::cli::RunCtl(argc, argv, std::cout, std::cerr, progress);
    std::cout.flush();
    qarn::ShutdownFileLoggerFacility();
    return status;
}
