// qarn-converter-config: the desktop tool. The application object comes first (crash dumps,
// socket library, log facility), then Qt; the application's start-up then runs the main window.
//
//   qarn-converter-config [--allow-placeholder-images]
//
// --allow-placeholder-images: a build that carries the project's placeholder firmware images
// (pseudo-random bytes) offers the firmware update only with this option, which is meant for
// simulated converters; a real converter would be left without working firmware.

#include "app/QarnTeskConverterConfigApp.h"
#include "firmware/EmbeddedImages.h"
#include "platform/Process.h"
#include "protocol/PingReachability.h"
#include "ui/ConverterFirmwareTransfer.h"
#include "ui/QarnTeskConverterConfigDlg.h"

#include <cstdlib>
#include <cstring>
#include <memory>
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

    bool allowPlaceholderImages = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--allow-placeholder-images") == 0)
            allowPlaceholderImages = true;
    }

    qarn::PingReachability echo;
    qarn::ConverterFirmwareTransfer firmware;
    const auto makeDialog =
        [&](qarn::QarnTeskConverterConfigApp& owner) -> std::unique_ptr<qarn::IMainDialog> {
        qarn::DialogServices services;
        services.endpoint = &owner.Endpoint();
        services.answerQueue = &owner.AnswerQueue();
        services.echo = &echo;
        services.firmware = &firmware;
        services.attachAnswerPump = [&owner](qarn::IMainDialog* dialog) {
            owner.AttachDialog(dialog);
        };
        services.language = owner.Language();
        services.storeLanguage = [&owner](const std::string& code) { owner.StoreLanguage(code); };
        services.isLanguageAvailable = [&owner](const std::string& code) {
            return owner.Resources().IsLanguageAvailable(code);
        };
        services.placeholderImages = qarn::EmbeddedImagesArePlaceholders();
        services.allowPlaceholderImages = allowPlaceholderImages;
        auto dialog = std::make_unique<qarn::QarnTeskConverterConfigDlg>(std::move(services));
        if (!dialog->IsBuilt())
            return nullptr;
        return dialog;
    };
    return app.InitInstance(makeDialog);
}
