#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QMenu>

class QActionGroup;

namespace qarn {

// One network interface that discovery can be limited to, as the Network menu shows it.
struct InterfaceChoice {
    std::string name;      // "eth1"
    std::string addresses; // "192.168.7.20/24, 10.1.0.4/16"; empty when it has none now
};

// The interfaces of this machine that have an IPv4 address to broadcast on (loopback left out),
// in the order the system lists them, one entry per interface with all its addresses.
std::vector<InterfaceChoice> ListInterfaceChoices();

// The Network menu: "All networks" (discovery and every other broadcast go to every interface, the
// default) and one checkable item per interface, for a PC on several networks whose converters sit
// on one of them. The interfaces are listed afresh each time the menu opens, so that an adapter
// plugged in meanwhile shows up; the interface in use stays listed even when it has gone.
class InterfaceMenu : public QMenu {
    Q_OBJECT

  public:
    using Lister = std::function<std::vector<InterfaceChoice>()>;

    InterfaceMenu(const QString& title, const QString& allText, std::string current, Lister list,
                  QWidget* parent = nullptr);

    // Shows `name` checked ("": all networks) and lists the interfaces again.
    void Check(const std::string& name);
    const std::string& Current() const { return m_current; }

  signals:
    // The user picked an interface ("": all networks), also the one in use.
    void InterfaceChosen(const QString& name);

  private:
    void Rebuild();

    QString m_allText;
    std::string m_current;
    Lister m_list;
    QActionGroup* m_group = nullptr;
};

} // namespace qarn
