#pragma once

// The gallery's one window: the masked edit with the MAC and the letter masks, each with the text
// the program would read from it, and the text progress bar, which a worker thread moves the way
// a firmware transfer does until one of the buttons or the slider sets it; beside them the
// property tree with a row of every kind (CGalleryTree).

#include <atomic>
#include <thread>

#include <QWidget>

class QCheckBox;
class QLabel;
class QSlider;
class QTextStream;

namespace qarn {

class CGalleryTree;
class CTextProgressCtrl;
class CmEdit;

class CGalleryWindow : public QWidget {
    Q_OBJECT

  public:
    explicit CGalleryWindow(QWidget* parent = nullptr);
    ~CGalleryWindow() override;

    // Writes one line "name x y width height" in screen coordinates for the window ("window"),
    // every named control and every row of the tree ("row-port-1"), so that a script can click on
    // them.
    void PrintGeometry(QTextStream& out) const;

  private:
    QWidget* MakeMaskedEdits();
    QWidget* MakeProgress();
    QWidget* MakeTree();
    // Sets the bar by hand; the worker stops moving it.
    void SetProgress(int percent);
    void StartMoving();
    void StopMoving();

    CmEdit* m_mac = nullptr;
    CmEdit* m_letter = nullptr;
    CTextProgressCtrl* m_progress = nullptr;
    CGalleryTree* m_tree = nullptr;
    QSlider* m_slider = nullptr;
    QCheckBox* m_moving = nullptr;
    std::thread m_worker;
    std::atomic<bool> m_stop{false};
};

} // namespace qarn
