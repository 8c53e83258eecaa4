#pragma once

#include "firmware/FirmwareImages.h"
#include "firmware/IProgressDisplay.h"
#include "firmware/TransferResult.h"
#include "net/CMsgQueue.h"
#include "platform/UdpPortHolder.h"
#include "protocol/ConfigurationWrite.h"
#include "protocol/DeviceList.h"
#include "protocol/IConverterEndpoint.h"
#include "protocol/IReachability.h"
#include "protocol/ParallelEcho.h"
#include "ui/InterfaceMenu.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include <QString>

namespace qarn {

class IMainDialog;

// One firmware transfer to one converter, as the window starts it: image and procedure chosen,
// the application's endpoint closed. Runs on the firmware-update thread and blocks it for the
// whole transfer (with the wait for the converter's restart).
class IFirmwareTransfer {
  public:
    virtual ~IFirmwareTransfer() = default;

    // `target` is the converter's address as text ("198.18.1.7"). Done when the converter took
    // the image and came back; Unconfirmed when its last acknowledgement never came (the version
    // it reports afterwards decides); Failed when it does not hold the image.
    virtual TransferResult Run(FirmwareEngine engine, const std::string& target,
                               std::span<const uint8_t> image, IProgressDisplay* progress) = 0;
};

// What the main window needs from the program around it. The application fills it with its
// endpoint, the ICMP echo, the system's neighbour table and the firmware engines; the GUI tests
// with fakes, so that a window on the offscreen platform never touches a network.
struct DialogServices {
    // The application's endpoint on the converter port (opened and closed by the window), and the
    // queue into which it puts what it receives.
    IConverterEndpoint* endpoint = nullptr;
    CMsgQueue* answerQueue = nullptr;
    // The echo for new converters and for a new address before a write. It must serve several
    // threads at once.
    IReachability* echo = nullptr;
    ConfigurationWriter::MacLookup macLookup = GetMacForAddress;
    IFirmwareTransfer* firmware = nullptr;
    // Makes `dialog` the one the answer pump feeds and starts the pump; null stops it (after
    // which nothing more is handed to the dialog).
    std::function<void(IMainDialog* dialog)> attachAnswerPump;
    // The user-interface language of this run ("DEU"), and how a new choice is stored.
    std::string language;
    std::function<void(const std::string& code)> storeLanguage;
    // Whether a language bundle of `code` is installed.
    std::function<bool(const std::string& code)> isLanguageAvailable;
    // The network interface that discovery and every other broadcast go to ("eth1"; empty: every
    // interface), set on the endpoint already; how a choice in the Network menu is kept for the
    // next start; and the interfaces that menu offers, asked each time it opens.
    std::string broadcastInterface;
    std::function<void(const std::string& name)> storeInterface;
    InterfaceMenu::Lister listInterfaces = ListInterfaceChoices;
    DeviceList::Clock clock = DeviceList::MonotonicSeconds;
    // Echoes of new converters running at once, off the user-interface thread;
    // ParallelEcho::kInline does each inside the answer that made the row (tests).
    size_t echoWorkers = ParallelEcho::kWorkers;
    // Shows a message over the window and returns when the user has read it; `icon` is a
    // QMessageBox::Icon. Unset: a message box. Tests record the messages instead.
    std::function<void(const QString& text, int icon)> showMessage;
    // The program carries placeholder firmware images (never to be sent to a real converter);
    // the update is offered only when the user said this is a simulated LAN.
    bool placeholderImages = false;
    bool allowPlaceholderImages = false;
    // The program that holds `port` when the endpoint cannot open it ("nc, process 4711"; empty
    // when the system does not tell), for the window's note above the list.
    std::function<std::string(uint16_t port)> describePortHolder = platform::DescribeUdpPortHolder;
};

} // namespace qarn
