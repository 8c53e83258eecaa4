#pragma once

#include <QString>
#include <QUiLoader>

class QWidget;

namespace qarn {

// Builds a dialog template of the loaded language bundle into an existing widget: the window
// object itself becomes the template's top-level widget (its size, title, child controls and
// layout), so that the window class keeps its own event handling. Controls of the program's own
// classes named in the template (such as CTextProgressCtrl) are made as those classes.
class DialogTemplateLoader : public QUiLoader {
  public:
    explicit DialogTemplateLoader(QWidget* root);

    // Builds template `id` into `root`; false when the bundle has no such template or it cannot
    // be read (root then holds whatever was built before the failure).
    static bool Build(unsigned id, QWidget* root);

    QWidget* createWidget(const QString& className, QWidget* parent = nullptr,
                          const QString& name = QString()) override;

  private:
    QWidget* m_root;
    bool m_rootTaken = false;
};

} // namespace qarn
