#pragma once

#include "app/IMainDialog.h"
#include "protocol/ConfigurationWrite.h"
#include "protocol/DeviceList.h"
#include "protocol/DiscoveryCycle.h"
#include "protocol/LANconvDevice.h"
#include "ui/DialogServices.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QDialog>
#include <QFont>
#include <QPointer>

class QAbstractButton;
class QItemSelection;
class QLabel;
class QMenu;
class QMenuBar;
class QTimer;
class QTableView;
class QWidget;

namespace qarn {

class AnswerFeeder;
class COptionTreeItem;
class CTextProgressCtrl;
class ConfigurationEditor;
class DeviceListModel;
class FirmwareUpdateRun;
class InterfaceMenu;
class LanguageMenu;
class ListColumnSizer;

// The tool's one window: the device list of the converters that answer on the LAN (left), the
// configuration editor of the selected one (right), the write, close, firmware-update and
// manual-entry buttons and the progress bar, and a menu of the installed languages. It is built
// from dialog template 15008 of the loaded language bundle, and all its texts come from there.
//
// Everything runs on the user-interface thread: discovery (timer 1, once a second), the
// visibility check of the editor (timer 3, every 100 ms), the answers the pump hands over (applied
// in short slices, so that the window never stops answering), writes, and the steps of a firmware
// update, whose transfer alone runs on a thread of its own.
class QarnTeskConverterConfigDlg : public QDialog, public IMainDialog {
    Q_OBJECT

  public:
    static constexpr unsigned kTemplateId = 15008;
    static constexpr unsigned kIconId = 159;
    // Controls of the template.
    static constexpr unsigned kIdWrite = 1;
    static constexpr unsigned kIdClose = 2;
    static constexpr unsigned kIdFirmware = 385;
    static constexpr unsigned kIdManualEntry = 396;
    static constexpr unsigned kIdProgress = 388;
    static constexpr unsigned kIdList = 344;
    static constexpr unsigned kIdTreePlaceholder = 21018;
    static constexpr unsigned kIdTitle = 1114;
    static constexpr unsigned kIdCaption = 33783;
    // Timers: 1 drives discovery, 3 the editor's visibility.
    static constexpr int kDiscoveryTimerMs = 1000;
    static constexpr int kSelectionTimerMs = 100;

    explicit QarnTeskConverterConfigDlg(DialogServices services, QWidget* parent = nullptr);
    ~QarnTeskConverterConfigDlg() override;

    // False when template 15008 could not be built: there is no window to show.
    bool IsBuilt() const { return m_built; }

    // IMainDialog: initialises (endpoint, pump, timers), runs modally, then lets go of the
    // endpoint and the pump and empties the list.
    int RunModal() override;
    QWidget* Window() override { return this; }
    void AnswersWaiting() override;

    // The initialisation that RunModal does before the modal run (tests call it themselves).
    bool OnInitDialog();
    // What the window's destruction does: pump stopped, timers stopped, endpoint closed, rows
    // deleted. Done once; RunModal does it after the modal run.
    void OnDestroyWindow();

    // Applies one datagram on the user-interface thread, as the pump's hand-over does.
    AnswerDisposition OnConverterAnswer(const CMsg& msg);
    // Applies what the endpoint queued, for at most one slice (AnswerFeeder); asks for another
    // pass when more is waiting.
    void DrainAnswers();

    // Applies the echo results that have come, and follows them in the working record of a
    // converter that was selected before its echo was answered.
    void CollectEchoResults();

    void UpdateControls();
    // Every column to its heading when `toHeadings`, else to its content (and at least its
    // heading), the version column always to its heading.
    void SizeListColumns(bool toHeadings);
    void SortList();
    void OnHeaderClicked(int column);
    // Timer 1 and timer 3.
    void OnDiscoveryTimer();
    void OnSelectionTimer();
    // The language menu's command for SupportedLanguages()[index].
    void OnLanguageCommand(int index);
    // The Network menu's command: discovery goes to `name` alone ("": every interface) from now
    // on, on an emptied list, with a request at once.
    void OnInterfaceCommand(const std::string& name);

    // The configuration editor.
    void FillEditor();
    void OnEditorItemChanged(int code, COptionTreeItem* item);
    void OnListSelectionChanged(const QItemSelection& selected);
    void OnManualEntry();
    bool IsLetterEditable() const;
    // The manual entry has a MAC address other than the blank record's and an IP address other
    // than 0.0.0.0: committed, or with `typed` also as the row being edited stands.
    bool IsManualEntryGiven(bool typed) const;
    // Commits the row being edited, if any, as leaving it would.
    void CommitEditedRow();

    // The write button.
    void OnWriteConfiguration();

    // The firmware-update button, and the update's steps.
    void OnFirmwareUpdate();
    bool StartFirmwareUpdate(uint32_t imageId);

    // Reading the window's state.
    DeviceList& List() { return m_list; }
    DeviceListModel& Model() { return *m_model; }
    QTableView* ListView() const { return m_listView; }
    ConfigurationEditor* Editor() const { return m_editor.get(); }
    CTextProgressCtrl* ProgressBar() const { return m_progress; }
    const LANconvDevice& Working() const { return *m_pCurrent; }
    const LANconvDevice& Snapshot() const { return m_snapshot; }
    bool IsEditorShown() const;
    bool IsBusy() const { return m_bBusy; }
    bool IsSelected() const { return m_bSelected; }
    bool IsManualMode() const { return m_bManualMode; }
    // The note above the list while another program holds the converter port; empty otherwise.
    QString PortNote() const;
    uint32_t AvailableVersion() const { return m_dwAvailableVersion; }
    QMenu* GetLanguageMenu() const;
    InterfaceMenu* GetInterfaceMenu() const { return m_pInterfaceMenu; }
    QWidget* Control(unsigned id) const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Close (button 2, Escape): refused while busy; otherwise empties the list and ends.
    void reject() override;
    // Enter does not end the window: writing takes the write button itself.
    void accept() override {}

  private:
    void BuildListColumns();
    void BuildMenus();
    void SetCaptionsAndTitle();
    void ConnectControls();
    void OnListChanged();
    void ShowSortMark();
    bool IsRowSelectedInList() const;
    void SetEditorVisible(bool visible);
    void FitEditorColumn();
    void EnableControl(unsigned id, bool enable);
    // A message box over the window once the running event is done (never inside a control's
    // own handling of a click or a commit); `icon` is a QMessageBox::Icon.
    void PostMessage(const QString& text, int icon);
    void ShowMessage(const QString& text, int icon);
    // The steps after the transfer: discovery resumed on an empty list, the result told (an
    // unconfirmed transfer once the converter reports its version), the window unlocked.
    void FinishFirmwareUpdate(const TransferResult& result);
    void ConfirmByVersion();
    // How an update ended: the converter reports a new version, still its old one, none within
    // the time allowed, or the transfer itself failed.
    enum class FirmwareOutcome { Updated, Unchanged, NotSeen, Failed };
    void TellFirmwareResult(FirmwareOutcome outcome, uint32_t seenVersion);
    void EmptyList();
    // Opens the endpoint and says in the caption above the list when the port is held.
    void OpenEndpoint();
    void ShowPortState(bool open);
    void ShowCaption();
    // Makes a copy of the record of `row` the working record and fills the editor with it;
    // unless `again`, not when that converter is the one being edited already.
    void OpenRow(int row, bool again);
    void OpenSelectedRowOnceComplete();

    DialogServices m_services;
    bool m_built = false;
    bool m_initialised = false;
    bool m_destroyed = false;

    DeviceList m_list;
    DiscoveryCycle m_discovery;
    ConfigurationWriter m_writer;
    DeviceListModel* m_model = nullptr; // child of the dialog
    AnswerFeeder* m_feeder = nullptr;   // child of the dialog

    // Controls from the template.
    QTableView* m_listView = nullptr;
    QWidget* m_pEditorHost = nullptr;
    CTextProgressCtrl* m_progress = nullptr;
    QMenuBar* m_pMenuBar = nullptr;
    LanguageMenu* m_pLanguageMenu = nullptr;
    InterfaceMenu* m_pInterfaceMenu = nullptr;
    QTimer* m_pDiscoveryTimer = nullptr; // timer 1
    QTimer* m_pSelectionTimer = nullptr; // timer 3
    QFont m_titleFont;
    std::unique_ptr<ListColumnSizer> m_columns;
    std::unique_ptr<ConfigurationEditor> m_editor;
    // The tree shows the working record (not the rows of an earlier one, after message 16006).
    bool m_bEditorFilled = false;

    // The running firmware update, from the end of the settling wait to its clean-up.
    std::unique_ptr<FirmwareUpdateRun> m_firmwareRun;
    std::vector<uint8_t> m_firmwareImage;
    LANconvDevice m_updated; // the converter being updated, as it was
    std::chrono::steady_clock::time_point m_confirmUntil;

    // The editor's records: the working record always points at m_selCopy or m_manual.
    LANconvDevice m_selCopy;
    LANconvDevice m_manual;
    LANconvDevice m_snapshot;
    LANconvDevice* m_pCurrent = &m_manual;
    bool m_bManualMode = false;
    bool m_bManualMacGiven = false; // a MAC committed in this use of the manual entry
    bool m_bSelected = false;

    uint32_t m_dwAvailableVersion = 0;
    bool m_bBusy = false;
    bool m_bPortHeld = false;
    std::string m_portHolder;
};

} // namespace qarn
