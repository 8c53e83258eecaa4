#include "app/QarnTeskConverterConfigApp.h"

#include "app/CrashDumpHandler.h"
#include "app/LanguageCodes.h"
#include "diag/FileLogger.h"
#include "platform/Process.h"
#include "platform/SocketLibrary.h"

#include <utility>

#include <QApplication>
#include <QMessageBox>
#include <QSettings>

namespace qarn {

namespace {

std::string DefaultApplicationName() {
    return platform::GetModuleBaseName().value_or("qarn-converter-config");
}

} // namespace

QarnTeskConverterConfigApp::QarnTeskConverterConfigApp(std::string applicationName,
                                                       std::string programFolder, int32_t port)
    : m_applicationName(applicationName.empty() ? DefaultApplicationName()
                                                : std::move(applicationName)),
      m_socket(m_answerQueue, port),
      m_resources(programFolder.empty() ? BundleFolder() : std::move(programFolder)) {
    InstallCrashDumpHandler();
    uint16_t obtained = 0;
    m_socketLibraryStarted =
        platform::SocketLibraryStartup(platform::kSocketLibraryVersion, &obtained) == 0;
    InitFileLoggerFacility();
    m_answerQueue.SetName("QarnTeskConverterConfigApp");
}

QarnTeskConverterConfigApp::~QarnTeskConverterConfigApp() {
    SetDialog(nullptr);
    StopThread();
    m_socket.Close();
    if (m_socketLibraryStarted)
        platform::SocketLibraryCleanup();
    ShutdownFileLoggerFacility();
}

int QarnTeskConverterConfigApp::InitInstance(const DialogFactory& makeDialog) {
    if (!m_instanceHandler.Initialize(m_applicationName)) {
        if (IsErrorLogEnabled())
            LogError("QarnTeskConverterConfigApp::InitInstance: no single-instance guard");
        return 1;
    }
    if (m_instanceHandler.IsAnotherInstanceRunning()) {
        const bool reached = m_instanceHandler.ActivateOtherInstance();
        if (IsInfoLogEnabled())
            LogInfo(std::string("QarnTeskConverterConfigApp::InitInstance: another copy runs; ") +
                    (reached ? "brought it forward" : "it did not answer"));
        return 0;
    }
    m_instanceHandler.RegisterInstance();

    CycleEnd end = CycleEnd::Restart;
    while (end == CycleEnd::Restart) {
        end = RunDialogCycle(makeDialog);
        // Workers left behind from now on are given up on quickly instead of holding up the end.
        CThreadClass::SetShutdown();
    }
    return end == CycleEnd::Failed ? 1 : 0;
}

QarnTeskConverterConfigApp::CycleEnd
QarnTeskConverterConfigApp::RunDialogCycle(const DialogFactory& makeDialog) {
    m_strLanguage = ReadStoredLanguage();
    if (m_strLanguage.empty()) {
        m_strLanguage = m_resources.GetDefaultLanguage();
        StoreLanguage(m_strLanguage);
    }
    if (!m_resources.Load(m_strLanguage)) {
        ReportFailure(kResourceMissingText);
        return CycleEnd::Failed;
    }

    std::unique_ptr<IMainDialog> dialog = makeDialog ? makeDialog(*this) : nullptr;
    if (dialog == nullptr) {
        // The bundle is there but its main dialog cannot be built from it.
        if (IsErrorLogEnabled())
            LogError("QarnTeskConverterConfigApp::InitInstance: the main dialog of " +
                     m_resources.LibraryPath() + " cannot be built");
        ReportFailure(kResourceMissingText);
        m_resources.Unload();
        CThreadClass::FreeRegistry();
        return CycleEnd::Failed;
    }
    m_instanceHandler.SetMainWindow(dialog->Window());
    const int result = dialog->RunModal();
    m_instanceHandler.SetMainWindow(nullptr);
    // The dialog stopped the pump and closed the endpoint itself; doing it again is harmless and
    // makes sure before the dialog object goes.
    CloseEndpoint();
    SetDialog(nullptr);
    StopThread();
    // Widgets built from the bundle go before the bundle: an icon reads its images lazily.
    dialog.reset();
    m_resources.Unload();
    CThreadClass::FreeRegistry();
    return result == kRestartResult ? CycleEnd::Restart : CycleEnd::Ended;
}

void QarnTeskConverterConfigApp::ReportFailure(const std::string& text) {
    if (m_reportFailure) {
        m_reportFailure(text);
        return;
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return;
    QMessageBox box(QMessageBox::Critical, QString::fromStdString(m_applicationName),
                    QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
}

bool QarnTeskConverterConfigApp::OpenEndpoint() {
    return m_socket.Open();
}

void QarnTeskConverterConfigApp::CloseEndpoint() {
    m_socket.Close();
}

bool QarnTeskConverterConfigApp::IsEndpointOpen() const {
    return m_socket.IsOpen();
}

bool QarnTeskConverterConfigApp::SendDatagram(uint32_t address, const std::vector<uint8_t>& bytes,
                                              int32_t port) {
    return m_socket.Send(bytes, address, port);
}

void QarnTeskConverterConfigApp::SetDialog(IMainDialog* dialog) {
    const std::lock_guard<std::mutex> lock(m_dialogLock);
    m_pDialog = dialog;
}

void QarnTeskConverterConfigApp::AttachDialog(IMainDialog* dialog) {
    SetDialog(dialog);
    if (dialog != nullptr)
        StartThread(nullptr, kPumpWaitMs);
    else
        StopThread();
}

bool QarnTeskConverterConfigApp::StartThread(platform::Event* waitObject, uint32_t waitTimeoutMs) {
    SetName("QarnTeskConverterConfigApp");
    return CThreadClass::StartThread(waitObject, waitTimeoutMs);
}

bool QarnTeskConverterConfigApp::TimeoutThread() {
    // Held through the call: SetDialog(nullptr) waits for a call in progress, so the dialog is
    // never called once it has let go of the pump.
    const std::lock_guard<std::mutex> lock(m_dialogLock);
    if (m_pDialog == nullptr)
        return false;
    m_pDialog->AnswersWaiting();
    return true;
}

void QarnTeskConverterConfigApp::StoreLanguage(const std::string& code) {
    m_strLanguage = code;
    QSettings settings(kSettingsOrganisation, QString::fromStdString(m_applicationName));
    settings.setValue(kLanguageKey, QString::fromStdString(code));
    settings.sync();
}

void QarnTeskConverterConfigApp::StoreBroadcastInterface(const std::string& name) {
    QSettings settings(kSettingsOrganisation, QString::fromStdString(m_applicationName));
    settings.setValue(kInterfaceKey, QString::fromStdString(name));
    settings.sync();
}

std::string QarnTeskConverterConfigApp::ReadStoredBroadcastInterface() const {
    const QSettings settings(kSettingsOrganisation, QString::fromStdString(m_applicationName));
    return settings.value(kInterfaceKey, QString()).toString().toStdString();
}

std::string QarnTeskConverterConfigApp::ReadStoredLanguage() const {
    const QSettings settings(kSettingsOrganisation, QString::fromStdString(m_applicationName));
    return settings.value(kLanguageKey, QString()).toString().toStdString();
}

} // namespace qarn
