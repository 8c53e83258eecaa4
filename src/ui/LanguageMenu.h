#pragma once

#include <functional>
#include <string>

#include <QMenu>

class QActionGroup;

namespace qarn {

// The menu of the installed user-interface languages: one checkable item per code of
// SupportedLanguages whose bundle is there, in that order, the language in use checked. An item's
// command is 9000 + the code's index in SupportedLanguages.
class LanguageMenu : public QMenu {
    Q_OBJECT

  public:
    static constexpr int kCommandBase = 9000;

    LanguageMenu(const QString& title, const std::string& current,
                 const std::function<bool(const std::string& code)>& isAvailable,
                 QWidget* parent = nullptr);

    // Shows `code` checked and no other.
    void Check(const std::string& code);

  signals:
    // The user picked the code at `index` of SupportedLanguages (also the one in use).
    void LanguageChosen(int index);

  private:
    QActionGroup* m_group;
};

} // namespace qarn
