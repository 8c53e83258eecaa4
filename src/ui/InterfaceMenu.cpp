#include "ui/InterfaceMenu.h"

#include "platform/Interfaces.h"
#include "protocol/ConverterText.h"
#include "protocol/LANconvDevice.h"

#include <algorithm>
#include <arpa/inet.h>

#include <QAction>
#include <QActionGroup>

namespace qarn {

std::vector<InterfaceChoice> ListInterfaceChoices() {
    std::vector<InterfaceChoice> choices;
    std::vector<platform::InterfaceRecord> records;
    if (!platform::EnumerateInterfaces(records))
        return choices;
    for (const platform::InterfaceRecord& record : records) {
        if ((record.flags & platform::kInterfaceLoopback) != 0)
            continue;
        // "eth0:1" is a second address of eth0, which broadcasting on eth0 covers.
        const std::string name = record.name.substr(0, record.name.find(':'));
        if (name.empty())
            continue;
        auto choice = std::find_if(choices.begin(), choices.end(),
                                   [&](const InterfaceChoice& c) { return c.name == name; });
        if (choice == choices.end())
            choice = choices.insert(choices.end(), InterfaceChoice{name, {}});
        const std::string address = IpToText(record.address) + "/" +
                                    std::to_string(PrefixLengthOfNetmask(ntohl(record.netmask)));
        choice->addresses += (choice->addresses.empty() ? "" : ", ") + address;
    }
    return choices;
}

InterfaceMenu::InterfaceMenu(const QString& title, const QString& allText, std::string current,
                             Lister list, QWidget* parent)
    : QMenu(title, parent), m_allText(allText), m_current(std::move(current)),
      m_list(std::move(list)) {
    connect(this, &QMenu::aboutToShow, this, [this] { Rebuild(); });
    Rebuild();
}

void InterfaceMenu::Check(const std::string& name) {
    m_current = name;
    Rebuild();
}

void InterfaceMenu::Rebuild() {
    clear();
    delete m_group;
    m_group = new QActionGroup(this);
    m_group->setExclusive(true);
    const auto add = [this](const QString& text, const std::string& name) {
        QAction* action = addAction(text);
        action->setCheckable(true);
        action->setChecked(name == m_current);
        m_group->addAction(action);
        const QString chosen = QString::fromStdString(name);
        connect(action, &QAction::triggered, this,
                [this, chosen] { emit InterfaceChosen(chosen); });
    };
    add(m_allText, {});
    std::vector<InterfaceChoice> choices = m_list ? m_list() : std::vector<InterfaceChoice>{};
    const bool currentListed =
        m_current.empty() || std::any_of(choices.begin(), choices.end(),
                                         [this](const auto& c) { return c.name == m_current; });
    if (!currentListed)
        choices.push_back({m_current, {}});
    if (!choices.empty())
        addSeparator();
    for (const InterfaceChoice& choice : choices) {
        // "eth1    192.168.7.20/24": the address tells two adapters apart better than the name.
        QString text = QString::fromStdString(choice.name);
        if (!choice.addresses.empty())
            text += QLatin1Char('\t') + QString::fromStdString(choice.addresses);
        add(text, choice.name);
    }
}

} // namespace qarn
