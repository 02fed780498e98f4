// Thousands of requests of several passes each in one process: after every
// termination the provider holds no heap, and the process's heap in use does
// not creep up.
#include <gmock/gmock.h>
#include <malloc.h>

#include <cstdlib>
#include <string>

#include "heap_seam.h"
#include "hub/ds/seams.h"
#include "hub_fixture.h"
#include "reliability_support.h"

#ifndef KQV_SOAK_REQUESTS
#define KQV_SOAK_REQUESTS 2000
#endif

namespace reliability {
namespace {

constexpr int kPasses = 3;
// Requests run before the process's heap is measured: caches of the hub's
// SQL service and of the C library fill up in the first ones.
constexpr int kWarmUpRequests = 20;
// What the process's heap in use may grow by over the whole soak.
constexpr std::size_t kHeapGrowthBound = 64 * 1024;

int soakRequests() {
    if (const char* value = std::getenv("KQV_SOAK_REQUESTS")) return std::atoi(value);
    return KQV_SOAK_REQUESTS;
}

std::size_t processHeapInUse() { return mallinfo2().uordblks; }

class SoakTest : public kqvtest::HubFixture {
  protected:
    void SetUp() override {
        HubFixture::SetUp();
        useScenario(kqvtest::defaultScenarioScript());
    }
};

TEST_F(SoakTest, ThousandsOfRequestsOfSeveralPassesLeaveNoHeapBehind) {
    kqvtest::HeapSeam heap;

    std::vector<DWSysRecord> expected;
    std::size_t onePassBlocks = 0;
    {
        kqvtest::DrivenRequest request;
        expected = request.runWhole(1000, [&] { onePassBlocks = heap.outstanding(); }).rows;
        ASSERT_FALSE(expected.empty());
        ASSERT_GT(onePassBlocks, 0u);
    }

    const int requests = soakRequests();
    std::size_t heapAtStart = 0;
    int wrongPasses = 0;
    int leakingRequests = 0;
    std::string firstFailure;
    const auto fail = [&](int& counter, std::string what) {
        if (counter++ == 0 && firstFailure.empty()) firstFailure = std::move(what);
    };
    for (int r = 0; r < kWarmUpRequests + requests; ++r) {
        if (r == kWarmUpRequests) heapAtStart = processHeapInUse();
        // Lines written whatever the settings (and the hub's log) pile up there.
        capture().clear();
        kqvtest::DrivenRequest request;
        if (request.start() != 0) {
            fail(wrongPasses, "request " + std::to_string(r) + " did not start");
            continue;
        }
        for (int pass = 0; pass < kPasses; ++pass) {
            request.request().clearRows();
            const std::vector<int32_t> statuses = request.drain(expected.size() + 2);
            const std::vector<DWSysRecord> rows = request.rows();
            if (statuses.back() != kNoMoreRows || statuses.size() != expected.size() + 1 ||
                !sameRows(rows, expected)) {
                fail(wrongPasses, "request " + std::to_string(r) + " pass " + std::to_string(pass) +
                                      " ended with " + std::to_string(statuses.back()) + " after" + describe(rows));
            }
            // A new pass destroys the previous pass's tables first.
            if (heap.outstanding() != onePassBlocks) {
                fail(wrongPasses, "request " + std::to_string(r) + " pass " + std::to_string(pass) + " holds " +
                                      std::to_string(heap.outstanding()) + " heap blocks, not " +
                                      std::to_string(onePassBlocks));
            }
        }
        if (request.terminate() != 0 || heap.outstanding() != 0 ||
            heap.outstandingBytes() != 0) {
            fail(leakingRequests, "request " + std::to_string(r) + " left " +
                                      std::to_string(heap.outstandingBytes()) + " bytes in " +
                                      std::to_string(heap.outstanding()) + " blocks");
        }
    }
    const std::size_t heapAtEnd = processHeapInUse();

    EXPECT_EQ(wrongPasses, 0) << firstFailure;
    EXPECT_EQ(leakingRequests, 0) << firstFailure;
    EXPECT_GT(heap.allocations(), static_cast<uint64_t>(requests) * kPasses);
    EXPECT_EQ(heap.releases(), heap.allocations());
    EXPECT_LE(heapAtEnd, heapAtStart + kHeapGrowthBound)
        << "heap in use grew from " << heapAtStart << " to " << heapAtEnd << " bytes";
    EXPECT_EQ(hub::ds::releaseLeftovers(), 0u);
    RecordProperty("requests", requests);
    RecordProperty("passes", requests * kPasses);
    std::printf("[ soak ] %d requests of %d passes; provider heap peak %zu bytes; "
                "process heap in use %zu -> %zu bytes\n",
                requests, kPasses, heap.peakBytes(), heapAtStart, heapAtEnd);
}

}  // namespace
}  // namespace reliability
