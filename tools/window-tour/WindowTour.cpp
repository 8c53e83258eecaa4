#include "WindowTour.h"

#include "app/Resources.h"
#include "protocol/ConverterText.h"
#include "ui/ConfigurationEditor.h"
#include "ui/DeviceListModel.h"
#include "ui/QarnTeskConverterConfigDlg.h"
#include "ui/controls/COptionTree.h"
#include "ui/controls/COptionTreeItemIPAddress.h"
#include "ui/controls/COptionTreeItemMaskedEdit.h"
#include "ui/controls/COptionTreeItemSpinner.h"
#include "ui/controls/COptionTreeList.h"
#include "ui/controls/CTextProgressCtrl.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QTimer>

namespace qarn {

namespace {

constexpr unsigned kTextUpdateDone = 3739;
constexpr unsigned kTextUpdateNotTaken = 3741;
constexpr int kWatchEveryMs = 100;
// A second write would come at once after the first; the tour waits this long for one.
constexpr int kSecondWriteWaitMs = 1500;

QString Ip(uint32_t address) {
    return QString::fromStdString(IpToText(address));
}

struct SimLogCounts {
    int writes = 0;           // configuration writes received (byCmd 0x1B or 0x1C, 88 bytes)
    bool appliedHere = false; // the converter at the address took port 1 = 5000
};

// Reads the simulator's JSON lines from byte `from` on.
SimLogCounts ReadSimLog(const QString& path, qint64 from, uint32_t address) {
    SimLogCounts counts;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from))
        return counts;
    while (!file.atEnd()) {
        const nlohmann::json event =
            nlohmann::json::parse(file.readLine().toStdString(), nullptr, false);
        if (!event.is_object())
            continue;
        const std::string kind = event.value("event", "");
        if (kind == "datagram" && event.value("len", 0) == 88) {
            const std::string hex = event.value("hex", "");
            if (hex.rfind("011b", 0) == 0 || hex.rfind("011c", 0) == 0)
                ++counts.writes;
        } else if (kind == "write_applied" && event.value("conv", "") == IpToText(address) &&
                   event.contains("fields") && event["fields"].value("port1", 0) == 5000) {
            counts.appliedHere = true;
        }
    }
    return counts;
}

} // namespace

WindowTour::WindowTour(TourOptions options, MainDialogFactory& factory)
    : m_options(std::move(options)), m_factory(factory) {}

void WindowTour::Start() {
    m_watcher = new QTimer(this);
    connect(m_watcher, &QTimer::timeout, this, [this] { WatchMessageBoxes(); });
    m_watcher->start(kWatchEveryMs);
    QTimer::singleShot(0, this, [this] { Run(); });
}

void WindowTour::Say(const QString& line) const {
    std::printf("window-tour: %s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

bool WindowTour::Fail(const QString& why) {
    if (m_failure.isEmpty())
        m_failure = why;
    return false;
}

bool WindowTour::WaitFor(const std::function<bool()>& done, const QString& what) {
    QElapsedTimer clock;
    clock.start();
    const qint64 limitMs = std::chrono::milliseconds(m_options.limit).count();
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return Fail(what + " (waited " + QString::number(m_options.limit.count()) + " s)");
        QTest::qWait(20);
    }
    return true;
}

void WindowTour::Shot(const QString& name) {
    if (m_options.screenshots.isEmpty() || name.isEmpty() || m_window == nullptr)
        return;
    QApplication::processEvents();
    QPixmap pixmap;
    // On a display the screen itself, so that a message box over the window is in the picture.
    if (QGuiApplication::platformName() == QStringLiteral("xcb") && m_window->screen() != nullptr) {
        const QRect frame = m_window->frameGeometry();
        pixmap =
            m_window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    } else {
        pixmap = m_window->grab();
    }
    const QString path = QDir(m_options.screenshots).filePath(m_options.prefix + name + ".png");
    if (pixmap.save(path))
        Say("screenshot " + path);
}

void WindowTour::WatchMessageBoxes() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible())
        return;
    if (!m_messageShot.isEmpty()) {
        Shot(m_messageShot);
        m_messageShot.clear();
    }
    m_messages << box->text();
    Say("message: " + box->text());
    if (QAbstractButton* ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->reject();
}

void WindowTour::Run() {
    if (!WaitFor(
            [this] { return m_factory.Current() != nullptr && m_factory.Current()->isVisible(); },
            "the window did not open"))
        return;
    m_window = m_factory.Current();
    const bool passed = WaitForList() &&
                        (!m_options.select || LookAtSettings(*m_options.select, "2-editor")) &&
                        (!m_options.write || WriteAPort(*m_options.write)) &&
                        (!m_options.flash || UpdateFirmware(*m_options.flash, false)) &&
                        (!m_options.flashStale || UpdateFirmware(*m_options.flashStale, true)) &&
                        (!m_options.manual || LookAtManualEntry()) &&
                        (m_options.secondStart.isEmpty() || StartASecondTime());
    if (passed)
        Say("every step held");
    // Closed as the user closes it; the program's start-up then ends.
    if (auto* close =
            qobject_cast<QAbstractButton*>(m_window->Control(QarnTeskConverterConfigDlg::kIdClose)))
        QTest::mouseClick(close, Qt::LeftButton);
}

bool WindowTour::WaitForList() {
    DeviceList& list = m_window->List();
    QElapsedTimer clock;
    clock.start();
    const auto complete = [&] {
        if (list.GetRowCount() < m_options.expect || list.GetPendingEchoCount() != 0)
            return false;
        for (size_t row = 0; row < list.GetRowCount(); ++row)
            if (!list.GetRecord(row)->bComplete)
                return false;
        return true;
    };
    if (!WaitFor(complete,
                 QString("fewer than %1 converters listed and complete").arg(m_options.expect))) {
        m_failure += QString(": %1 listed").arg(list.GetRowCount());
        return false;
    }
    Say(QString("%1 converters listed and complete after %2 ms")
            .arg(list.GetRowCount())
            .arg(clock.elapsed()));
    if (m_options.deaf) {
        const std::optional<size_t> row = list.FindRowBySource(*m_options.deaf);
        if (!row)
            return Fail(Ip(*m_options.deaf) + " is not listed");
        const QColor colour =
            m_window->Model()
                .data(m_window->Model().index(static_cast<int>(*row), 0), Qt::ForegroundRole)
                .value<QColor>();
        if (colour != DeviceListModel::kRedText)
            return Fail(Ip(*m_options.deaf) + " does not answer echo but is not red");
        Say(Ip(*m_options.deaf) + " is red");
    }
    Shot("1-list");
    return true;
}

bool WindowTour::ClickRow(uint32_t address) {
    const std::optional<size_t> row = m_window->List().FindRowBySource(address);
    if (!row)
        return Fail(Ip(address) + " is not listed");
    QTableView* view = m_window->ListView();
    const QModelIndex index = m_window->Model().index(static_cast<int>(*row), 1);
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
    return true;
}

bool WindowTour::LookAtSettings(uint32_t address, const QString& shot) {
    if (!ClickRow(address))
        return false;
    const auto opened = [&] {
        return m_window->Working().dwSourceIp == address && m_window->Editor()->RootItem() &&
               m_window->IsEditorShown();
    };
    if (!WaitFor(opened, "the settings of " + Ip(address) + " did not open"))
        return false;
    // The IP address row focused, so that the pane below explains it.
    if (COptionTreeItem* ip = m_window->Editor()->IpItem()) {
        QTest::mouseClick(m_window->Editor()->Tree()->GetList()->viewport(), Qt::LeftButton, {},
                          ip->GetLabelRect().center());
    }
    Say("the settings of " + Ip(address) + " are shown");
    Shot(shot);
    return true;
}

bool WindowTour::WriteAPort(uint32_t address) {
    if (m_window->Working().dwSourceIp != address &&
        !LookAtSettings(address, m_options.select ? QString() : QStringLiteral("2-editor")))
        return false;
    COptionTreeItemSpinner* port = m_window->Editor()->Port1Item();
    if (port == nullptr)
        return Fail(Ip(address) + " offers no port 1");
    m_simLogStart = QFile(m_options.simLog).size();
    QTest::mouseClick(m_window->Editor()->Tree()->GetList()->viewport(), Qt::LeftButton, {},
                      port->GetValueRect().center());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("5000"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    if (m_window->Working().wPort1 != 5000)
        return Fail("port 1 did not take 5000");
    auto* write =
        qobject_cast<QAbstractButton*>(m_window->Control(QarnTeskConverterConfigDlg::kIdWrite));
    if (write == nullptr || !write->isEnabled())
        return Fail("the write button is not there to press");
    QTest::mouseClick(write, Qt::LeftButton);
    Say("port 1 of " + Ip(address) + " set to 5000 and written");
    if (m_options.simLog.isEmpty())
        return true;
    if (!WaitFor([&] { return ReadSimLog(m_options.simLog, m_simLogStart, address).appliedHere; },
                 "the simulator did not apply the write to " + Ip(address)))
        return false;
    QTest::qWait(kSecondWriteWaitMs);
    const SimLogCounts counts = ReadSimLog(m_options.simLog, m_simLogStart, address);
    if (counts.writes != 1)
        return Fail(
            QString("the simulator received %1 configuration writes, not one").arg(counts.writes));
    Say("the simulator received exactly that write");
    return true;
}

bool WindowTour::UpdateFirmware(uint32_t address, bool stale) {
    if (!ClickRow(address))
        return false;
    auto* button =
        qobject_cast<QAbstractButton*>(m_window->Control(QarnTeskConverterConfigDlg::kIdFirmware));
    if (!WaitFor([&] { return button != nullptr && button->isEnabled(); },
                 "no firmware update is offered for " + Ip(address)))
        return false;
    const uint32_t offered = m_window->AvailableVersion();
    const uint32_t before = m_window->Working().dwFirmwareVersion;
    QTest::mouseClick(button, Qt::LeftButton);
    Say("firmware update of " + Ip(address) + " to " +
        QString::fromStdString(VersionText(offered)) + " started");
    CTextProgressCtrl* bar = m_window->ProgressBar();
    if (!WaitFor([&] { return bar->Percent() >= 30; }, "the progress bar did not move"))
        return false;
    if (!stale)
        Shot("3-firmware-progress");
    m_messageShot =
        stale ? QStringLiteral("7-firmware-not-taken") : QStringLiteral("4-firmware-done");
    m_messages.clear();
    const auto told = [&] { return !m_messages.isEmpty() && !m_window->IsBusy(); };
    if (!WaitFor(told, "the update did not end with a message"))
        return false;
    // The verdict comes from the version the converter reports afterwards, and names it.
    const uint32_t expected = stale ? before : offered;
    const QString message =
        FormatText(ResourceString(stale ? kTextUpdateNotTaken : kTextUpdateDone),
                   {QString::fromStdString(VersionText(expected))});
    if (m_messages.first() != message)
        return Fail("the update ended with: " + m_messages.first());
    const auto relisted = [&] {
        const std::optional<size_t> row = m_window->List().FindRowBySource(address);
        return row && m_window->List().GetRecord(*row)->dwFirmwareVersion == expected;
    };
    if (!WaitFor(relisted, Ip(address) + " did not come back with firmware " +
                               QString::fromStdString(VersionText(expected))))
        return false;
    Say(Ip(address) + " is listed again with firmware " +
        QString::fromStdString(VersionText(expected)) +
        (stale ? ", and the window said the update did not take effect" : ""));
    if (!stale)
        Shot("5-list-after-update");
    return true;
}

bool WindowTour::LookAtManualEntry() {
    auto* button = qobject_cast<QAbstractButton*>(
        m_window->Control(QarnTeskConverterConfigDlg::kIdManualEntry));
    if (button == nullptr || !button->isEnabled())
        return Fail("the entry by MAC address is not there to press");
    QTest::mouseClick(button, Qt::LeftButton);
    if (!WaitFor([&] { return m_window->IsManualMode() && m_window->Editor()->MacItem(); },
                 "the entry by MAC address did not open"))
        return false;
    QTest::mouseClick(m_window->Editor()->Tree()->GetList()->viewport(), Qt::LeftButton, {},
                      m_window->Editor()->MacItem()->GetValueRect().center());
    Say("the entry by MAC address is shown");
    Shot("6-manual-entry");
    return true;
}

bool WindowTour::StartASecondTime() {
    m_window->showMinimized();
    QProcess second;
    second.start(m_options.secondStart, {});
    if (!WaitFor([&] { return second.state() == QProcess::NotRunning; },
                 "the second start did not end"))
        return false;
    if (second.exitStatus() != QProcess::NormalExit || second.exitCode() != 0)
        return Fail(QString("the second start ended with %1").arg(second.exitCode()));
    if (!WaitFor([&] { return !m_window->isMinimized() && m_window->isActiveWindow(); },
                 "the second start did not bring the window forward"))
        return false;
    Say("a second start ended at once and brought the window forward");
    return true;
}

} // namespace qarn
