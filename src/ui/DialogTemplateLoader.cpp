#include "ui/DialogTemplateLoader.h"

#include "app/Resources.h"
#include "ui/controls/CTextProgressCtrl.h"

#include <QFile>
#include <QWidget>

namespace qarn {

DialogTemplateLoader::DialogTemplateLoader(QWidget* root) : m_root(root) {}

bool DialogTemplateLoader::Build(unsigned id, QWidget* root) {
    QFile file(DialogTemplatePath(id));
    if (root == nullptr || !file.open(QIODevice::ReadOnly))
        return false;
    DialogTemplateLoader loader(root);
    return loader.load(&file, nullptr) == root;
}

QWidget* DialogTemplateLoader::createWidget(const QString& className, QWidget* parent,
                                            const QString& name) {
    if (parent == nullptr && !m_rootTaken) {
        m_rootTaken = true;
        m_root->setObjectName(name);
        return m_root;
    }
    if (className == QLatin1String("CTextProgressCtrl")) {
        auto* bar = new CTextProgressCtrl(parent);
        bar->setObjectName(name);
        return bar;
    }
    return QUiLoader::createWidget(className, parent, name);
}

} // namespace qarn
