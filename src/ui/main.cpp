// qarn-converter-config: the desktop tool. The application object comes first (crash dumps,
// socket library, log facility), then Qt; the application's start-up then runs the main window.
//
//   qarn-converter-config [--allow-placeholder-images] [--interface NAME]
//
// --allow-placeholder-images: a build that carries the project's placeholder firmware images
// (pseudo-random bytes) offers the firmware update only with this option, which is meant for
// simulated converters; a real converter would be left without working firmware.
// --interface NAME: discovery and the other broadcasts go only to that network interface's
// directed broadcast (a PC with several networks), instead of to every interface.

#include "app/QarnTeskConverterConfigApp.h"
#include "platform/Process.h"
#include "ui/MainDialogFactory.h"

#include <cstdlib>
#include <functional>
#include <string_view>

#include <QApplication>

int main(int argc, char** argv) {
    // The logger's own remarks (such as another copy holding the log's lock) go to standard
    // error only when asked for, as for the command line.
    const char* debugOutput = std::getenv("QARN_DEBUG_OUTPUT");
    qarn::platform::SetDebugOutputEnabled(debugOutput != nullptr && *debugOutput != '\0' &&
                                          std::string_view(debugOutput) != "0");
    qarn::QarnTeskConverterConfigApp app;
    QApplication qt(argc, argv);
    QApplication::setOrganizationName(qarn::QarnTeskConverterConfigApp::kSettingsOrganisation);
    QApplication::setApplicationName(QString::fromStdString(app.ApplicationName()));

    qarn::MainDialogFactory factory(qarn::ParseProgramOptions(QApplication::arguments()));
    return app.InitInstance(std::ref(factory));
}
