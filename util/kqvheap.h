// The provider's heap: the blocks of the result tables and the identity
// index's slots. Test builds route it through hooks that tests can replace,
// to count what is held and to make chosen allocations fail.
#pragma once

#include <cstddef>
#include <cstdlib>

#if KQV_TEST_SEAMS
extern "C" {
extern void* (*kqvHeapAllocate)(size_t);
extern void (*kqvHeapRelease)(void*);
}
#define KQV_ALLOCATE(size) kqvHeapAllocate(size)
#define KQV_RELEASE(block) kqvHeapRelease(block)
#else
#define KQV_ALLOCATE(size) std::malloc(size)
#define KQV_RELEASE(block) std::free(block)
#endif
