#include "ui/MainDialogFactory.h"

#include "app/QarnTeskConverterConfigApp.h"
#include "diag/FileLogger.h"
#include "firmware/EmbeddedImages.h"
#include "protocol/ConverterEndpoint.h"
#include "ui/QarnTeskConverterConfigDlg.h"

#include <utility>

namespace qarn {

ProgramOptions ParseProgramOptions(const QStringList& arguments) {
    ProgramOptions options;
    options.allowPlaceholderImages =
        arguments.contains(QStringLiteral("--allow-placeholder-images"));
    const QString interfaceOption = QStringLiteral("--interface");
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == interfaceOption && i + 1 < arguments.size())
            options.broadcastInterface = arguments[++i].toStdString();
        else if (argument.startsWith(interfaceOption + QLatin1Char('=')))
            options.broadcastInterface = argument.mid(interfaceOption.size() + 1).toStdString();
    }
    return options;
}

MainDialogFactory::MainDialogFactory(ProgramOptions options) : m_options(std::move(options)) {}

void MainDialogFactory::ChooseInterface(QarnTeskConverterConfigApp& app) {
    if (m_interfaceChosen)
        return;
    m_interfaceChosen = true;
    m_interface = m_options.broadcastInterface;
    if (!m_interface.empty())
        return;
    const std::string stored = app.ReadStoredBroadcastInterface();
    if (stored.empty())
        return;
    if (!ConverterEndpoint::DirectedBroadcastsOf(stored).empty()) {
        m_interface = stored;
        return;
    }
    // An adapter unplugged since: the converters are found on every network rather than none;
    // the stored choice stays for the day the adapter is back.
    if (IsInfoLogEnabled())
        LogInfo("MainDialogFactory::ChooseInterface: interface '" + stored +
                "' has no IPv4 address now, discovery goes to every interface");
}

std::unique_ptr<IMainDialog> MainDialogFactory::operator()(QarnTeskConverterConfigApp& app) {
    ChooseInterface(app);
    app.Endpoint().SetBroadcastInterface(m_interface);
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
    services.broadcastInterface = m_interface;
    services.storeInterface = [this, &app](const std::string& name) {
        m_interface = name;
        app.StoreBroadcastInterface(name);
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
