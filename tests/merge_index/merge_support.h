// What the merge-index tests share: random rows with many identities and
// duplicates, the merge they must give, a work area for calling the
// summarisation directly, whole queries on a generated hub, and a record of
// the provider's heap requests to pick the index's allocations from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hub/ds/request.h"
#include "hub/trace.h"
#include "provider/kqvdwsys.h"
#include "driven_request.h"
#include "work_area.h"

#ifndef KQV_TEST_KEEPS_HIGHEST_STATUS
#error "KQV_TEST_KEEPS_HIGHEST_STATUS must say which STATUS rule the linked provider follows"
#endif

namespace mergetest {

// Duplicates keep the highest STATUS (the Windows rule) rather than the first.
inline constexpr bool kKeepsHighestStatus = KQV_TEST_KEEPS_HIGHEST_STATUS != 0;

// Threshold at which the provider never builds the index: the linear walk.
inline constexpr int32_t kNeverIndex = INT32_MAX;

// Sets the identities at which the test build indexes the results table, for
// its lifetime.
class IndexThreshold {
  public:
    explicit IndexThreshold(int32_t identities);
    ~IndexThreshold();
    IndexThreshold(const IndexThreshold&) = delete;
    IndexThreshold& operator=(const IndexThreshold&) = delete;

  private:
    int32_t saved_;
};

// All 108 bytes of a row.
std::string bytesOf(const DWSysRecord& record);

// Random rows drawn from a pool of identities.
struct RowMix {
    const char* name;
    uint32_t seed;
    int rows;
    int identities;  // size of the pool the rows are drawn from
    // Pool identities that differ only in the bytes after the name: blanks
    // against zero bytes, and a byte after zero bytes.
    bool nameVariants;
};
std::vector<DWSysRecord> randomRows(const RowMix& mix);
inline void PrintTo(const RowMix& mix, std::ostream* out) { *out << mix.name; }

// What merging `rows` in order must give: one row per identity, newest
// identity first, each with its first row's bytes and the STATUS of the
// build's rule.
std::vector<std::string> expectedMerge(const std::vector<DWSysRecord>& rows);

// A work area as a gathering call leaves it for the collection: zeroed (the
// index fields too), filters reset, an empty results table.
class MergeArea : public kqvtest::WorkArea {
  public:
    void merge(const std::vector<DWSysRecord>& rows);
    // The results list walked from First.
    std::vector<std::string> rows() const;
};

// A hub of one origin node whose agents report the given rows (each agent's
// in order), every character field delivered as its exact bytes.
std::string hubScript(const std::vector<std::vector<DWSysRecord>>& agentRows);

// The rows of such a hub in the order the collection meets them (the real
// node list is walked newest first, so the last agent comes first), with
// ORIGINNODE as the collection sets it without a filter.
std::vector<DWSysRecord> arrivalOrder(const std::vector<std::vector<DWSysRecord>>& agentRows);

// The bytes of the rows of one pass of a started request (see
// kqvtest::DrivenRequest::pass).
std::vector<std::string> passBytes(kqvtest::DrivenRequest& request);

// Sizes of the heap requests of the provider's result tables, in order,
// passed on to the hooks installed before it (those of a HeapSeam, which
// must outlive it).
class AllocationRecorder {
  public:
    AllocationRecorder();
    ~AllocationRecorder();
    AllocationRecorder(const AllocationRecorder&) = delete;
    AllocationRecorder& operator=(const AllocationRecorder&) = delete;

    const std::vector<std::size_t>& sizes() const;
};

// Which allocation of a recorded run (counted from 1) served what.
enum class Allocation { IndexSlots, ResultsBlock, Other };
struct NumberedAllocation {
    uint64_t number;
    Allocation kind;
};
// The index asks for its slots in sizes that no table of the request uses;
// the results table for blocks of ten elements.
std::vector<NumberedAllocation> classify(const std::vector<std::size_t>& sizes);
std::vector<uint64_t> numbersOf(const std::vector<NumberedAllocation>& allocations, Allocation kind);

// Every record of the capture, each address that a line prints replaced by
// its ordinal of first appearance ("#3"): runs whose heaps differ (the index
// takes its slots from the provider's heap) compare line for line.
std::vector<hub::trace::Record> comparableTrace(const hub::trace::Capture& capture);

// Trace settings the equivalence is shown under: everything on; detail and
// flow on kqvmutl only; errors only.
struct TraceSetting {
    const char* name;
    void (*apply)();
};
const std::vector<TraceSetting>& equivalenceSettings();

// Where two sequences first differ, for a failure message that does not
// print hundreds of rows.
template <typename T>
std::string firstDifference(const std::vector<T>& expected, const std::vector<T>& actual) {
    for (std::size_t i = 0; i < expected.size() && i < actual.size(); ++i) {
        if (!(expected[i] == actual[i])) {
            return "at " + std::to_string(i) + ": expected " + ::testing::PrintToString(expected[i]) + ",\n got " +
                   ::testing::PrintToString(actual[i]);
        }
    }
    if (expected.size() != actual.size()) {
        return "lengths differ: expected " + std::to_string(expected.size()) + ", got " + std::to_string(actual.size());
    }
    return "nowhere";
}

}  // namespace mergetest

#define EXPECT_SAME_SEQUENCE(expected, actual, what) \
    EXPECT_TRUE((expected) == (actual)) << what << " differ " << ::mergetest::firstDifference(expected, actual)
