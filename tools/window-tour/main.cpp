// qarn-window-tour: the real window on a (simulated) LAN, gone through as a technician would, with
// screenshots on the way. Used by the end-to-end test and by scripts/demo where there is no
// display to show the window on. It offers firmware updates with the placeholder images, so it
// belongs on a simulated LAN only: run it through scripts/testlan exec.
//
//   qarn-window-tour [--screenshots DIR] [--prefix TEXT] [--language CODE] [--expect N]
//                    [--deaf A] [--select A] [--write A --sim-log FILE] [--flash A] [--flash-stale
//                    A]
//                    [--manual yes] [--second-start PROGRAM] [--limit SECONDS]
//
// Exit status 0 when every step held, 1 otherwise (the failed step on standard error).

#include "WindowTour.h"
#include "app/QarnTeskConverterConfigApp.h"
#include "protocol/ConverterText.h"

#include <cstdio>
#include <functional>

#include <QApplication>

namespace {

bool Address(const QString& text, std::optional<uint32_t>& out) {
    const std::optional<uint32_t> address = qarn::ParseIpText(text.toStdString());
    if (!address)
        return false;
    out = address;
    return true;
}

bool ParseOptions(const QStringList& arguments, qarn::TourOptions& options, QString& language) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& name = arguments[i];
        if (i + 1 >= arguments.size())
            return false;
        const QString value = arguments[++i];
        bool ok = true;
        if (name == "--screenshots")
            options.screenshots = value;
        else if (name == "--prefix")
            options.prefix = value;
        else if (name == "--language")
            language = value;
        else if (name == "--expect")
            options.expect = value.toULong(&ok);
        else if (name == "--deaf")
            ok = Address(value, options.deaf);
        else if (name == "--select")
            ok = Address(value, options.select);
        else if (name == "--write")
            ok = Address(value, options.write);
        else if (name == "--sim-log")
            options.simLog = value;
        else if (name == "--flash")
            ok = Address(value, options.flash);
        else if (name == "--flash-stale")
            ok = Address(value, options.flashStale);
        else if (name == "--manual")
            options.manual = value == "yes";
        else if (name == "--second-start")
            options.secondStart = value;
        else if (name == "--limit")
            options.limit = std::chrono::seconds(value.toInt(&ok));
        else
            return false;
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // The program's own name: the second start of the real program must find this copy, and the
    // settings are the program's.
    qarn::QarnTeskConverterConfigApp app("qarn-converter-config");
    QApplication qt(argc, argv);
    qarn::TourOptions options;
    QString language;
    if (!ParseOptions(QApplication::arguments(), options, language)) {
        std::fprintf(stderr, "usage: see the head of tools/window-tour/main.cpp\n");
        return 2;
    }
    if (!language.isEmpty())
        app.StoreLanguage(language.toStdString());

    qarn::ProgramOptions programOptions;
    programOptions.allowPlaceholderImages = true; // simulated converters only
    qarn::MainDialogFactory factory(programOptions);
    qarn::WindowTour tour(options, factory);
    tour.Start();
    const int status = app.InitInstance(std::ref(factory));
    if (status != 0 || !tour.Passed()) {
        std::fprintf(stderr, "window-tour: FAIL: %s\n",
                     tour.Passed() ? "the program ended with an error"
                                   : tour.Failure().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
