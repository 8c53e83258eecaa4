#include "ui/LanguageMenu.h"

#include "app/LanguageCodes.h"

#include <QAction>
#include <QActionGroup>

namespace qarn {

LanguageMenu::LanguageMenu(const QString& title, const std::string& current,
                           const std::function<bool(const std::string& code)>& isAvailable,
                           QWidget* parent)
    : QMenu(title, parent), m_group(new QActionGroup(this)) {
    m_group->setExclusive(true);
    const auto& languages = SupportedLanguages();
    for (size_t i = 0; i < languages.size(); ++i) {
        const std::string& code = languages[i];
        if (!isAvailable || !isAvailable(code))
            continue;
        QAction* action = addAction(QString::fromStdString(code));
        action->setCheckable(true);
        action->setData(kCommandBase + static_cast<int>(i));
        action->setChecked(code == current);
        m_group->addAction(action);
        const int index = static_cast<int>(i);
        connect(action, &QAction::triggered, this, [this, index] { emit LanguageChosen(index); });
    }
}

void LanguageMenu::Check(const std::string& code) {
    for (QAction* action : m_group->actions())
        action->setChecked(action->text().toStdString() == code);
}

} // namespace qarn
