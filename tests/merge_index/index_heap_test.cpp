// The index's heap: a failed allocation for it loses no row and changes
// nothing that can be seen, and termination and every new pass free it.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "heap_seam.h"
#include "hub_fixture.h"
#include "merge_support.h"

namespace mergetest {
namespace {

using hub::trace::Record;

struct Outcome {
    std::vector<std::string> rows;
    std::vector<Record> trace;  // every unit's
    bool indexedAtEnd = false;
};

class IndexHeapTest : public kqvtest::HubFixture {
  protected:
    // Merges `rows` into a fresh work area; allocation `failing` (counted
    // from the first after the work area is made, 0 for none) fails. What
    // the run asked the heap for goes to `sizes` when given.
    Outcome mergeDirectly(const std::vector<DWSysRecord>& rows, uint64_t failing,
                          std::vector<std::size_t>* sizes = nullptr) {
        capture().clear();
        kqvtest::HeapSeam heap;
        Outcome outcome;
        {
            MergeArea area;
            heap.failAllocation(failing);
            std::optional<AllocationRecorder> recorder;
            if (sizes != nullptr) recorder.emplace();
            area.merge(rows);
            if (sizes != nullptr) *sizes = recorder->sizes();
            outcome.rows = area.rows();
            outcome.indexedAtEnd = area.work().index.slots != nullptr;
        }
        outcome.trace = comparableTrace(capture());
        EXPECT_EQ(heap.failedAllocations(), failing == 0 ? 0u : 1u);
        EXPECT_EQ(heap.outstanding(), 0u) << "blocks left after the tables were destroyed";
        return outcome;
    }
};

// A failed allocation of the index's slots loses no row and writes nothing:
// every line is what the linear walk writes.
TEST_F(IndexHeapTest, AFailedIndexAllocationLosesNoRowAndChangesNoTrace) {
    const std::vector<DWSysRecord> rows = randomRows({"", 21, 500, 300, true});
    for (const TraceSetting& setting : equivalenceSettings()) {
        SCOPED_TRACE(setting.name);
        setting.apply();
        Outcome linear;
        {
            const IndexThreshold scope(kNeverIndex);
            linear = mergeDirectly(rows, 0);
        }
        ASSERT_TRUE(linear.rows == expectedMerge(rows));

        for (const int32_t threshold : {1, 64}) {
            const IndexThreshold scope(threshold);
            std::vector<std::size_t> sizes;
            mergeDirectly(rows, 0, &sizes);
            const auto slots = numbersOf(classify(sizes), Allocation::IndexSlots);
            ASSERT_GE(slots.size(), 2u) << "the index must be built and grown";

            for (const uint64_t failing : slots) {
                SCOPED_TRACE("threshold " + std::to_string(threshold) + ", allocation " + std::to_string(failing) +
                             " fails");
                const Outcome failed = mergeDirectly(rows, failing);
                EXPECT_SAME_SEQUENCE(linear.rows, failed.rows, "rows");
                EXPECT_SAME_SEQUENCE(linear.trace, failed.trace, "trace records");
                // A failure when the index is first built must not leave the
                // rest of the pass to the linear walk.
                if (failing == slots.front()) {
                    EXPECT_TRUE(failed.indexedAtEnd) << "the index is built again once the results table has grown";
                }
            }
        }
    }
}

// When the results table cannot grow, the row is lost with the index as
// without it: the same rows, and the same trace.
TEST_F(IndexHeapTest, ALostRowIsLostAlikeWithAndWithoutTheIndex) {
    const std::vector<DWSysRecord> rows = randomRows({"", 22, 400, 200, false});
    traceAll(kTraceAll);
    struct Mode {
        int32_t threshold;
        std::vector<uint64_t> resultsBlocks;
    };
    std::vector<Mode> modes = {{kNeverIndex, {}}, {1, {}}, {64, {}}};
    for (Mode& mode : modes) {
        const IndexThreshold scope(mode.threshold);
        std::vector<std::size_t> sizes;
        mergeDirectly(rows, 0, &sizes);
        mode.resultsBlocks = numbersOf(classify(sizes), Allocation::ResultsBlock);
        ASSERT_EQ(mode.resultsBlocks.size(), modes.front().resultsBlocks.size());
    }
    for (const std::size_t block : {std::size_t{1}, std::size_t{6}, std::size_t{15}}) {
        SCOPED_TRACE("results block " + std::to_string(block + 1) + " fails");
        const IndexThreshold never(kNeverIndex);
        const Outcome linear = mergeDirectly(rows, modes.front().resultsBlocks.at(block));
        EXPECT_FALSE(linear.rows == expectedMerge(rows)) << "a row must be lost";
        for (const Mode& mode : modes) {
            const IndexThreshold scope(mode.threshold);
            const Outcome indexed = mergeDirectly(rows, mode.resultsBlocks.at(block));
            SCOPED_TRACE("threshold " + std::to_string(mode.threshold));
            EXPECT_SAME_SEQUENCE(linear.rows, indexed.rows, "rows");
            EXPECT_SAME_SEQUENCE(linear.trace, indexed.trace, "trace records");
        }
    }
}

// So many identities that the index's size in bytes would not fit 32 bits:
// the merge goes on with the walk and asks the heap for nothing.
TEST_F(IndexHeapTest, AnIndexTooLargeToAddressIsNotAskedFor) {
    const std::vector<DWSysRecord> rows = randomRows({"", 41, 10, 1000, false});
    kqvtest::HeapSeam heap;
    {
        MergeArea area;
        {
            const IndexThreshold never(kNeverIndex);
            area.merge({rows.front()});
        }
        const IndexThreshold scope(1);
        // Rows of the first results block need no allocation; any other fails.
        const uint64_t before = heap.allocations();
        heap.failAll();
        area.work().index.identities = INT32_MAX / 4;
        area.merge({rows.begin() + 1, rows.end()});
        heap.failAll(false);
        EXPECT_EQ(heap.allocations(), before) << "an index beyond the size guard was asked for";
        EXPECT_EQ(area.work().index.slots, nullptr);
        EXPECT_SAME_SEQUENCE(expectedMerge(rows), area.rows(), "rows");
    }
    EXPECT_EQ(heap.outstanding(), 0u);
}

class IndexHeapQueryTest : public IndexHeapTest {
  protected:
    void SetUp() override {
        IndexHeapTest::SetUp();
        const std::vector<DWSysRecord> rows = randomRows({"", 31, 400, 200, true});
        const std::vector<std::vector<DWSysRecord>> agentRows = {{rows.begin(), rows.begin() + 200},
                                                                 {rows.begin() + 200, rows.end()}};
        useScenario(hubScript(agentRows));
        expected_ = expectedMerge(arrivalOrder(agentRows));
    }

    std::vector<std::string> expected_;
};

TEST_F(IndexHeapQueryTest, AFailedIndexAllocationInAQueryLosesNoRow) {
    std::vector<std::size_t> sizes;
    {
        kqvtest::HeapSeam heap;
        AllocationRecorder recorder;
        kqvtest::DrivenRequest request;
        ASSERT_EQ(request.start(), 0);
        ASSERT_TRUE(passBytes(request) == expected_);
        sizes = recorder.sizes();
    }
    const std::vector<uint64_t> failing = numbersOf(classify(sizes), Allocation::IndexSlots);
    ASSERT_GE(failing.size(), 2u) << "the index must be built and grown";

    for (const uint64_t number : failing) {
        SCOPED_TRACE("allocation " + std::to_string(number) + " fails");
        kqvtest::HeapSeam heap;
        heap.failAllocation(number);
        {
            kqvtest::DrivenRequest request;
            ASSERT_EQ(request.start(), 0);
            EXPECT_SAME_SEQUENCE(expected_, passBytes(request), "rows");
            EXPECT_EQ(request.terminate(), 0);
        }
        EXPECT_EQ(heap.failedAllocations(), 1u);
        EXPECT_EQ(heap.outstanding(), 0u);
    }
}

TEST_F(IndexHeapQueryTest, TerminationAndEveryNewPassFreeTheIndex) {
    for (const int32_t threshold : {1, 64}) {
        SCOPED_TRACE("index built at " + std::to_string(threshold) + " identities");
        const IndexThreshold scope(threshold);
        kqvtest::HeapSeam heap;
        {
            kqvtest::DrivenRequest request;
            ASSERT_EQ(request.start(), 0);
            EXPECT_SAME_SEQUENCE(expected_, passBytes(request), "rows of pass 1");
            ASSERT_NE(request.work().index.slots, nullptr);
            const std::size_t blocks = heap.outstanding();
            const std::size_t bytes = heap.outstandingBytes();
            for (int pass = 2; pass <= 4; ++pass) {
                EXPECT_SAME_SEQUENCE(expected_, passBytes(request), "rows of pass " << pass);
                EXPECT_EQ(heap.outstanding(), blocks) << "pass " << pass;
                EXPECT_EQ(heap.outstandingBytes(), bytes) << "pass " << pass;
            }
            EXPECT_EQ(request.terminate(), 0);
            EXPECT_EQ(heap.outstanding(), 0u);
            const DWSysIdentityIndex& index = request.work().index;
            EXPECT_EQ(index.slots, nullptr);
            EXPECT_EQ(index.capacity, 0);
            EXPECT_EQ(index.identities, 0);
        }

        // Ended in the middle of handing back the rows.
        {
            kqvtest::DrivenRequest request;
            ASSERT_EQ(request.start(), 0);
            for (int call = 0; call < 3; ++call) EXPECT_EQ(request.process(), 0);
            EXPECT_EQ(request.terminate(), 0);
        }
        EXPECT_EQ(heap.outstanding(), 0u);
    }
}

}  // namespace
}  // namespace mergetest
