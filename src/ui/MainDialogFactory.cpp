#include "ui/MainDialogFactory.h"

#include "app/QarnTeskConverterConfigApp.h"
#include "firmware/EmbeddedImages.h"
#include "ui/QarnTeskConverterConfigDlg.h"

#include <utility>

namespace qarn {

ProgramOptions ParseProgramOptions(const QStringList& arguments) {
    ProgramOptions options;
    options.allowPlaceholderImages =
        arguments.contains(QStringLiteral("--allow-placeholder-images"));
    return options;
}

MainDialogFactory::MainDialogFactory(ProgramOptions options) : m_options(options) {}

std::unique_ptr<IMainDialog> MainDialogFactory::operator()(QarnTeskConverterConfigApp& app) {
    DialogServices services;
    services.endpoint = &app.Endpoint();
    services.answerQueue = &app.AnswerQueue();
    services.echo = &m_echo;
    services.firmware = &m_firmware;
    services.attachAnswerPump = [&app](IMainDialog* dialog) { app.AttachDialog(dialog); };
    services.language = app.Language();
    services.storeLanguage = [&app](const std::string& code) { app.StoreLanguage(code); };
    services.isLanguageAvailable = [&app](const std::string& code) {
        return app.Resources().IsLanguageAvailable(code);
    };
    services.placeholderImages = EmbeddedImagesArePlaceholders();
    services.allowPlaceholderImages = m_options.allowPlaceholderImages;
    auto dialog = std::make_unique<QarnTeskConverterConfigDlg>(std::move(services));
    if (!dialog->IsBuilt())
        return nullptr;
    m_current = dialog.get();
    return dialog;
}

} // namespace qarn
