// Many requests at once on many threads, each with its own work area, against
// one scenario, while the trace settings keep changing underneath: every
// request gets exactly the rows it gets when it runs alone.
#include <gmock/gmock.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "hub/ds/scenario.h"
#include "hub/ds/seams.h"
#include "hub/trace.h"
#include "hub_fixture.h"
#include "provider_library.h"
#include "reliability_support.h"

#ifndef KQV_PROVIDER_PATH
#error "KQV_PROVIDER_PATH must name the deliverable to load"
#endif
#ifndef KQV_CONCURRENT_REQUESTS
#define KQV_CONCURRENT_REQUESTS 50
#endif

namespace reliability {
namespace {

constexpr int kThreads = 8;

int requestsPerThread() {
    if (const char* value = std::getenv("KQV_CONCURRENT_REQUESTS")) return std::atoi(value);
    return KQV_CONCURRENT_REQUESTS;
}

// The queries that the threads take turns at: without a filter, and narrowed
// to each varnex, so that requests running side by side want different rows.
std::vector<std::vector<hub::ds::Filter>> queryFilters() {
    std::vector<std::vector<hub::ds::Filter>> queries{{}};
    for (const char* varnex : {"PLX1", "PLX2", "PLX3"}) {
        queries.push_back({hub::ds::Filter{1, "ORIGINNODE", std::string(varnex) + ":vRK:HarborStatusPanel"}});
    }
    return queries;
}

class ConcurrencyTest : public kqvtest::HubFixture {
  protected:
    void SetUp() override {
        HubFixture::SetUp();
        useScenario(kqvtest::defaultScenarioScript());
        hub::trace::writeToNothing();  // lines are still formatted, then dropped
    }
    void TearDown() override {
        hub::trace::writeToStderr();
        HubFixture::TearDown();
    }
};

TEST_F(ConcurrencyTest, EveryRequestGetsItsOwnRowsWhileTraceSettingsChange) {
    host::ProviderLibrary library(KQV_PROVIDER_PATH);
    const PRB1_VectorRecord& entries = library.table("KQVDWSYS");
    const auto queries = queryFilters();

    std::vector<kqvtest::WholeRun> alone;
    for (const auto& filters : queries) {
        kqvtest::DrivenRequest request(entries, filters);
        alone.push_back(request.runWhole());
        ASSERT_EQ(alone.back().start, 0);
        ASSERT_EQ(alone.back().termination, 0);
        ASSERT_FALSE(alone.back().rows.empty());
    }
    for (std::size_t q = 1; q < alone.size(); ++q) {
        ASSERT_FALSE(sameRows(alone[q].rows, alone[0].rows)) << "the filters must narrow the rows";
    }
    capture().clear();

    std::atomic<bool> done{false};
    std::atomic<uint64_t> settingChanges{0};
    std::thread changer([&] {
        const int32_t settings[] = {kTraceAll, kTraceError, kTraceDetail | kTraceFlow, 0};
        for (std::size_t n = 0; !done.load(); ++n) {
            hub::trace::setClasses("", "", settings[n % 4]);
            hub::trace::setClasses("kqvmsql", "", settings[(n + 1) % 4]);
            hub::trace::setClasses("kqvdwsys", "collectQVStatusdata", settings[(n + 2) % 4]);
            if (n % 5 == 4) hub::trace::clearSettings();
            settingChanges += 3;
            std::this_thread::yield();
        }
    });

    const int perThread = requestsPerThread();
    std::atomic<int> wrong{0};
    std::vector<std::string> firstFailure(kThreads);
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                const std::size_t q = static_cast<std::size_t>(t + i) % queries.size();
                kqvtest::DrivenRequest request(entries, queries[q]);
                const kqvtest::WholeRun run = request.runWhole();
                const bool right = run.start == 0 && run.termination == 0 &&
                                   run.processing == alone[q].processing &&
                                   sameRows(run.rows, alone[q].rows);
                if (!right && wrong++ == 0) {
                    firstFailure[static_cast<std::size_t>(t)] =
                        "thread " + std::to_string(t) + " request " + std::to_string(i) + " (query " +
                        std::to_string(q) + ") got" + describe(run.rows);
                }
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    done = true;
    changer.join();

    std::string failures;
    for (const std::string& failure : firstFailure) failures += failure;
    EXPECT_EQ(wrong.load(), 0) << failures;
    EXPECT_GT(settingChanges.load(), 0u);
    EXPECT_EQ(hub::ds::liveObjects(hub::ds::ObjectKind::Path) + hub::ds::liveObjects(hub::ds::ObjectKind::AccessPlan) +
                  hub::ds::liveObjects(hub::ds::ObjectKind::SqlRequest) +
                  hub::ds::liveObjects(hub::ds::ObjectKind::Output),
              0u);
    RecordProperty("requests", kThreads * perThread);
    RecordProperty("trace_setting_changes", static_cast<int>(settingChanges.load()));
    std::printf("[ concurrency ] %d threads x %d requests, %llu trace setting changes\n", kThreads, perThread,
                static_cast<unsigned long long>(settingChanges.load()));
}

}  // namespace
}  // namespace reliability
