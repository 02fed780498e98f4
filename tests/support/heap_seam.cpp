#include "heap_seam.h"

#include <cstdlib>
#include <map>
#include <mutex>

// Exported by provider builds made with TEST_SEAMS.
extern "C" {
extern void* (*kqvHeapAllocate)(size_t);
extern void (*kqvHeapRelease)(void*);
}

namespace kqvtest {

namespace {

struct HeapState {
    std::mutex mutex;
    uint64_t allocations = 0;
    uint64_t failed = 0;
    uint64_t releases = 0;
    uint64_t failAt = 0;  // allocation number that fails; 0 for none
    bool failAll = false;
    std::map<void*, std::size_t> blocks;
    std::size_t bytes = 0;
    std::size_t peak = 0;
};

HeapState& state() {
    static HeapState heap;
    return heap;
}

void* countingAllocate(size_t size) {
    HeapState& heap = state();
    std::lock_guard lock(heap.mutex);
    ++heap.allocations;
    if (heap.failAll || heap.allocations == heap.failAt) {
        ++heap.failed;
        return nullptr;
    }
    void* block = std::malloc(size);
    if (block != nullptr) {
        heap.blocks[block] = size;
        heap.bytes += size;
        if (heap.bytes > heap.peak) heap.peak = heap.bytes;
    }
    return block;
}

void countingRelease(void* block) {
    HeapState& heap = state();
    {
        std::lock_guard lock(heap.mutex);
        ++heap.releases;
        const auto found = heap.blocks.find(block);
        if (found != heap.blocks.end()) {
            heap.bytes -= found->second;
            heap.blocks.erase(found);
        }
    }
    std::free(block);
}

}  // namespace

HeapSeam::HeapSeam() {
    HeapState& heap = state();
    std::lock_guard lock(heap.mutex);
    heap.allocations = heap.failed = heap.releases = heap.failAt = 0;
    heap.failAll = false;
    heap.blocks.clear();
    heap.bytes = heap.peak = 0;
    kqvHeapAllocate = &countingAllocate;
    kqvHeapRelease = &countingRelease;
}

HeapSeam::~HeapSeam() {
    kqvHeapAllocate = &std::malloc;
    kqvHeapRelease = &std::free;
}

void HeapSeam::failAllocation(uint64_t n) {
    HeapState& heap = state();
    std::lock_guard lock(heap.mutex);
    heap.failAt = n == 0 ? 0 : heap.allocations + n;
}

void HeapSeam::failAll(bool fail) {
    HeapState& heap = state();
    std::lock_guard lock(heap.mutex);
    heap.failAll = fail;
}

uint64_t HeapSeam::allocations() const {
    std::lock_guard lock(state().mutex);
    return state().allocations;
}
uint64_t HeapSeam::failedAllocations() const {
    std::lock_guard lock(state().mutex);
    return state().failed;
}
std::size_t HeapSeam::outstanding() const {
    std::lock_guard lock(state().mutex);
    return state().blocks.size();
}
std::size_t HeapSeam::outstandingBytes() const {
    std::lock_guard lock(state().mutex);
    return state().bytes;
}
std::size_t HeapSeam::peakBytes() const {
    std::lock_guard lock(state().mutex);
    return state().peak;
}
uint64_t HeapSeam::releases() const {
    std::lock_guard lock(state().mutex);
    return state().releases;
}

}  // namespace kqvtest
