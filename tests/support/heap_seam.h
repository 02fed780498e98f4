// Control of the provider's heap in test builds (TEST_SEAMS): count what the
// result tables allocate and free, and make chosen allocations fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>

namespace kqvtest {

class HeapSeam {
  public:
    HeapSeam();   // installs the counting hooks
    ~HeapSeam();  // puts malloc and free back
    HeapSeam(const HeapSeam&) = delete;
    HeapSeam& operator=(const HeapSeam&) = delete;

    // Allocation number `n` from now on (counted from 1) returns null; 0 makes none fail.
    void failAllocation(uint64_t n);
    // Every allocation from now on returns null (or none, with false).
    void failAll(bool fail = true);

    uint64_t allocations() const;          // attempted, failed ones included
    uint64_t failedAllocations() const;
    std::size_t outstanding() const;       // allocated and not yet freed
    std::size_t outstandingBytes() const;
    std::size_t peakBytes() const;
    uint64_t releases() const;
};

}  // namespace kqvtest
