// qarn-widget-gallery: the program's own controls in one window, to try by hand.
//
//   qarn-widget-gallery [--language CODE] [--geometry-file FILE]
//
// The texts and cursors of the controls come from the language bundle CODE (default ENU) that the
// build put beside the programs.
// With --geometry-file the window writes, once it is shown, one line "name x y width height" per
// named control into FILE, for scripts that click on them (screenshots.sh).

#include "CGalleryWindow.h"
#include "app/QarnPlonResourceHelper.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QTextStream>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qarn-widget-gallery"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The program's own controls in one window."));
    parser.addHelpOption();
    const QCommandLineOption geometry(
        QStringLiteral("geometry-file"),
        QStringLiteral("Write the controls' screen places to <file>."), QStringLiteral("file"));
    parser.addOption(geometry);
    const QCommandLineOption language(QStringLiteral("language"),
                                      QStringLiteral("The bundle's language <code>, e.g. DEU."),
                                      QStringLiteral("code"), QStringLiteral("ENU"));
    parser.addOption(language);
    parser.process(application);

    qarn::QarnPlonResourceHelper bundles(QARN_BUNDLE_DIR);
    if (!bundles.Load(parser.value(language).toStdString()))
        qWarning("no language bundle in %s: the controls show no texts", QARN_BUNDLE_DIR);

    qarn::CGalleryWindow window;
    window.show();
    if (parser.isSet(geometry)) {
        const QString path = parser.value(geometry);
        // After the window manager has placed the window.
        QTimer::singleShot(500, &window, [&window, path] {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                qWarning("cannot write %s", qPrintable(path));
                return;
            }
            QTextStream out(&file);
            window.PrintGeometry(out);
        });
    }
    return application.exec();
}
