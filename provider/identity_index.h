// The identity index of the results table, which the summarisation of
// kqvdwsys.cpp looks a fetched row's identity up in once the table has grown,
// instead of walking the results list, so that merging a row costs the same
// however many rows the table holds. It changes nothing but speed: its slots
// come straight from the heap, so that it writes no trace line of its own.
//
// Part of the unit kqvdwsys, which alone includes it: what it defines stays
// inside that unit.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "provider/kqvdwsys.h"
#include "util/kqvheap.h"
#include "util/kqvmutl.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

#if KQV_TEST_SEAMS
// Test builds can move the point at which the identity index is built.
extern "C" {
__attribute__((visibility("default"))) int32_t kqvIdentityIndexThreshold = 64;
}
#define KQV_INDEX_THRESHOLD kqvIdentityIndexThreshold
#else
#define KQV_INDEX_THRESHOLD 64
#endif

namespace kqv::identity_index {
namespace {

// The slots come in groups of a cache line each: the group's tags, one byte a
// slot and 0 where free, then its element pointers. A probe reads one line
// and touches an element only where the tag matches. A group fills from its
// first slot on; a full group sends the probe on to the next.
constexpr size_t kLineBytes = 64;
constexpr int kGroupSlots = static_cast<int>(kLineBytes / (sizeof(RSLTlink*) + 1));

struct alignas(kLineBytes) SlotGroup {
    uint8_t tags[kGroupSlots];
    RSLTlink* elements[kGroupSlots];
};
static_assert(sizeof(SlotGroup) == kLineBytes);

// The groups start at the first line boundary of the block.
SlotGroup* groupsOf(const DWSysIdentityIndex& index) {
    const auto block = reinterpret_cast<uintptr_t>(index.slots);
    return reinterpret_cast<SlotGroup*>((block + kLineBytes - 1) & ~(uintptr_t{kLineBytes} - 1));
}

size_t indexBytes(int32_t groups) { return (static_cast<size_t>(groups) + 1) * kLineBytes; }

int64_t slotsOf(int32_t groups) { return static_cast<int64_t>(groups) * kGroupSlots; }

// Where a probe for an identity starts, and the tag its slot carries.
struct Probe {
    uint32_t group;
    uint8_t tag;
};

Probe probeFor(const DWSysIdentityIndex& index, const DWSysRecord& row) {
    uint64_t dwName;
    uint64_t varnex;
    std::memcpy(&dwName, row.DW_NAME, sizeof dwName);
    std::memcpy(&varnex, row.VARNNAME, sizeof varnex);
    uint64_t x = dwName * 0x9E3779B97F4A7C15ull ^ varnex;
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    // The tag comes from the bits that pick no group; 0 marks a free slot.
    const auto tag = static_cast<uint8_t>(x >> 56);
    // The low half picks the group, scaled to their number.
    const auto group = static_cast<uint32_t>(((x & 0xFFFFFFFFu) * static_cast<uint64_t>(index.capacity)) >> 32);
    return {group, tag == 0 ? uint8_t{1} : tag};
}

uint32_t nextGroup(const DWSysIdentityIndex& index, uint32_t group) {
    return group + 1 == static_cast<uint32_t>(index.capacity) ? 0 : group + 1;
}

// A large index is probed at random all over: asks for huge pages where the
// system gives them on request, so that a probe does not also miss the
// address translation caches. Only the whole 2 MiB pages inside the block.
void preferHugePages(void* block, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
    const auto start = (reinterpret_cast<uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
    const auto end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(kHugePage - 1);
    if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

// Frees the slots; the count of identities stays, for the next build.
void releaseSlots(DWSysIdentityIndex& index) {
    if (index.slots != nullptr) KQV_RELEASE(index.slots);
    index.slots = nullptr;
    index.capacity = 0;
}

// ---------------------------------------------------------------------------
// The index's interface

// Whether the index is built; until it is, a lookup walks the results list.
bool built(const DWSysIdentityIndex& index) { return index.slots != nullptr; }

// The outcome of looking an identity up: its element, or, with an index, the
// free slot where a new element of that identity goes.
struct Lookup {
    RSLTlink* element;
    SlotGroup* group;
    int slot;
    uint8_t tag;
};

// Looks the row's identity up in the built index.
Lookup find(const DWSysIdentityIndex& index, const DWSysRecord& row) {
    const Probe probe = probeFor(index, row);
    SlotGroup* const groups = groupsOf(index);
    for (uint32_t g = probe.group;; g = nextGroup(index, g)) {
        SlotGroup& group = groups[g];
        for (int i = 0; i < kGroupSlots; ++i) {
            if (group.tags[i] == 0) return {nullptr, &group, i, probe.tag};
            if (group.tags[i] == probe.tag && kqv::sameIdentity(kqv::rowOf(group.elements[i]), row)) {
                return {group.elements[i], &group, i, probe.tag};
            }
        }
    }
}

// Asks the cache for the group the row's probe starts at, so that the line
// is on its way while the row waits to be merged. Always inlined: the
// compiler counts a prefetch as no effect and drops a call that has no other.
[[gnu::always_inline]] inline void prefetch(const DWSysIdentityIndex& index, const DWSysRecord& row) {
    if (index.slots == nullptr) return;
    __builtin_prefetch(groupsOf(index) + probeFor(index, row).group, 1);
}

// Builds the index anew over every element of `table`, with room for the
// table to double before the index is three quarters full. When its memory
// cannot be had the merge goes on with the linear walk, silently, and tries
// again once the table has doubled.
void rebuild(DWSysIdentityIndex& index, const RSLTanchor* table) {
    releaseSlots(index);
    // 1 GiB of groups at the most: the block's size in bytes fits 32 bits.
    constexpr int32_t kMostGroups = int32_t{1} << 24;
    const int64_t wanted = (8 * static_cast<int64_t>(index.identities) + 3 * kGroupSlots - 1) / (3 * kGroupSlots);
    const auto groups = static_cast<int32_t>(std::clamp<int64_t>(wanted, 2, int64_t{kMostGroups} + 1));
    auto* block = groups > kMostGroups ? nullptr : static_cast<RSLTlink**>(KQV_ALLOCATE(indexBytes(groups)));
    if (block == nullptr) {
        index.retryAt = 2 * index.identities;
        return;
    }
    preferHugePages(block, indexBytes(groups));
    index.slots = block;
    index.capacity = groups;
    index.retryAt = 0;
    SlotGroup* const group = groupsOf(index);
    std::memset(static_cast<void*>(group), 0, static_cast<size_t>(groups) * kLineBytes);
    // Every element of the results table is in its list, each of another
    // identity: each goes to the first free slot. They are taken in batches
    // whose groups are asked for first, so that the cache misses overlap.
    constexpr int kBatch = 16;
    RSLTlink* batch[kBatch];
    Probe probes[kBatch];
    int count = 0;
    const auto place = [&] {
        for (int n = 0; n < count; ++n) {
            for (uint32_t g = probes[n].group;; g = nextGroup(index, g)) {
                uint8_t* const tags = group[g].tags;
                const auto free = static_cast<int>(std::find(tags, tags + kGroupSlots, uint8_t{0}) - tags);
                if (free == kGroupSlots) continue;
                tags[free] = probes[n].tag;
                group[g].elements[free] = batch[n];
                break;
            }
        }
        count = 0;
    };
    kqv::forEachElement(table, [&](RSLTlink* element) {
        batch[count] = element;
        probes[count] = probeFor(index, kqv::rowOf(element));
        __builtin_prefetch(group + probes[count].group, 1);
        if (++count == kBatch) place();
    });
    place();
}

// Records a new element of `table` in the index, in the free slot its lookup
// found, building or growing the index as the table grows.
void add(DWSysIdentityIndex& index, const RSLTanchor* table, RSLTlink* element, const Lookup& lookup) {
    index.identities += 1;
    if (index.slots == nullptr) {
        if (index.identities >= KQV_INDEX_THRESHOLD && index.identities >= index.retryAt) {
            rebuild(index, table);
        }
        return;
    }
    // Up to three quarters full: beyond, the probes grow long.
    if (4 * static_cast<int64_t>(index.identities) > 3 * slotsOf(index.capacity)) {
        rebuild(index, table);
        return;
    }
    lookup.group->tags[lookup.slot] = lookup.tag;
    lookup.group->elements[lookup.slot] = element;
}

// Frees the index and forgets the table it counted, which is being destroyed.
void drop(DWSysIdentityIndex& index) {
    releaseSlots(index);
    std::memset(&index, 0, sizeof index);
}

}  // namespace
}  // namespace kqv::identity_index
