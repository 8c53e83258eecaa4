#include "app/CInstanceHandler.h"

#include "diag/FileLogger.h"
#include "platform/RuntimeDirectory.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include <QApplication>
#include <QSocketNotifier>
#include <QString>

namespace qarn {

namespace {

constexpr char kMappingPrefix[] = "InstanceHandler_for_";
constexpr char kActivationPrefix[] = "InstanceActivation_for_";
constexpr char kStartupLockSuffix[] = ".lock";
constexpr std::string_view kActivateRequest = "activate";
// The record holds one path; anything longer is not a record of ours.
constexpr size_t kMaxRecordBytes = 4096;

std::string ErrnoText(int error) {
    return std::strerror(error);
}

// Unicode lower case, so that "ÄRGER" and "ärger" are one program as well. A name that is not
// valid UTF-8 is lowered in its ASCII letters only: decoding would merge distinct names.
std::string LowerCase(const std::string& name) {
    const QString text = QString::fromUtf8(name);
    if (text.toStdString() == name)
        return text.toLower().toStdString();
    std::string lowered = name;
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lowered;
}

} // namespace

CInstanceHandler::CInstanceHandler() = default;

CInstanceHandler::~CInstanceHandler() {
    Release();
}

bool CInstanceHandler::Initialize(const std::string& applicationName) {
    Release();
    m_strInstanceName = LowerCase(applicationName);
    const auto folder = platform::UserRuntimeDirectory();
    if (!folder) {
        const int error = errno;
        if (IsErrorLogEnabled())
            LogError("CInstanceHandler::Initialize: no private runtime folder: " +
                     ErrnoText(error));
        return false;
    }
    m_strRuntimeDir = *folder;
    const std::string lockPath =
        m_strRuntimeDir + "/" +
        platform::RuntimeEntryName("", m_strInstanceName, kStartupLockSuffix);
    if (!m_startupLock.Lock(lockPath)) {
        const int error = errno;
        if (IsErrorLogEnabled())
            LogError("CInstanceHandler::Initialize: start-up lock " + lockPath + ": " +
                     ErrnoText(error));
        m_strRuntimeDir.clear();
        return false;
    }
    return true;
}

bool CInstanceHandler::IsAnotherInstanceRunning() const {
    return !m_strRuntimeDir.empty() && platform::InstanceLock::IsHeld(RecordPath());
}

bool CInstanceHandler::ActivateOtherInstance() {
    if (m_strRuntimeDir.empty())
        return false;
    const auto record = platform::InstanceLock::ReadContent(RecordPath(), kMaxRecordBytes);
    if (!record) {
        m_startupLock.Unlock();
        return false;
    }
    const std::string socketPath = record->substr(0, record->find('\n'));
    if (socketPath.empty())
        return false; // the running copy has no activation socket
    if (!platform::ActivationSocket::Send(socketPath, kActivateRequest)) {
        const int error = errno;
        if (IsWarningLogEnabled())
            LogWarning("CInstanceHandler::ActivateOtherInstance: " + socketPath + ": " +
                       ErrnoText(error));
        return false;
    }
    return true;
}

bool CInstanceHandler::RegisterInstance() {
    const bool registered = TakeRecord();
    m_startupLock.Unlock();
    return registered;
}

bool CInstanceHandler::TakeRecord() {
    if (m_strRuntimeDir.empty())
        return false;
    switch (m_record.TryLock(RecordPath())) {
    case platform::InstanceLock::Result::Acquired:
        break;
    case platform::InstanceLock::Result::Held:
        return false;
    case platform::InstanceLock::Result::Failed: {
        const int error = errno;
        if (IsWarningLogEnabled())
            LogWarning("CInstanceHandler::RegisterInstance: " + RecordPath() + ": " +
                       ErrnoText(error));
        return false;
    }
    }
    // Without a socket the copy still keeps others out; it just cannot be brought forward.
    const std::string socketPath = ActivationPath();
    std::string channel;
    if (socketPath.empty())
        errno = ENAMETOOLONG;
    else if (m_activation.Listen(socketPath))
        channel = socketPath;
    if (channel.empty()) {
        const int error = errno;
        if (IsWarningLogEnabled())
            LogWarning("CInstanceHandler::RegisterInstance: no activation socket in " +
                       m_strRuntimeDir + ": " + ErrnoText(error));
    }
    if (!m_record.WriteContent(channel + "\n")) {
        const int error = errno;
        if (IsWarningLogEnabled())
            LogWarning("CInstanceHandler::RegisterInstance: record not written: " +
                       ErrnoText(error));
    }
    WatchActivationRequests();
    return true;
}

void CInstanceHandler::SetMainWindow(QWidget* window) {
    m_pMainWindow = window;
    WatchActivationRequests();
    TakeActivationRequests();
}

std::string CInstanceHandler::GetMappingName() const {
    return kMappingPrefix + m_strInstanceName;
}

QWidget* CInstanceHandler::GetMainWindowHandle() const {
    return m_pMainWindow.data();
}

void CInstanceHandler::BringToFront(QWidget* window) {
    QWidget* top = window->window();
    const Qt::WindowStates state = top->windowState();
    if (state & Qt::WindowMinimized)
        top->setWindowState((state & ~Qt::WindowMinimized) | Qt::WindowActive);
    if (!top->isVisible())
        top->show();
    // A modal dialog open over the window is what the user has to answer, so it goes in front.
    QWidget* target = QApplication::activeModalWidget();
    if (target == nullptr)
        target = top;
    target->raise();
    target->activateWindow();
}

// The notifier needs the event loop of the thread it is made on; before the application object
// exists requests simply wait in the socket until SetMainWindow looks. As the application
// object's child it goes with that object, which a guard held by a static object outlives.
void CInstanceHandler::WatchActivationRequests() {
    QCoreApplication* application = QCoreApplication::instance();
    if (m_pNotifier || m_activation.Descriptor() < 0 || application == nullptr)
        return;
    m_pNotifier =
        new QSocketNotifier(m_activation.Descriptor(), QSocketNotifier::Read, application);
    QObject::connect(m_pNotifier, &QSocketNotifier::activated, m_pNotifier,
                     [this] { TakeActivationRequests(); });
}

void CInstanceHandler::TakeActivationRequests() {
    for (const std::string& message : m_activation.ReceivePending())
        if (message == kActivateRequest)
            m_bActivationPending = true;
    if (!m_bActivationPending)
        return;
    QWidget* window = GetMainWindowHandle();
    if (window == nullptr)
        return; // kept until a window is handed over
    m_bActivationPending = false;
    BringToFront(window);
}

void CInstanceHandler::Release() {
    delete m_pNotifier.data();
    // Socket first, record last: the next copy may take the socket's name only after the record.
    m_activation.Close();
    m_record.Unlock(true);
    m_startupLock.Unlock();
    m_strRuntimeDir.clear();
    m_pMainWindow.clear();
    m_bActivationPending = false;
}

std::string CInstanceHandler::RecordPath() const {
    return m_strRuntimeDir + "/" +
           platform::RuntimeEntryName(kMappingPrefix, m_strInstanceName, "");
}

// A socket address is short (107 bytes), so a long name is shortened by hash to fit; empty when
// even that cannot fit the folder's path.
std::string CInstanceHandler::ActivationPath() const {
    const size_t folderPart = m_strRuntimeDir.size() + 1;
    if (folderPart >= platform::ActivationSocket::kMaxPathLength)
        return {};
    const std::string name =
        platform::RuntimeEntryName(kActivationPrefix, m_strInstanceName, "",
                                   platform::ActivationSocket::kMaxPathLength - folderPart);
    return name.empty() ? std::string() : m_strRuntimeDir + "/" + name;
}

} // namespace qarn
