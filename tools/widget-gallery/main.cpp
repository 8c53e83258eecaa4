// qarn-widget-gallery: the program's own controls in one window, to try by hand.
//
//   qarn-widget-gallery [--geometry-file FILE]
//
// With --geometry-file the window writes, once it is shown, one line "name x y width height" per
// named control into FILE, for scripts that click on them (screenshots.sh).

#include "CGalleryWindow.h"

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
    parser.process(application);

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
