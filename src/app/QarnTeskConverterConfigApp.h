#pragma once

#include "app/CInstanceHandler.h"
#include "app/IMainDialog.h"
#include "app/QarnPlonResourceHelper.h"
#include "net/CMsgQueue.h"
#include "net/CThreadClass.h"
#include "protocol/ConverterEndpoint.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qarn {

// The program's one application object: it owns what outlives a run of the main dialog (the
// endpoint on the converter port with the queue its receive worker fills, the answer pump, the
// single-instance guard, the language bundles) and runs the main dialog in a cycle that starts
// it again, in the new language, when the user picks another one.
//
//     QarnTeskConverterConfigApp app;          // crash dumps, socket library, log facility
//     QApplication qt(argc, argv);
//     return app.InitInstance(factory);        // guard, language, dialog cycle
//
// The answer pump (this object's worker, CThreadClass) tells the dialog every kPumpWaitMs that
// the endpoint's queue may hold datagrams; the dialog then takes them into the device list on its
// user-interface thread, which alone touches the list.
class QarnTeskConverterConfigApp : public CThreadClass {
  public:
    static constexpr int kRestartResult = IMainDialog::kRestartResult;
    // The pump's idle wait between two looks at the queue (ms).
    static constexpr uint32_t kPumpWaitMs = 50;
    // Settings: section and entry of the user-interface language, under the organisation "qarn"
    // and the program's name.
    static constexpr const char* kSettingsOrganisation = "qarn";
    static constexpr const char* kLanguageKey = "Settings/Language";
    // The network interface that discovery is limited to; absent or empty: every interface.
    static constexpr const char* kInterfaceKey = "Settings/Interface";
    // Shown when no language bundle can be loaded: no texts are there to say it in a language.
    static constexpr const char* kResourceMissingText = "ResourceDll is missing!";

    // Makes the main dialog of one cycle with the bundle of that cycle loaded; null when the
    // dialog cannot be built (its template is missing or broken).
    using DialogFactory = std::function<std::unique_ptr<IMainDialog>(QarnTeskConverterConfigApp&)>;
    // Shows a start-up failure; the default is a message box with the stop icon.
    using FailureReporter = std::function<void(const std::string& text)>;

    // Installs the crash dump handler, starts the socket library and the log facility. The
    // application name (the executable's base name by default) names the instance guard and the
    // settings; the language bundles are looked for in `programFolder` (the executable's folder
    // when empty). `port` is the converter port (0: 58009).
    explicit QarnTeskConverterConfigApp(std::string applicationName = {},
                                        std::string programFolder = {}, int32_t port = 0);
    ~QarnTeskConverterConfigApp() override;

    // The start-up routine, on the user-interface thread with the QApplication in place: ends at
    // once when another copy runs (after bringing its window forward), otherwise runs the dialog
    // cycle. Returns the process's exit status: 0, or 1 when start-up failed.
    int InitInstance(const DialogFactory& makeDialog);

    void SetFailureReporter(FailureReporter reporter) { m_reportFailure = std::move(reporter); }

    // The endpoint's operations as the dialog uses them.
    bool OpenEndpoint();
    void CloseEndpoint();
    bool IsEndpointOpen() const;
    bool SendDatagram(uint32_t address, const std::vector<uint8_t>& bytes, int32_t port = 0);
    IConverterEndpoint& Endpoint() { return m_socket; }
    CMsgQueue& AnswerQueue() { return m_answerQueue; }

    // The dialog that the pump feeds: set by the dialog's initialisation, which then starts the
    // pump; cleared (null) by its destruction, which then stops the pump. Once this returns with
    // null, the pump hands nothing more to the old dialog.
    void SetDialog(IMainDialog* dialog);
    // Both steps at once: SetDialog and then StartThread with no second wait object and
    // kPumpWaitMs; for null SetDialog(nullptr) and then StopThread.
    void AttachDialog(IMainDialog* dialog);

    // The worker gets its name, then starts as CThreadClass does.
    bool StartThread(platform::Event* waitObject, uint32_t waitTimeoutMs) override;
    // The answer pump: tells the dialog that answers may wait. False once no dialog is set.
    bool TimeoutThread() override;

    // The current user-interface language ("DEU"); empty until the dialog cycle reads it.
    const std::string& Language() const { return m_strLanguage; }
    // Makes `code` the language and writes it to the per-user settings.
    void StoreLanguage(const std::string& code);
    // The stored language, empty when none is stored.
    std::string ReadStoredLanguage() const;
    // The interface chosen for discovery, kept in the per-user settings; empty: every interface.
    void StoreBroadcastInterface(const std::string& name);
    std::string ReadStoredBroadcastInterface() const;

    QarnPlonResourceHelper& Resources() { return m_resources; }
    CInstanceHandler& InstanceHandler() { return m_instanceHandler; }
    const std::string& ApplicationName() const { return m_applicationName; }

  private:
    enum class CycleEnd { Restart, Ended, Failed };

    // One cycle: language, bundle, dialog.
    CycleEnd RunDialogCycle(const DialogFactory& makeDialog);
    void ReportFailure(const std::string& text);

    std::string m_applicationName;
    CMsgQueue m_answerQueue;
    ConverterEndpoint m_socket;
    CInstanceHandler m_instanceHandler;
    std::string m_strLanguage;
    QarnPlonResourceHelper m_resources;
    std::mutex m_dialogLock; // between SetDialog (user-interface thread) and the pump
    IMainDialog* m_pDialog = nullptr;
    FailureReporter m_reportFailure;
    bool m_socketLibraryStarted = false;
};

} // namespace qarn
