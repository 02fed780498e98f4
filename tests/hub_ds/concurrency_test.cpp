// Many requests at once, as providers run them on many threads.
#include <gmock/gmock.h>

#include <atomic>
#include <set>
#include <thread>

#include "ds_test_support.h"

namespace dstest {
namespace {

using hub::ds::ObjectKind;

class ConcurrencyTest : public DataServerTest {
  protected:
    static constexpr int kThreads = 6;

    template <typename Work>
    static void onThreads(Work work) {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
        for (auto& thread : threads) thread.join();
    }
};

TEST_F(ConcurrencyTest, StatementsOnManyThreadsEachSeeTheirOwnRows) {
    struct Expected {
        std::string statement;
        std::size_t rows;
    };
    const std::vector<Expected> statements{
        {"SELECT DW_NAME FROM KQV.QVALCSYS AT('SYS1:KQV')", 2},
        {"SELECT DW_NAME FROM KQV.QVALCSYS AT('SYS2:KQV')", 1},
        {"SELECT DW_NAME FROM KQV.QVALCSYS AT('O''BRIEN:KQV')", 1},
        {"SELECT NODE FROM Y6SRV.INODESTS WHERE NODE LIKE 'RTEMS*'", 2},
        {"SELECT DW_NAME FROM KQV.QVALCSYS", 10},
    };
    hub::ds::startRecording();
    std::atomic<int> failures{0};
    std::atomic<uint64_t> calls{0};
    onThreads([&](int thread) {
        for (int i = 0; i < 40; ++i) {
            const Expected& expected = statements[static_cast<std::size_t>(thread + i) % statements.size()];
            const QueryResult result = runQuery(expected.statement);
            // sql1cpli, sql1cpth, plan, request, 2 SQLDAs, open, fetches, close, 3 drops
            calls += 11 + result.rows.size() + 1;
            if (result.status != st::kEndOfData || result.rows.size() != expected.rows) ++failures;
        }
    });
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(hub::ds::liveObjects(), 0u);

    const auto records = hub::ds::recordedCalls();
    EXPECT_EQ(records.size(), calls.load());
    std::set<uint64_t> indexes;
    for (const auto& record : records) indexes.insert(record.index);
    EXPECT_EQ(indexes.size(), records.size()) << "every call has its own number";
    EXPECT_EQ(*indexes.rbegin(), records.size());
}

TEST_F(ConcurrencyTest, LongResultsInterleave) {
    use(schemaScript() + R"sql(
INSERT INTO HUB.AGENTS (NODE) VALUES ('BIG:KQV');
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000)
INSERT INTO KQV.QVALCSYS (AGENT, ORIGINNODE, DW_NAME, CONNHVTCT) SELECT 'BIG:KQV', 'BIG:KQV', 'DW', i FROM n;
)sql");
    std::atomic<int> failures{0};
    onThreads([&](int) {
        Query query("SELECT CONNHVTCT FROM KQV.QVALCSYS AT('BIG:KQV') ORDER BY CONNHVTCT");
        if (query.prepare() != st::kOk || query.open() != st::kOk) {
            ++failures;
            return;
        }
        int32_t next = 1;
        int32_t status;
        while ((status = query.fetch()) == st::kOk) {
            if (intOf(query.row()[0]) != next++) ++failures;
        }
        if (status != st::kEndOfData || next != 5001) ++failures;
    });
    EXPECT_EQ(failures.load(), 0);
}

TEST_F(ConcurrencyTest, RequestsOnManyThreadsKeepTheirOwnRowsAndStorage) {
    std::vector<hub::ds::Request> requests;
    for (int t = 0; t < kThreads; ++t) {
        requests.emplace_back("KQVDWSYS", std::vector<hub::ds::Filter>{{1, "ORIGINNODE", std::to_string(t)}});
    }
    onThreads([&](int thread) {
        hub::ds::Request& request = requests[static_cast<std::size_t>(thread)];
        for (int i = 0; i < 200; ++i) {
            void* out = nullptr;
            op::getItem(request.handle(), ::ds::kItemIndexFilter, &out);
            op::getItem(request.handle(), ::ds::kItemIndexFilter, &out);
            op::getViewStorage(request.viewStorageHandle(), 64, &out);
            DWSysRecord row{};
            row.STATUS = thread;
            row.DWLEVEL = i;
            op::putItem(request.handle(), ::ds::kItemRow, &row);
        }
    });
    for (int t = 0; t < kThreads; ++t) {
        const auto& request = requests[static_cast<std::size_t>(t)];
        ASSERT_EQ(request.rows().size(), 200u);
        EXPECT_EQ(request.viewStorage().size(), 200u);
        for (int i = 0; i < 200; ++i) {
            EXPECT_EQ(request.rows()[static_cast<std::size_t>(i)].as<DWSysRecord>().STATUS, t);
            EXPECT_EQ(request.rows()[static_cast<std::size_t>(i)].as<DWSysRecord>().DWLEVEL, i);
        }
    }
    EXPECT_EQ(hub::ds::liveObjects(ObjectKind::Request), static_cast<std::size_t>(kThreads));
}

}  // namespace
}  // namespace dstest
