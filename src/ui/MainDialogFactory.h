#pragma once

#include "app/IMainDialog.h"
#include "protocol/PingReachability.h"
#include "ui/ConverterFirmwareTransfer.h"
#include "ui/QarnTeskConverterConfigDlg.h"

#include <memory>
#include <string>

#include <QPointer>
#include <QStringList>

namespace qarn {

class QarnTeskConverterConfigApp;

// The program's own command-line options (Qt takes its own, such as -platform, before).
struct ProgramOptions {
    // A build with the placeholder firmware images offers the update only with this option,
    // meant for simulated converters.
    bool allowPlaceholderImages = false;
    // Discovery and every other broadcast go only to this network interface's directed broadcast
    // ("eth1"), for a PC with several networks; empty: to every interface.
    std::string broadcastInterface;
};

// "--allow-placeholder-images" and "--interface NAME" (also "--interface=NAME") set their
// options; anything else is left alone.
ProgramOptions ParseProgramOptions(const QStringList& arguments);

// Makes the main window of each dialog cycle, wired to the application object: its endpoint and
// queue, its answer pump and language settings, the ICMP echo, the system's neighbour table and
// the firmware engines. The program and the window tour use the same wiring.
class MainDialogFactory {
  public:
    explicit MainDialogFactory(ProgramOptions options);

    // A QarnTeskConverterConfigApp::DialogFactory; null when the window cannot be built.
    std::unique_ptr<IMainDialog> operator()(QarnTeskConverterConfigApp& app);

    // The window of the running cycle; null between cycles.
    QarnTeskConverterConfigDlg* Current() const { return m_current.data(); }

  private:
    // The interface for this run: the command line's, else the stored choice while that interface
    // has an address to broadcast on, else every interface. Decided at the first cycle; a choice
    // in the Network menu replaces it (and outlives a language restart).
    void ChooseInterface(QarnTeskConverterConfigApp& app);

    ProgramOptions m_options;
    bool m_interfaceChosen = false;
    std::string m_interface;
    PingReachability m_echo;
    ConverterFirmwareTransfer m_firmware;
    QPointer<QarnTeskConverterConfigDlg> m_current;
};

} // namespace qarn
