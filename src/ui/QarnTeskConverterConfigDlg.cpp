#include "ui/QarnTeskConverterConfigDlg.h"

#include "app/LanguageCodes.h"
#include "app/Resources.h"
#include "diag/FileLogger.h"
#include "firmware/FirmwareImages.h"
#include "net/CUDPSocket.h"
#include "protocol/ConverterText.h"
#include "protocol/EditRules.h"
#include "ui/AnswerFeeder.h"
#include "ui/ConfigurationEditor.h"
#include "ui/DeviceListDelegate.h"
#include "ui/DeviceListModel.h"
#include "ui/DialogTemplateLoader.h"
#include "ui/FirmwareOffer.h"
#include "ui/FirmwareUpdateRun.h"
#include "ui/InterfaceMenu.h"
#include "ui/LanguageMenu.h"
#include "ui/ListColumnSizer.h"
#include "ui/controls/COptionTree.h"
#include "ui/controls/COptionTreeItemIPAddress.h"
#include "ui/controls/COptionTreeItemMaskedEdit.h"
#include "ui/controls/CTextProgressCtrl.h"

#include <utility>

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <QTableView>
#include <QTimer>

namespace qarn {

namespace {

// Texts of the string table.
constexpr unsigned kTextTitle = 1066;
constexpr unsigned kTextCaption = 16020;
constexpr unsigned kTextWrite = 16016;
constexpr unsigned kTextClose = 16017;
constexpr unsigned kTextFirmware = 16022;
constexpr unsigned kTextLanguageMenu = 2437;
constexpr unsigned kTextInterfaceMenu = 2438;
constexpr unsigned kTextAllInterfaces = 2439;
constexpr unsigned kTextIncomplete = 16006;
constexpr unsigned kTextAddressRefused = 2002;
constexpr unsigned kTextAddressTaken = 16023;
constexpr unsigned kTextProgress = 733;
constexpr unsigned kTextUpdateFailed = 3736;
constexpr unsigned kTextUpdateDone = 3739;
constexpr unsigned kTextPlaceholderImages = 3740;
constexpr unsigned kTextUpdateNotTaken = 3741;
constexpr unsigned kTextUpdateNotSeen = 3742;
constexpr unsigned kTextPortHeldBy = 3743;
constexpr unsigned kTextPortHeld = 3744;
// A transfer, acknowledged or not, is decided by the firmware version the converter reports once
// it is listed again: an acknowledged transfer proves only that the bytes arrived, not that the
// converter runs them. It has this long to show up (it has restarted by then, the engine waited
// for that).
constexpr std::chrono::seconds kConfirmLimit{20};
constexpr int kConfirmLookMs = 200;
constexpr std::array<unsigned, DeviceList::kColumnCount> kColumnHeadings = {16000, 16001, 16002,
                                                                            16004};

// The title's look: 12-point Verdana, as heavy as it comes, in a dark red.
constexpr int kTitlePointSize = 12;
const QColor kTitleColour(172, 52, 53);

} // namespace

QarnTeskConverterConfigDlg::QarnTeskConverterConfigDlg(DialogServices services, QWidget* parent)
    : QDialog(parent), m_services(std::move(services)),
      m_list(*m_services.echo, m_services.clock, m_services.echoWorkers),
      m_discovery(*m_services.endpoint, m_list),
      m_writer(*m_services.endpoint, m_list, m_discovery, *m_services.echo,
               m_services.macLookup ? m_services.macLookup : GetMacForAddress),
      m_manual(MakeBlankRecord()) {
    m_built = DialogTemplateLoader::Build(kTemplateId, this);
    m_listView = qobject_cast<QTableView*>(Control(kIdList));
    m_pEditorHost = Control(kIdTreePlaceholder);
    m_progress = qobject_cast<CTextProgressCtrl*>(Control(kIdProgress));
    m_built = m_built && m_listView != nullptr && m_pEditorHost != nullptr;
    m_model = new DeviceListModel(m_list, this);
    m_feeder = new AnswerFeeder(
        *m_services.answerQueue, m_list,
        [this](bool begin) {
            if (begin)
                m_model->BeginBatch();
            else
                m_model->EndBatch();
        },
        this);
    m_pDiscoveryTimer = new QTimer(this);
    m_pDiscoveryTimer->setInterval(kDiscoveryTimerMs);
    m_pSelectionTimer = new QTimer(this);
    m_pSelectionTimer->setInterval(kSelectionTimerMs);
    if (!m_built)
        return;
    m_listView->setModel(m_model);
    m_listView->setItemDelegate(new DeviceListDelegate(m_listView));
    m_columns = std::make_unique<ListColumnSizer>(*m_listView, m_list);
    // Echo results come on a worker: only a call to this thread is posted from there.
    m_list.SetEchoReadyCallback([this] {
        QMetaObject::invokeMethod(
            this, [this] { CollectEchoResults(); }, Qt::QueuedConnection);
    });
    ConnectControls();
}

QarnTeskConverterConfigDlg::~QarnTeskConverterConfigDlg() {
    OnDestroyWindow();
    if (m_firmwareRun)
        m_firmwareRun->Join();
    // The editor's items, the feeder and the model go before the list they work on.
    m_editor.reset();
    delete m_feeder;
    m_feeder = nullptr;
    delete m_model;
    m_model = nullptr;
}

QMenu* QarnTeskConverterConfigDlg::GetLanguageMenu() const {
    return m_pLanguageMenu;
}

QWidget* QarnTeskConverterConfigDlg::Control(unsigned id) const {
    return FindControl(this, id);
}

void QarnTeskConverterConfigDlg::ConnectControls() {
    connect(m_pDiscoveryTimer, &QTimer::timeout, this, [this] { OnDiscoveryTimer(); });
    connect(m_pSelectionTimer, &QTimer::timeout, this, [this] { OnSelectionTimer(); });
    connect(m_model, &DeviceListModel::ListChanged, this, [this] { OnListChanged(); });
    connect(m_listView->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { OnHeaderClicked(column); });
    connect(m_listView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected) { OnListSelectionChanged(selected); });
    const auto onClick = [this](unsigned id, auto handler) {
        if (auto* button = qobject_cast<QAbstractButton*>(Control(id)))
            connect(button, &QAbstractButton::clicked, this, handler);
    };
    onClick(kIdWrite, [this] { OnWriteConfiguration(); });
    onClick(kIdClose, [this] { reject(); });
    onClick(kIdManualEntry, [this] { OnManualEntry(); });
    onClick(kIdFirmware, [this] { OnFirmwareUpdate(); });
}

int QarnTeskConverterConfigDlg::RunModal() {
    if (!m_built)
        return QDialog::Rejected;
    OnInitDialog();
    const int result = exec();
    OnDestroyWindow();
    return result;
}

bool QarnTeskConverterConfigDlg::OnInitDialog() {
    if (!m_built || m_initialised)
        return m_initialised;
    m_initialised = true;
    if (m_services.attachAnswerPump)
        m_services.attachAnswerPump(this);

    BuildListColumns();
    SizeListColumns(true);
    m_editor = std::make_unique<ConfigurationEditor>(m_pEditorHost, this);
    connect(m_editor->Tree(), &COptionTree::Notify, this,
            [this](int code, COptionTreeItem* item, int* result) {
                OnEditorItemChanged(code, item);
                if (result != nullptr)
                    *result = 0;
            });
    m_pEditorHost->installEventFilter(this);
    // The list keeps its width whether the editor shows or not.
    QSizePolicy policy = m_pEditorHost->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    m_pEditorHost->setSizePolicy(policy);
    BuildMenus();

    setWindowIcon(ResourceIcon(kIconId));
    if (m_progress != nullptr) {
        m_progress->SetRange(0, 100);
        m_progress->SetShowText(false);
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    m_dwAvailableVersion = 0;
    m_pDiscoveryTimer->start();
    SetCaptionsAndTitle();
    if (m_progress != nullptr)
        m_progress->SetPos(0);
    if (!IsRowSelectedInList()) {
        SetEditorVisible(false);
        EnableControl(kIdWrite, false);
        EnableControl(kIdFirmware, false);
    }
    m_services.endpoint->Close();
    EmptyList();
    OpenEndpoint();
    m_pSelectionTimer->start();

    // Ascending by address, with its mark.
    if (m_list.GetSortColumn() != DeviceList::kColumnAddress || !m_list.IsSortAscending())
        m_list.HeaderClick(DeviceList::kColumnAddress);
    ShowSortMark();
    UpdateControls();
    raise();
    activateWindow();
    return true;
}

void QarnTeskConverterConfigDlg::OnDestroyWindow() {
    if (m_destroyed || !m_initialised)
        return;
    m_destroyed = true;
    m_feeder->Stop();
    // The pump first: once it has let go, nothing more arrives for the records deleted below.
    if (m_services.attachAnswerPump)
        m_services.attachAnswerPump(nullptr);
    m_pDiscoveryTimer->stop();
    m_pSelectionTimer->stop();
    m_services.endpoint->Close();
    EmptyList();
}

void QarnTeskConverterConfigDlg::EmptyList() {
    m_feeder->Clear();
    m_list.Clear();
}

void QarnTeskConverterConfigDlg::BuildListColumns() {
    QStringList headings;
    for (const unsigned id : kColumnHeadings)
        headings << ResourceString(id);
    m_model->SetHeadings(headings);
    // One line per converter at a fixed height, no row numbers: rows are placed without asking
    // each row for its size, which keeps a list of thousands as fast as one of ten.
    m_listView->verticalHeader()->hide();
    m_listView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_listView->verticalHeader()->setDefaultSectionSize(m_listView->fontMetrics().height() + 4);
    m_listView->horizontalHeader()->setHighlightSections(false);
    m_listView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_listView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listView->setShowGrid(true);
    m_listView->setWordWrap(false);
    // The list sorts itself (DeviceList); the view only shows the mark and reports the clicks,
    // which turning the view's own sorting off would both switch off.
    m_listView->setSortingEnabled(false);
    m_listView->horizontalHeader()->setSortIndicatorShown(true);
    m_listView->horizontalHeader()->setSectionsClickable(true);
    m_listView->horizontalHeader()->setStretchLastSection(true);
    m_listView->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void QarnTeskConverterConfigDlg::BuildMenus() {
    m_pMenuBar = new QMenuBar(this);
    if (layout() != nullptr)
        layout()->setMenuBar(m_pMenuBar);
    m_pLanguageMenu = new LanguageMenu(ResourceString(kTextLanguageMenu), m_services.language,
                                       m_services.isLanguageAvailable, m_pMenuBar);
    m_pMenuBar->addMenu(m_pLanguageMenu);
    connect(m_pLanguageMenu, &LanguageMenu::LanguageChosen, this,
            [this](int index) { OnLanguageCommand(index); });
    m_pInterfaceMenu =
        new InterfaceMenu(ResourceString(kTextInterfaceMenu), ResourceString(kTextAllInterfaces),
                          m_services.broadcastInterface, m_services.listInterfaces, m_pMenuBar);
    m_pMenuBar->addMenu(m_pInterfaceMenu);
    connect(m_pInterfaceMenu, &InterfaceMenu::InterfaceChosen, this,
            [this](const QString& name) { OnInterfaceCommand(name.toStdString()); });
}

void QarnTeskConverterConfigDlg::SetCaptionsAndTitle() {
    const auto setText = [this](unsigned id, const QString& text) {
        if (auto* button = qobject_cast<QAbstractButton*>(Control(id)))
            button->setText(text);
        else if (auto* label = qobject_cast<QLabel*>(Control(id)))
            label->setText(text);
    };
    setText(kIdFirmware, ResourceString(kTextFirmware));
    setText(kIdClose, ResourceString(kTextClose));
    setText(kIdWrite, ResourceString(kTextWrite));
    ShowCaption();
    if (auto* title = qobject_cast<QLabel*>(Control(kIdTitle))) {
        m_titleFont = QFont(QStringLiteral("Verdana"), kTitlePointSize, QFont::Black);
        m_titleFont.setStyleStrategy(QFont::PreferAntialias);
        title->setFont(m_titleFont);
        QPalette palette = title->palette();
        palette.setColor(QPalette::WindowText, kTitleColour);
        title->setPalette(palette);
        title->setText(ResourceString(kTextTitle));
    }
}

// --- Answers -------------------------------------------------------------------------------------

void QarnTeskConverterConfigDlg::AnswersWaiting() {
    m_feeder->Wake();
}

AnswerDisposition QarnTeskConverterConfigDlg::OnConverterAnswer(const CMsg& msg) {
    m_model->BeginBatch();
    const AnswerDisposition disposition = m_list.OnConverterAnswer(msg);
    m_model->EndBatch();
    return disposition;
}

void QarnTeskConverterConfigDlg::DrainAnswers() {
    if (m_feeder != nullptr)
        m_feeder->Drain();
}

void QarnTeskConverterConfigDlg::CollectEchoResults() {
    if (m_destroyed)
        return;
    m_model->BeginBatch();
    const size_t changed = m_list.CollectEchoResults();
    m_model->EndBatch();
    if (changed == 0 || m_pCurrent != &m_selCopy || !m_selCopy.bEchoPending)
        return;
    // The selected converter's echo was still out when it was selected: its reachability decides
    // the editor's view and where a write goes, so the working copy takes it now.
    const std::optional<size_t> row = m_list.FindRowBySource(m_selCopy.dwSourceIp);
    const LANconvDevice* record = row ? m_list.GetRecord(*row) : nullptr;
    if (record == nullptr || record->bEchoPending)
        return;
    const EditorView before = EditorViewOf(m_selCopy);
    m_selCopy.bEchoPending = false;
    m_selCopy.bUnreachable = record->bUnreachable;
    m_selCopy.RecomputeComplete();
    if (m_bEditorFilled && EditorViewOf(m_selCopy) != before)
        FillEditor();
    else
        UpdateControls();
}

void QarnTeskConverterConfigDlg::OnListChanged() {
    const bool removed = m_model->TakeRowsRemoved();
    m_columns->Measure(m_model->TakeChangedSources(), removed);
    m_columns->Apply();
    ShowSortMark();
    OpenSelectedRowOnceComplete();
    UpdateControls();
}

void QarnTeskConverterConfigDlg::OpenSelectedRowOnceComplete() {
    // A converter selected before all its answers were in (message 16006) opens by itself as
    // soon as they are.
    if (!m_bSelected || m_bEditorFilled || m_bManualMode || m_pCurrent != &m_selCopy)
        return;
    const QModelIndexList rows = m_listView->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    const LANconvDevice* record = m_model->RecordAt(rows.first().row());
    if (record != nullptr && record->dwSourceIp == m_selCopy.dwSourceIp && CanOpenInEditor(*record))
        OpenRow(rows.first().row(), true);
}

// --- List ----------------------------------------------------------------------------------------

void QarnTeskConverterConfigDlg::SizeListColumns(bool toHeadings) {
    if (toHeadings)
        m_columns->Reset();
    else
        m_columns->Measure({}, true);
    m_columns->Apply();
}

void QarnTeskConverterConfigDlg::SortList() {
    m_model->BeginBatch();
    m_list.SortList();
    m_model->EndBatch();
}

void QarnTeskConverterConfigDlg::OnHeaderClicked(int column) {
    m_model->BeginBatch();
    m_list.HeaderClick(column);
    m_model->EndBatch();
    ShowSortMark();
}

void QarnTeskConverterConfigDlg::ShowSortMark() {
    const int column = m_list.GetSortColumn();
    // Qt draws the ascending order with the down-pointing mark, as the list always did.
    const Qt::SortOrder order =
        m_list.GetSortMark(column) == SortMark::Down ? Qt::AscendingOrder : Qt::DescendingOrder;
    QHeaderView* header = m_listView->horizontalHeader();
    if (header->sortIndicatorSection() != column || header->sortIndicatorOrder() != order)
        header->setSortIndicator(column, order);
}

void QarnTeskConverterConfigDlg::OnDiscoveryTimer() {
    m_model->BeginBatch();
    const DiscoveryTick tick = m_discovery.Tick();
    m_model->EndBatch();
    if (tick == DiscoveryTick::Reopened || tick == DiscoveryTick::ReopenFailed) {
        // The rows went with the endpoint; what was still waiting belongs to them.
        m_feeder->Clear();
        ShowPortState(tick == DiscoveryTick::Reopened);
    }
}

void QarnTeskConverterConfigDlg::OpenEndpoint() {
    ShowPortState(m_services.endpoint->Open());
}

void QarnTeskConverterConfigDlg::ShowPortState(bool open) {
    // Discovery tries again with every tick while the port is held; the note stays until then,
    // so that an empty list is never left unexplained.
    const bool wasHeld = m_bPortHeld;
    m_bPortHeld = !open;
    if (m_bPortHeld) {
        const std::string holder = m_services.describePortHolder
                                       ? m_services.describePortHolder(CUDPSocket::kConverterPort)
                                       : std::string();
        if (wasHeld && holder == m_portHolder)
            return;
        m_portHolder = holder;
        if (IsWarningLogEnabled() && !wasHeld)
            LogWarning("QarnTeskConverterConfigDlg: UDP port " +
                       std::to_string(CUDPSocket::kConverterPort) + " is held by " +
                       (holder.empty() ? std::string("another program") : holder));
    } else if (!wasHeld) {
        return;
    }
    ShowCaption();
}

QString QarnTeskConverterConfigDlg::PortNote() const {
    if (!m_bPortHeld)
        return {};
    const QString port = QString::number(CUDPSocket::kConverterPort);
    return m_portHolder.empty() ? FormatText(ResourceString(kTextPortHeld), {port})
                                : FormatText(ResourceString(kTextPortHeldBy),
                                             {port, QString::fromStdString(m_portHolder)});
}

void QarnTeskConverterConfigDlg::ShowCaption() {
    auto* label = qobject_cast<QLabel*>(Control(kIdCaption));
    if (label == nullptr)
        return;
    const QString note = PortNote();
    label->setWordWrap(!note.isEmpty());
    label->setStyleSheet(note.isEmpty() ? QString() : QStringLiteral("color: #ac3435;"));
    label->setText(note.isEmpty() ? ResourceString(kTextCaption) : note);
    label->setToolTip(note);
}

bool QarnTeskConverterConfigDlg::IsRowSelectedInList() const {
    return m_listView != nullptr && m_listView->selectionModel() != nullptr &&
           m_listView->selectionModel()->hasSelection();
}

void QarnTeskConverterConfigDlg::OnSelectionTimer() {
    CollectEchoResults();
    if (IsRowSelectedInList() || m_bManualMode) {
        SetEditorVisible(true);
        // Typing in the manual entry makes Write available without Enter.
        if (m_bManualMode && !m_bBusy)
            EnableControl(kIdWrite, IsManualEntryGiven(true));
        return;
    }
    // The selected row went (age-out, a write that moved the converter): nothing is selected.
    if (m_bSelected) {
        m_bSelected = false;
        UpdateControls();
    }
    SetEditorVisible(false);
    EnableControl(kIdWrite, false);
    EnableControl(kIdFirmware, false);
}

bool QarnTeskConverterConfigDlg::IsEditorShown() const {
    return m_pEditorHost != nullptr && m_pEditorHost->isVisibleTo(this);
}

void QarnTeskConverterConfigDlg::SetEditorVisible(bool visible) {
    if (m_pEditorHost != nullptr && m_pEditorHost->isVisibleTo(this) != visible)
        m_pEditorHost->setVisible(visible);
}

void QarnTeskConverterConfigDlg::FitEditorColumn() {
    // Labels take six tenths of the editor, less a scroll bar's width.
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    m_editor->Tree()->SetColumnWidth(m_pEditorHost->width() * 6 / 10 - scrollBar);
}

bool QarnTeskConverterConfigDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pEditorHost && event->type() == QEvent::Resize && m_editor)
        FitEditorColumn();
    return QDialog::eventFilter(watched, event);
}

void QarnTeskConverterConfigDlg::EnableControl(unsigned id, bool enable) {
    if (QWidget* control = Control(id))
        control->setEnabled(enable);
}

void QarnTeskConverterConfigDlg::UpdateControls() {
    if (!m_built)
        return;
    const bool free = !m_bBusy;
    EnableControl(kIdClose, free);
    EnableControl(kIdManualEntry, free);
    m_listView->setEnabled(free);
    m_pEditorHost->setEnabled(free);
    if (m_pLanguageMenu != nullptr)
        m_pLanguageMenu->setEnabled(free);
    if (m_pInterfaceMenu != nullptr)
        m_pInterfaceMenu->setEnabled(free);
    // Writing needs a record the editor shows: a selected converter, or the manual entry.
    // The manual entry only once a MAC address and an IP address have been given: the blank
    // record would broadcast a write with a MAC and an address nobody chose.
    EnableControl(kIdWrite, free && (m_bManualMode ? IsManualEntryGiven(true)
                                                   : (m_bSelected && m_bEditorFilled)));
    if (m_bBusy) {
        EnableControl(kIdFirmware, false);
        return;
    }
    if (!m_bSelected) {
        EnableControl(kIdFirmware, false);
        m_dwAvailableVersion = 0;
        return;
    }
    m_dwAvailableVersion = 0;
    if (!IsUpdatableVersion(m_pCurrent->dwFirmwareVersion)) {
        EnableControl(kIdFirmware, false);
        return;
    }
    m_dwAvailableVersion = AvailableFirmwareVersion(m_pCurrent->dwFirmwareVersion);
    auto* button = qobject_cast<QAbstractButton*>(Control(kIdFirmware));
    if (button == nullptr)
        return;
    button->setText(ResourceString(kTextFirmware) + QLatin1Char(' ') +
                    QString::fromStdString(VersionText(m_dwAvailableVersion)));
    const bool withheld = m_services.placeholderImages && !m_services.allowPlaceholderImages;
    button->setToolTip(withheld ? ResourceString(kTextPlaceholderImages) : QString());
    button->setEnabled(!withheld && m_bEditorFilled &&
                       CanOfferFirmwareUpdate(*m_pCurrent, m_dwAvailableVersion));
}

void QarnTeskConverterConfigDlg::OnLanguageCommand(int index) {
    const auto& languages = SupportedLanguages();
    if (index < 0 || static_cast<size_t>(index) >= languages.size())
        return;
    const std::string& code = languages[static_cast<size_t>(index)];
    if (m_bBusy || code == m_services.language) {
        // Nothing happens: the menu keeps showing the language in use.
        m_pLanguageMenu->Check(m_services.language);
        return;
    }
    m_services.language = code;
    if (m_services.storeLanguage)
        m_services.storeLanguage(code);
    done(kRestartResult);
}

void QarnTeskConverterConfigDlg::OnInterfaceCommand(const std::string& name) {
    if (m_bBusy || name == m_services.broadcastInterface) {
        m_pInterfaceMenu->Check(m_services.broadcastInterface);
        return;
    }
    m_services.broadcastInterface = name;
    m_services.endpoint->SetBroadcastInterface(name);
    if (m_services.storeInterface)
        m_services.storeInterface(name);
    m_pInterfaceMenu->Check(name);
    // Converters of the networks left behind would linger for the age-out's 20 seconds: the list
    // starts afresh and asks the chosen network at once.
    m_bSelected = false;
    m_listView->selectionModel()->clearSelection();
    m_model->BeginBatch();
    EmptyList();
    m_model->EndBatch();
    m_discovery.SendDiscovery();
    m_discovery.RestartCountdown();
    UpdateControls();
}

void QarnTeskConverterConfigDlg::closeEvent(QCloseEvent* event) {
    if (m_bBusy) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void QarnTeskConverterConfigDlg::reject() {
    if (m_bBusy)
        return;
    EmptyList();
    QDialog::reject();
}

void QarnTeskConverterConfigDlg::PostMessage(const QString& text, int icon) {
    QTimer::singleShot(0, this, [this, text, icon] { ShowMessage(text, icon); });
}

void QarnTeskConverterConfigDlg::ShowMessage(const QString& text, int icon) {
    if (m_services.showMessage) {
        m_services.showMessage(text, icon);
        return;
    }
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), windowTitle(), text, QMessageBox::Ok,
                    this);
    box.exec();
}

// --- Configuration editor ----------------------------------------------------------------------

void QarnTeskConverterConfigDlg::FillEditor() {
    m_snapshot = BeginEdit(*m_pCurrent);
    EnableControl(kIdWrite, true);
    setFocus();
    m_bEditorFilled = true;
    m_editor->Fill(*m_pCurrent);
    UpdateControls();
}

void QarnTeskConverterConfigDlg::OnEditorItemChanged(int code, COptionTreeItem* item) {
    if (code != OT_NOTIFY_ITEMCHANGED || !m_editor || item == nullptr)
        return;
    const std::optional<EditItem> kind = m_editor->ItemOf(item);
    const EditResult result = m_editor->Apply(item, *m_pCurrent);
    if (result.status == EditStatus::Rejected) {
        PostMessage(
            FormatText(ResourceString(kTextAddressRefused), {QString::fromStdString(result.text)}),
            QMessageBox::Critical);
    } else if (kind == EditItem::Mac && result.status == EditStatus::Stored &&
               m_pCurrent == &m_manual) {
        m_bManualMacGiven = true;
        UpdateControls();
    } else if (kind == EditItem::Ip && result.status == EditStatus::Stored) {
        UpdateControls();
    }
}

bool QarnTeskConverterConfigDlg::IsManualEntryGiven(bool typed) const {
    if (!m_bManualMode || !m_editor)
        return false;
    // The blank record's MAC is no converter's: only one the user gave counts.
    bool mac = m_bManualMacGiven && m_manual.abyMac != kBlankRecordMac;
    uint32_t ip = m_manual.dwIp;
    if (!typed)
        return mac && ip != 0;
    // A row still being typed counts as it stands: clicking Write commits it first.
    if (COptionTreeItemMaskedEdit* item = m_editor->MacItem();
        item != nullptr && item->IsActivated()) {
        LANconvDevice probe = m_manual;
        mac =
            ApplyMacInput(probe, item->GetInputText().toStdString()).status == EditStatus::Stored &&
            probe.abyMac != kBlankRecordMac;
    }
    if (COptionTreeItemIPAddress* item = m_editor->IpItem();
        item != nullptr && item->IsActivated()) {
        uint32_t address = 0;
        if (item->GetAddress(address) == 4)
            ip = address;
    }
    return mac && ip != 0;
}

void QarnTeskConverterConfigDlg::CommitEditedRow() {
    if (!m_editor)
        return;
    // Depth first through the rows; at most one is activated.
    std::vector<COptionTreeItem*> pending = {m_editor->Tree()->GetRootItem()};
    while (!pending.empty()) {
        COptionTreeItem* item = pending.back();
        pending.pop_back();
        if (item->IsActivated()) {
            item->Commit();
            return;
        }
        for (COptionTreeItem* child = item->GetChild(); child != nullptr;
             child = child->GetSibling())
            pending.push_back(child);
    }
}

void QarnTeskConverterConfigDlg::OnListSelectionChanged(const QItemSelection& selected) {
    const QModelIndexList rows = m_listView->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        m_bSelected = false;
        return;
    }
    // A selection that only moved with its row (rows sorted in before it) changes nothing.
    if (selected.isEmpty())
        return;
    OpenRow(rows.first().row(), false);
}

void QarnTeskConverterConfigDlg::OpenRow(int row, bool again) {
    const LANconvDevice* record = m_model->RecordAt(row);
    if (!again && record != nullptr && m_bSelected && m_pCurrent == &m_selCopy && m_bEditorFilled &&
        record->dwSourceIp == m_selCopy.dwSourceIp)
        return; // the same converter, still being edited
    m_bSelected = true;
    SetEditorVisible(true);
    if (record == nullptr) {
        m_pCurrent = &m_manual;
        FillEditor();
        return;
    }
    m_selCopy = *record;
    m_pCurrent = &m_selCopy;
    if (CanOpenInEditor(m_selCopy)) {
        FillEditor();
        return;
    }
    // Not all its answers are in yet. The tree must not go on showing another converter's
    // values for this one: what would be written is this converter's record, so nothing is
    // offered until it is selected again once complete.
    m_bEditorFilled = false;
    m_editor->Tree()->DeleteAllItems();
    m_editor->ClearEditorItems();
    UpdateControls();
    PostMessage(ResourceString(kTextIncomplete), QMessageBox::NoIcon);
}

void QarnTeskConverterConfigDlg::OnManualEntry() {
    if (m_bBusy)
        return;
    m_bManualMode = true;
    SetEditorVisible(true);
    const std::string serial = m_pCurrent->strSerial;
    m_pCurrent = &m_manual;
    // Each use starts afresh: a MAC or address typed for another converter earlier must not go
    // out unseen with this one.
    m_manual = MakeBlankRecord();
    m_bManualMacGiven = false;
    EnterManualMode(m_manual, serial);
    m_listView->selectionModel()->clearSelection();
    if (QWidget* button = Control(kIdManualEntry))
        button->setFocus();
    FillEditor();
}

bool QarnTeskConverterConfigDlg::IsLetterEditable() const {
    return m_editor && m_editor->IsLetterEditable();
}

// --- Configuration write -----------------------------------------------------------------------

void QarnTeskConverterConfigDlg::OnWriteConfiguration() {
    if (m_bBusy)
        return;
    // A row still being edited goes into the record first: what the editor shows is what is sent.
    CommitEditedRow();
    if (m_bManualMode && !IsManualEntryGiven(false)) {
        UpdateControls();
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_model->BeginBatch();
    const WriteResult result = m_writer.OnWriteConfiguration(*m_pCurrent, m_snapshot, m_bBusy);
    m_model->EndBatch();
    QApplication::restoreOverrideCursor();
    switch (result.outcome) {
    case WriteOutcome::AddressTaken:
        ShowMessage(ResourceString(kTextAddressTaken), QMessageBox::NoIcon);
        break;
    case WriteOutcome::SentUnicast:
    case WriteOutcome::SentBroadcast:
        m_bManualMode = false;
        UpdateControls();
        break;
    case WriteOutcome::Busy:
    case WriteOutcome::NoDestination:
        break;
    }
}

// --- Firmware update ---------------------------------------------------------------------------

void QarnTeskConverterConfigDlg::OnFirmwareUpdate() {
    if (m_pCurrent->nKind == kKindNone || m_pCurrent->nKind == kKindByMac ||
        m_dwAvailableVersion == 0)
        return;
    EnableControl(kIdFirmware, false);
    const std::optional<FirmwareChoice> choice = ChooseFirmwareImage(m_pCurrent->dwFirmwareVersion);
    const uint32_t imageId = choice ? choice->imageId : kImageIdLtxFirst;
    std::vector<uint8_t> image;
    if (!LoadFirmwareImage(ProgramModule(), imageId, image))
        ShowMessage(ResourceString(kTextUpdateFailed), QMessageBox::NoIcon);
    if (!StartFirmwareUpdate(imageId))
        EnableControl(kIdFirmware, true);
}

bool QarnTeskConverterConfigDlg::StartFirmwareUpdate(uint32_t imageId) {
    if (m_bBusy) {
        UpdateControls();
        return false;
    }
    if (IsDebugLogEnabled())
        LogDebug("QarnTeskConverterConfigDlg::StartFirmwareUpdate(): FirmwareID:" +
                 std::to_string(imageId));
    m_bBusy = true;
    UpdateControls();
    if (m_services.firmware == nullptr ||
        !LoadFirmwareImage(ProgramModule(), imageId, m_firmwareImage)) {
        m_bBusy = false;
        ShowMessage(ResourceString(kTextUpdateFailed), QMessageBox::Critical);
        UpdateControls();
        return false;
    }
    m_pDiscoveryTimer->stop();
    m_pSelectionTimer->stop();
    if (m_progress != nullptr) {
        m_progress->SetShowText(true);
        m_progress->SetWindowText(ResourceString(kTextProgress));
        m_progress->repaint();
    }
    const FirmwareImageInfo* info = FindFirmwareImageInfo(imageId);
    if (info == nullptr || !IsUpdatableVersion(m_pCurrent->dwFirmwareVersion)) {
        m_services.endpoint->Close();
        FinishFirmwareUpdate(TransferResult{});
        return true;
    }
    m_firmwareRun = std::make_unique<FirmwareUpdateRun>(*m_services.firmware, info->engine,
                                                        IpToText(m_pCurrent->dwSourceIp),
                                                        std::move(m_firmwareImage), m_progress);
    m_firmwareRun->StartWhenQuiet(
        this, [this] { return m_feeder->LastAnswerAt(); }, [this] { m_services.endpoint->Close(); },
        [this](const TransferResult& result) {
            QMetaObject::invokeMethod(
                this, [this, result] { FinishFirmwareUpdate(result); }, Qt::QueuedConnection);
        });
    return true;
}

void QarnTeskConverterConfigDlg::FinishFirmwareUpdate(const TransferResult& result) {
    if (m_firmwareRun) {
        m_firmwareRun->Join();
        m_firmwareRun.reset();
    }
    m_firmwareImage.clear();
    if (result.verdict != TransferVerdict::Done && IsWarningLogEnabled())
        LogWarning(
            "QarnTeskConverterConfigDlg::FirmwareUpdateThread: " +
            IpToText(m_pCurrent->dwSourceIp) + ": " +
            (result.verdict == TransferVerdict::Unconfirmed ? "not confirmed: " : "failed: ") +
            result.reason);
    if (m_progress != nullptr) {
        m_progress->SetPos(0);
        m_progress->SetShowText(false);
        m_progress->SetWindowText(QString());
        m_progress->repaint();
    }
    // Discovery resumes on an empty list; the window stays locked until the result is told.
    OpenEndpoint();
    m_bSelected = false;
    m_listView->selectionModel()->clearSelection();
    EmptyList();
    m_pDiscoveryTimer->start();
    m_pSelectionTimer->start();
    if (result.verdict == TransferVerdict::Failed) {
        TellFirmwareResult(FirmwareOutcome::Failed, 0);
        return;
    }
    // Whether the last acknowledgement came or not, the firmware version the converter reports
    // once it is listed again decides: one that kept its old firmware after a complete transfer
    // has not been updated.
    m_updated = *m_pCurrent;
    m_confirmUntil = std::chrono::steady_clock::now() + kConfirmLimit;
    ConfirmByVersion();
}

void QarnTeskConverterConfigDlg::ConfirmByVersion() {
    const std::optional<size_t> row = m_list.FindRowByMac(m_updated.abyMac);
    const LANconvDevice* now = row ? m_list.GetRecord(*row) : nullptr;
    if (now != nullptr && now->bComplete && now->dwFirmwareVersion != 0) {
        TellFirmwareResult(now->dwFirmwareVersion != m_updated.dwFirmwareVersion
                               ? FirmwareOutcome::Updated
                               : FirmwareOutcome::Unchanged,
                           now->dwFirmwareVersion);
        return;
    }
    if (std::chrono::steady_clock::now() >= m_confirmUntil) {
        TellFirmwareResult(FirmwareOutcome::NotSeen, 0);
        return;
    }
    QTimer::singleShot(kConfirmLookMs, this, [this] { ConfirmByVersion(); });
}

void QarnTeskConverterConfigDlg::TellFirmwareResult(FirmwareOutcome outcome, uint32_t seen) {
    const QString version = QString::fromStdString(VersionText(seen));
    switch (outcome) {
    case FirmwareOutcome::Updated:
        ShowMessage(FormatText(ResourceString(kTextUpdateDone), {version}),
                    QMessageBox::Information);
        break;
    case FirmwareOutcome::Unchanged:
        if (IsWarningLogEnabled())
            LogWarning(
                "QarnTeskConverterConfigDlg::ConfirmByVersion: " + IpToText(m_updated.dwSourceIp) +
                " still reports firmware " + VersionText(seen));
        ShowMessage(FormatText(ResourceString(kTextUpdateNotTaken), {version}),
                    QMessageBox::Critical);
        break;
    case FirmwareOutcome::NotSeen:
        ShowMessage(FormatText(ResourceString(kTextUpdateNotSeen),
                               {QString::number(kConfirmLimit.count())}),
                    QMessageBox::Critical);
        break;
    case FirmwareOutcome::Failed:
        ShowMessage(ResourceString(kTextUpdateFailed), QMessageBox::Critical);
        break;
    }
    m_bBusy = false;
    // Unlocked at once: waiting for the first answer would leave the window locked (and
    // impossible to close) when no converter answers any more.
    UpdateControls();
}

} // namespace qarn
