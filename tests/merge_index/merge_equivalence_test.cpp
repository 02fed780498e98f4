// The identity index changes nothing that can be seen: on the same rows, the
// merge with the index built at 1, 2 or 64 identities gives the rows, their
// order, the STATUS kept and the trace of the linear walk, every line of
// every unit, byte for byte but for the addresses of the provider's heap.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hub_fixture.h"
#include "merge_support.h"

namespace mergetest {
namespace {

using hub::trace::Record;

constexpr int32_t kIndexedThresholds[] = {1, 2, 64};

struct Outcome {
    std::vector<std::string> rows;
    std::vector<Record> trace;
    bool indexed = false;
};

class MergeEquivalenceTest : public kqvtest::HubFixture, public ::testing::WithParamInterface<RowMix> {
  protected:
    Outcome mergeDirectly(const std::vector<DWSysRecord>& rows, int32_t threshold) {
        const IndexThreshold scope(threshold);
        capture().clear();
        Outcome outcome;
        {
            MergeArea area;
            area.merge(rows);
            outcome.rows = area.rows();
            outcome.indexed = area.work().index.slots != nullptr;
        }
        outcome.trace = comparableTrace(capture());
        return outcome;
    }
};

TEST_P(MergeEquivalenceTest, IndexedMergeGivesTheLinearWalksRowsOrderAndTrace) {
    const std::vector<DWSysRecord> rows = randomRows(GetParam());
    const std::vector<std::string> expected = expectedMerge(rows);
    for (const TraceSetting& setting : equivalenceSettings()) {
        SCOPED_TRACE(setting.name);
        setting.apply();
        const Outcome linear = mergeDirectly(rows, kNeverIndex);
        EXPECT_SAME_SEQUENCE(expected, linear.rows, "rows of the linear walk");
        EXPECT_FALSE(linear.indexed);

        for (const int32_t threshold : kIndexedThresholds) {
            SCOPED_TRACE("index built at " + std::to_string(threshold) + " identities");
            const Outcome indexed = mergeDirectly(rows, threshold);
            EXPECT_SAME_SEQUENCE(linear.rows, indexed.rows, "rows");
            EXPECT_SAME_SEQUENCE(linear.trace, indexed.trace, "trace records");
            EXPECT_EQ(indexed.indexed, expected.size() >= static_cast<std::size_t>(threshold))
                << expected.size() << " identities";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    RandomRows, MergeEquivalenceTest,
    ::testing::Values(RowMix{"ManyIdentitiesFewDuplicates", 1, 900, 1000, false},
                      RowMix{"FewIdentitiesManyDuplicates", 2, 800, 90, false},
                      RowMix{"NamesDifferingOnlyAfterTheName", 3, 700, 400, true},
                      RowMix{"OneShortOfTheDefaultThreshold", 4, 400, 63, true},
                      RowMix{"JustTheDefaultThreshold", 5, 400, 64, false},
                      RowMix{"OnePastTheDefaultThreshold", 6, 400, 65, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Tables large enough for the index to grow many times, the identities
// arriving in order, in reverse, in runs each below the one before (as
// agents' rows arrive when each reports a range), and at random: every
// arrival order the index must merge as the model does.
class DeepIndexTest : public kqvtest::HubFixture {};

TEST_F(DeepIndexTest, EveryArrivalOrderMergesAsTheModel) {
    constexpr int kIdentities = 40000;
    const auto identity = [](int n) {
        DWSysRecord record{};
        char name[32];
        std::snprintf(name, sizeof name, "D%07d V%03d    ", n / 1000, n % 1000);
        std::memcpy(record.DW_NAME, name, sizeof record.DW_NAME);
        std::memcpy(record.VARNNAME, name + 9, sizeof record.VARNNAME);
        record.STATUS = n % 7;
        return record;
    };
    struct Order {
        const char* name;
        int (*nth)(int);  // the identity of the nth row
    };
    const Order orders[] = {
        {"ascending", [](int n) { return n % kIdentities; }},
        {"descending", [](int n) { return kIdentities - 1 - n % kIdentities; }},
        {"runs from the top down", [](int n) { return (9 - n / 4000 % 10) * 4000 + n % 4000; }},
        {"random", [](int n) { return static_cast<int>((n * 2654435761u) % kIdentities); }},
    };
    traceAll(kTraceError);
    for (const Order& order : orders) {
        SCOPED_TRACE(order.name);
        std::vector<DWSysRecord> rows;
        for (int n = 0; n < 2 * kIdentities; ++n) rows.push_back(identity(order.nth(n)));
        MergeArea area;
        area.merge(rows);
        EXPECT_NE(area.work().index.slots, nullptr);
        EXPECT_SAME_SEQUENCE(expectedMerge(rows), area.rows(), "rows");
    }
}

// Whole queries through the request entries: three agents report
// overlapping rows of more identities than the default threshold. Every
// record of every unit, events included, from the request's start to its
// end.
class WholeQueryEquivalenceTest : public kqvtest::HubFixture {};

TEST_F(WholeQueryEquivalenceTest, IndexedQueriesHandBackTheLinearWalksRowsAndTrace) {
    const std::vector<DWSysRecord> rows = randomRows({"", 11, 450, 240, true});
    const std::vector<std::vector<DWSysRecord>> agentRows = {
        {rows.begin(), rows.begin() + 150}, {rows.begin() + 150, rows.begin() + 300}, {rows.begin() + 300, rows.end()}};
    useScenario(hubScript(agentRows));
    const std::vector<std::string> expected = expectedMerge(arrivalOrder(agentRows));
    ASSERT_GT(expected.size(), 64u) << "the hub must have more identities than the default threshold";

    const auto query = [&](int32_t threshold) {
        const IndexThreshold scope(threshold);
        capture().clear();
        Outcome outcome;
        {
            kqvtest::DrivenRequest request;
            EXPECT_EQ(request.start(), 0);
            outcome.rows = passBytes(request);
            outcome.indexed = request.work().index.slots != nullptr;
            EXPECT_EQ(request.terminate(), 0);
        }
        outcome.trace = comparableTrace(capture());
        return outcome;
    };

    for (const TraceSetting& setting : equivalenceSettings()) {
        SCOPED_TRACE(setting.name);
        setting.apply();
        const Outcome linear = query(kNeverIndex);
        EXPECT_SAME_SEQUENCE(expected, linear.rows, "rows of the linear walk");
        for (const int32_t threshold : kIndexedThresholds) {
            SCOPED_TRACE("index built at " + std::to_string(threshold) + " identities");
            const Outcome indexed = query(threshold);
            EXPECT_TRUE(indexed.indexed);
            EXPECT_SAME_SEQUENCE(linear.rows, indexed.rows, "rows");
            EXPECT_SAME_SEQUENCE(linear.trace, indexed.trace, "trace records");
        }
    }
}

}  // namespace
}  // namespace mergetest
