#pragma once

// One QApplication for a whole GUI test program (Qt allows one per process). GuiTestMain.cpp
// makes it before the first test, so fixtures may hold widgets as members. CTest runs the tests
// on the offscreen platform; run by hand without QT_QPA_PLATFORM they take it too, so no display
// is needed. QT_QPA_PLATFORM=xcb shows the widgets on a display instead.

#include <QApplication>
#include <QByteArray>

namespace qarn::test {

inline QApplication& GuiApplication() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "qarn_gui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* application = new QApplication(argc, argv);
    return *application;
}

} // namespace qarn::test
