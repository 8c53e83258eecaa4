#pragma once

#include "platform/ActivationSocket.h"
#include "platform/InstanceLock.h"

#include <string>

#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>

namespace qarn {

// Keeps the program to one running copy per user and lets a later copy bring the running one's
// window to the front. Used on the user-interface thread during start-up, in this order:
//
//     if (!guard.Initialize(applicationName))          // waits for copies starting right now
//         return false;                                 // no private runtime folder: report, end
//     if (guard.IsAnotherInstanceRunning()) {
//         guard.ActivateOtherInstance();                // ask the running copy to come forward
//         return false;                                 // and end without a window
//     }
//     guard.RegisterInstance();                         // failure: run unregistered
//     ...                                               // later, once the main window exists:
//     guard.SetMainWindow(dialog);
//
// The registered copy holds a per-user record file under a lock for as long as this object
// lives, so a copy that crashed leaves nothing that keeps later copies out. The record names the
// socket on which the copy takes requests to come forward; a request that arrives before a window
// is handed over is kept and applied when one is.
class CInstanceHandler {
  public:
    CInstanceHandler();
    virtual ~CInstanceHandler();
    CInstanceHandler(const CInstanceHandler&) = delete;
    CInstanceHandler& operator=(const CInstanceHandler&) = delete;

    // Takes the name ("Tool" -> instance "tool") and waits without limit for the per-user
    // start-up lock of that name, which the first copy holds until it has registered. False when
    // the lock cannot be made (no private runtime folder): start-up cannot go on safely.
    bool Initialize(const std::string& applicationName);

    // True while a live copy holds the instance record.
    bool IsAnotherInstanceRunning() const;

    // Asks the running copy to bring its window forward; true when the request reached it.
    bool ActivateOtherInstance();

    // Takes the instance record and opens the activation socket. False when another copy holds
    // the record or it cannot be made; the start-up lock is let go either way, so that later
    // copies are not kept waiting by one that runs unregistered.
    bool RegisterInstance();

    // The window to bring forward on request; null takes it back. A pending request is applied
    // at once. Call on the user-interface thread, with the Qt application object in place.
    void SetMainWindow(QWidget* window);

    bool IsRegistered() const { return m_record.IsLocked(); }
    const std::string& InstanceName() const { return m_strInstanceName; }

    // "InstanceHandler_for_" + instance name: the record's name in the runtime folder.
    virtual std::string GetMappingName() const;

    // The window that a request brings forward: the one handed over, while it exists.
    virtual QWidget* GetMainWindowHandle() const;

  protected:
    // Restores `window` when minimised or hidden, keeping it maximised if it was, then raises and
    // activates it, or the modal dialog in front of it.
    virtual void BringToFront(QWidget* window);

  private:
    bool TakeRecord();
    void WatchActivationRequests();
    void TakeActivationRequests();
    void Release();
    std::string RecordPath() const;
    std::string ActivationPath() const;

    std::string m_strInstanceName;
    std::string m_strRuntimeDir;
    platform::InstanceLock m_startupLock;
    platform::InstanceLock m_record;
    platform::ActivationSocket m_activation;
    QPointer<QSocketNotifier> m_pNotifier; // a child of the application object
    QPointer<QWidget> m_pMainWindow;
    bool m_bActivationPending = false;
};

} // namespace qarn
