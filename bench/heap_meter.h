// The provider's heap, measured through the hooks of its TEST_SEAMS build:
// every result-table block and anchor passes through here while a meter is
// installed.
#pragma once

#include <cstddef>

namespace bench {

// The hook variables of a TEST_SEAMS build, as found in the loaded library.
struct HeapHooks {
    void* (**allocate)(std::size_t) = nullptr;
    void (**release)(void*) = nullptr;
};

// Installs counting hooks for its lifetime. Only one may exist at a time,
// and it must span whole requests: a block allocated before it is installed
// must not be freed while it is.
class HeapMeter {
  public:
    explicit HeapMeter(const HeapHooks& hooks);
    ~HeapMeter();
    HeapMeter(const HeapMeter&) = delete;
    HeapMeter& operator=(const HeapMeter&) = delete;

    std::size_t peakBytes() const;
    std::size_t outstandingBytes() const;

  private:
    HeapHooks hooks_;
    void* (*savedAllocate_)(std::size_t);
    void (*savedRelease_)(void*);
};

}  // namespace bench
