#include "heap_meter.h"

#include <cstdlib>
#include <stdexcept>

namespace bench {

namespace {

// Each block carries its size in front of it, so that release needs no
// lookup; the header keeps the block's alignment.
constexpr std::size_t kHeader = alignof(std::max_align_t);

std::size_t currentBytes = 0;
std::size_t peak = 0;
bool installed = false;

void* countingAllocate(std::size_t size) {
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (block == nullptr) return nullptr;
    *reinterpret_cast<std::size_t*>(block) = size;
    currentBytes += size;
    if (currentBytes > peak) peak = currentBytes;
    return block + kHeader;
}

void countingRelease(void* pointer) {
    if (pointer == nullptr) return;
    auto* block = static_cast<unsigned char*>(pointer) - kHeader;
    currentBytes -= *reinterpret_cast<std::size_t*>(block);
    std::free(block);
}

}  // namespace

HeapMeter::HeapMeter(const HeapHooks& hooks) : hooks_(hooks) {
    if (hooks_.allocate == nullptr || hooks_.release == nullptr) {
        throw std::logic_error("the provider build has no heap hooks");
    }
    if (installed) throw std::logic_error("a heap meter is installed already");
    installed = true;
    currentBytes = peak = 0;
    savedAllocate_ = *hooks_.allocate;
    savedRelease_ = *hooks_.release;
    *hooks_.allocate = &countingAllocate;
    *hooks_.release = &countingRelease;
}

HeapMeter::~HeapMeter() {
    *hooks_.allocate = savedAllocate_;
    *hooks_.release = savedRelease_;
    installed = false;
}

std::size_t HeapMeter::peakBytes() const { return peak; }
std::size_t HeapMeter::outstandingBytes() const { return currentBytes; }

}  // namespace bench
