#pragma once

// The fixture of the main window's tests: the real window, built from the English bundle, on the
// offscreen platform, with everything that would reach a network replaced: an endpoint that
// records what it would send (and a queue for what it would receive), an echo by table (done
// inside the answer, so that the order of events is fixed), a neighbour table by table, a firmware
// transfer that the test drives, a clock the test sets, and messages recorded instead of shown.

#include "app/QarnPlonResourceHelper.h"
#include "firmware/FirmwareImages.h"
#include "protocol/ConverterText.h"
#include "protocol/LANconvConfigHdr.h"
#include "ui/ConfigurationEditor.h"
#include "ui/DeviceListModel.h"
#include "ui/QarnTeskConverterConfigDlg.h"
#include "ui/controls/COptionTree.h"
#include "ui/controls/COptionTreeList.h"
#include "unit/protocol/ConverterDatagrams.h"
#include "unit/protocol/FakeEndpoint.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

namespace qarn::test {

// A transfer that reports progress and then waits until the test lets it end with a result.
class HeldTransfer : public IFirmwareTransfer {
  public:
    TransferResult Run(FirmwareEngine engine, const std::string& target,
                       std::span<const uint8_t> image, IProgressDisplay* progress) override {
        std::unique_lock<std::mutex> lock(m_lock);
        m_ran = true;
        m_engine = engine;
        m_target = target;
        m_imageSize = image.size();
        lock.unlock();
        progress->SetPos(42);
        lock.lock();
        m_started.notify_all();
        m_release.wait_for(lock, std::chrono::seconds(20), [&] { return m_released; });
        TransferResult result;
        result.verdict = m_verdict;
        result.reason = m_verdict == TransferVerdict::Done ? "" : "held by the test";
        return result;
    }
    // Waits until the transfer runs; false after `limit`.
    bool WaitRunning(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_started.wait_for(lock, limit, [&] { return m_ran; });
    }
    void Release(TransferVerdict verdict) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_verdict = verdict;
        m_released = true;
        m_release.notify_all();
    }
    // Ready for another transfer.
    void Reset() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_ran = false;
        m_released = false;
    }
    FirmwareEngine Engine() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_engine;
    }
    std::string Target() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_target;
    }
    size_t ImageSize() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_imageSize;
    }

  private:
    bool m_ran = false;
    std::mutex m_lock;
    std::condition_variable m_started;
    std::condition_variable m_release;
    bool m_released = false;
    TransferVerdict m_verdict = TransferVerdict::Failed;
    FirmwareEngine m_engine = FirmwareEngine::Ltx;
    std::string m_target;
    size_t m_imageSize = 0;
};

struct Message {
    QString text;
    int icon;
};

class MainWindowTest : public ::testing::Test {
  protected:
    static constexpr uint32_t kFirstConverter = Ip(198, 18, 1, 1);

    static void SetUpTestSuite() {
        s_bundle = std::make_unique<QarnPlonResourceHelper>(QARN_BUNDLE_DIR);
        ASSERT_TRUE(s_bundle->Load("ENU"));
    }
    static void TearDownTestSuite() { s_bundle.reset(); }

    void SetUp() override {
        m_services.endpoint = &m_endpoint;
        m_services.answerQueue = &m_queue;
        m_services.echo = &m_echo;
        m_services.echoWorkers = ParallelEcho::kInline;
        m_services.macLookup = [this](uint32_t address) {
            const auto found = m_neighbours.find(address);
            if (found == m_neighbours.end())
                return MacLookupResult{MacLookupStatus::NoRow, {}};
            return MacLookupResult{MacLookupStatus::Found, found->second};
        };
        m_services.firmware = &m_transfer;
        m_services.language = "ENU";
        m_services.storeLanguage = [this](const std::string& code) { m_stored = code; };
        m_services.isLanguageAvailable = [](const std::string& code) {
            return code == "DEU" || code == "ENU" || code == "RUS";
        };
        m_services.listInterfaces = [] {
            return std::vector<InterfaceChoice>{{"eth0", "192.168.1.20/24"},
                                                {"eth1", "10.1.0.4/16, 10.2.0.4/16"}};
        };
        m_services.storeInterface = [this](const std::string& name) {
            m_storedInterfaces.push_back(name);
        };
        m_services.clock = [this] { return m_now; };
        m_services.showMessage = [this](const QString& text, int icon) {
            m_messages.push_back({text, icon});
        };
        m_services.attachAnswerPump = [this](IMainDialog* dialog) { m_pumpFeeds = dialog; };
        m_window = std::make_unique<QarnTeskConverterConfigDlg>(m_services);
        ASSERT_TRUE(m_window->IsBuilt());
        ASSERT_TRUE(m_window->OnInitDialog());
        m_window->show();
        QApplication::setActiveWindow(m_window.get());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        m_endpoint.calls.clear();
    }

    void TearDown() override {
        if (m_window)
            m_window->OnDestroyWindow();
        m_window.reset();
    }

    // One converter's configuration answer from `source`, as the pump hands it over.
    AnswerDisposition Answer(uint32_t source, const std::vector<uint8_t>& datagram) {
        CMsg msg;
        msg.address = source;
        msg.data = datagram;
        const AnswerDisposition disposition = m_window->OnConverterAnswer(msg);
        // The echo of a new converter is done by now; its result is taken as timer 3 does.
        m_window->CollectEchoResults();
        return disposition;
    }
    // A complete converter at `source`, its settings `s` (the answer's address is the source).
    void Converter(uint32_t source, AnswerSettings s) {
        s.ip = source;
        ASSERT_EQ(Answer(source, ConfigurationAnswer(s)), AnswerDisposition::Applied);
    }
    static AnswerSettings Extended(uint8_t macTail, uint32_t firmware = 3010000) {
        AnswerSettings s;
        s.mac[5] = macTail;
        s.firmware = firmware;
        return s;
    }
    static AnswerSettings Standard(uint8_t macTail) {
        AnswerSettings s = Extended(macTail);
        s.marker = 0x12131416;
        s.serial = "73881200000001";
        return s;
    }

    QTableView* List() const { return m_window->ListView(); }
    DeviceListModel& Model() const { return m_window->Model(); }
    QAbstractButton* Button(unsigned id) const {
        return qobject_cast<QAbstractButton*>(m_window->Control(id));
    }
    ConfigurationEditor& Editor() const { return *m_window->Editor(); }
    QString Cell(int row, int column) const {
        return Model().data(Model().index(row, column)).toString();
    }
    QColor Colour(int row) const {
        return Model().data(Model().index(row, 0), Qt::ForegroundRole).value<QColor>();
    }
    // The row as the user finds it: by its address text.
    int RowOf(uint32_t source) const {
        for (int row = 0; row < Model().rowCount(); ++row)
            if (Cell(row, 0) == QString::fromStdString(IpToText(source)))
                return row;
        return -1;
    }
    void ClickRow(int row) {
        const QRect cell = List()->visualRect(Model().index(row, 1));
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, cell.center());
    }
    void ClickHeader(int column) {
        QHeaderView* header = List()->horizontalHeader();
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    }
    void Click(unsigned id) { QTest::mouseClick(Button(id), Qt::LeftButton); }
    QWidget* TreeViewport() const { return Editor().Tree()->GetList()->viewport(); }
    void ClickValue(COptionTreeItem* item) {
        ASSERT_NE(item, nullptr);
        QTest::mouseClick(TreeViewport(), Qt::LeftButton, {}, item->GetValueRect().center());
    }
    void Type(const QString& keys) {
        for (const QChar key : keys)
            QTest::keyClick(QApplication::focusWidget(), key.toLatin1());
    }
    void Press(Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); }
    // Lets posted calls (deferred messages, echo results) run.
    static void Settle() {
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
    }
    std::vector<QString> TakeMessages() {
        Settle();
        std::vector<QString> texts;
        for (const Message& m : m_messages)
            texts.push_back(m.text);
        m_messages.clear();
        return texts;
    }

    static inline std::unique_ptr<QarnPlonResourceHelper> s_bundle;
    FakeEndpoint m_endpoint;
    CMsgQueue m_queue;
    EchoTable m_echo;
    HeldTransfer m_transfer;
    std::map<uint32_t, MacAddress> m_neighbours;
    int64_t m_now = 1000;
    std::string m_stored;
    std::vector<std::string> m_storedInterfaces;
    std::vector<Message> m_messages;
    IMainDialog* m_pumpFeeds = nullptr;
    DialogServices m_services;
    std::unique_ptr<QarnTeskConverterConfigDlg> m_window;
};

} // namespace qarn::test
