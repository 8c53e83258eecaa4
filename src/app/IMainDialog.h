#pragma once

class QWidget;

namespace qarn {

// What the application object needs of its main dialog: a modal run, the window that a second
// start brings forward, and the answer pump's call that datagrams may be waiting.
class IMainDialog {
  public:
    // The result of a run that ends because the user picked another language: the application
    // runs a new dialog in that language.
    static constexpr int kRestartResult = 100;

    virtual ~IMainDialog() = default;

    // Shows the dialog and runs it until it ends; its result (100: run again in the language
    // just chosen).
    virtual int RunModal() = 0;

    virtual QWidget* Window() = 0;

    // Called on the answer pump's thread, never on the user-interface thread: the endpoint's
    // queue may hold datagrams; the dialog has its user-interface thread take them into the
    // device list. Must not block.
    virtual void AnswersWaiting() = 0;
};

} // namespace qarn
