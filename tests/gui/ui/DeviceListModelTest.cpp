// The Qt model over the device list: it keeps Qt's model contract (checked by Qt's own model
// tester) through everything the list does, keeps persistent indexes (a view's selection) on
// their converter, and announces the changed texts of a batch once.

#include "ui/DeviceListModel.h"

#include "unit/protocol/ConverterDatagrams.h"

#include <memory>
#include <random>
#include <set>
#include <vector>

#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace qarn::test {
namespace {

class DeviceListModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_model.SetHeadings({"IP", "MAC", "Serial", "Firmware"});
        m_tester = std::make_unique<QAbstractItemModelTester>(
            &m_model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    }

    // The configuration answer of converter `n` (198.18.x.y from n), extended, complete.
    void Answer(uint32_t n, uint32_t firmware = 3010000) {
        AnswerSettings s;
        s.ip = Source(n);
        s.mac = {0x02, 0x51, 0, 0, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
        s.firmware = firmware;
        m_list.OnConverterAnswer(Source(n), ConfigurationAnswer(s));
    }
    static uint32_t Source(uint32_t n) { return Ip(198, 18, 1 + n / 250, 1 + n % 250); }
    uint32_t SourceAt(int row) const { return m_model.RecordAt(row)->dwSourceIp; }

    EchoTable m_echo;
    int64_t m_now = 100;
    DeviceList m_list{m_echo, [this] { return m_now; }, ParallelEcho::kInline};
    DeviceListModel m_model{m_list};
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

TEST_F(DeviceListModelTest, KeepsTheModelContractThroughEverythingTheListDoes) {
    std::vector<uint32_t> order(300);
    for (uint32_t n = 0; n < order.size(); ++n)
        order[n] = n;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (size_t i = 0; i < order.size(); i += 37) {
        m_model.BeginBatch();
        for (size_t k = i; k < std::min(order.size(), i + 37); ++k)
            Answer(order[k], 2000000 + order[k] % 7);
        m_model.EndBatch();
    }
    ASSERT_EQ(m_model.rowCount(), 300);
    for (int row = 1; row < m_model.rowCount(); ++row)
        EXPECT_LT(DeviceList::Compare(m_model.RecordAt(row - 1), m_model.RecordAt(row), 0, true),
                  1);

    m_list.HeaderClick(DeviceList::kColumnVersion);
    m_list.HeaderClick(DeviceList::kColumnVersion);
    // Half of them answer again, the rest ages out; a converter moves to an unused address.
    m_now += 15;
    for (uint32_t n = 0; n < 300; n += 2)
        Answer(n);
    m_now += 10;
    m_model.BeginBatch();
    m_list.RemoveStaleEntries();
    m_model.EndBatch();
    EXPECT_EQ(m_model.rowCount(), 150);
    AnswerSettings moved;
    moved.mac = {0x02, 0x51, 0, 0, 0, 4};
    moved.ip = Ip(198, 18, 9, 9);
    m_list.OnConverterAnswer(moved.ip, ConfigurationAnswer(moved));
    EXPECT_EQ(m_model.rowCount(), 150) << "its old row went by the MAC rule";
    m_list.Clear();
    EXPECT_EQ(m_model.rowCount(), 0);
}

TEST_F(DeviceListModelTest, APersistentIndexStaysOnItsConverterWhenRowsSortInBefore) {
    for (uint32_t n : {10u, 20u, 30u})
        Answer(n);
    const QPersistentModelIndex selected(m_model.index(1, 2));
    ASSERT_EQ(SourceAt(selected.row()), Source(20));
    m_model.BeginBatch();
    for (uint32_t n : {1u, 2u, 3u, 15u})
        Answer(n);
    m_model.EndBatch();
    ASSERT_TRUE(selected.isValid());
    EXPECT_EQ(SourceAt(selected.row()), Source(20));
    EXPECT_EQ(selected.column(), 2);

    m_list.HeaderClick(DeviceList::kColumnAddress); // descending
    EXPECT_EQ(SourceAt(selected.row()), Source(20));
    EXPECT_EQ(selected.row(), 1);
}

TEST_F(DeviceListModelTest, ABatchAnnouncesItsChangedRowsOnceAndRedRowsAreRed) {
    for (uint32_t n = 0; n < 20; ++n)
        Answer(n);
    QSignalSpy changed(&m_model, &QAbstractItemModel::dataChanged);
    QSignalSpy listChanged(&m_model, &DeviceListModel::ListChanged);
    m_model.BeginBatch();
    for (uint32_t n = 0; n < 20; ++n)
        Answer(n);
    EXPECT_EQ(changed.count(), 0) << "nothing before the batch ends";
    m_model.EndBatch();
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex(), m_model.index(0, 0));
    EXPECT_EQ(changed[0][1].toModelIndex(), m_model.index(19, 3));
    EXPECT_EQ(listChanged.count(), 1);
    // Every row whose texts changed is named for the column sizing.
    const std::vector<uint32_t> sources = m_model.TakeChangedSources();
    EXPECT_EQ(std::set<uint32_t>(sources.begin(), sources.end()).size(), 20u);

    m_echo.silent = {Source(99)};
    Answer(99);
    m_list.CollectEchoResults();
    const auto colour = [&](uint32_t n) {
        const int row = static_cast<int>(*m_list.FindRowBySource(Source(n)));
        return m_model.data(m_model.index(row, 3), Qt::ForegroundRole).value<QColor>();
    };
    EXPECT_EQ(colour(99), DeviceListModel::kRedText);
    EXPECT_EQ(colour(5), DeviceListModel::kBlackText);
    EXPECT_EQ(m_model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("MAC"));
}

} // namespace
} // namespace qarn::test
