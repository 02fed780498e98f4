// Result tables, and the origin node and real node lists built from the hub's
// catalog.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// The links at the start of every element that a user puts into a list.
struct RSLTlink {
    RSLTlink* Next;
    RSLTlink* Prev;
};

// Header of a circular doubly linked list whose sentinel is the header
// itself: `First` and `Last` stand where an element has `Next` and `Prev`.
struct RSLTlist {
    RSLTlink* First;
    RSLTlink* Last;
    RSLTlink* End;
};

// A growable table of fixed-size elements that never move.
struct RSLTanchor {
    char EyeCatcher[8];          // "KQVRSLT "
    int32_t ElementSize;
    int32_t PrimarySize;         // elements per block
    int32_t FreeElements;        // not yet handed out in the newest block
    int32_t BlockSize;
    int32_t TotalElements;
    int32_t TotalBlocks;
    void* FirstBlock;
    void* LastBlock;
    RSLTlist ElementList;
};

// Discovery block: carries the node tables from request processing to the
// node list builders and the collection.
struct QVDWSYAPI {
    char EyeCatcher[10];         // "QVDWSYAPI "
    int32_t NodeFilterSet;
    char NodeFilter[33];         // prefix of origin node names; 9 characters are used
    RSLTlist* InodeList;
    RSLTlink* InodeCursor;
    RSLTlist* RealNodeList;
    RSLTanchor* InodeTable;
    RSLTanchor* RealNodeTable;
};

// One kept origin node.
struct InodeElement {
    RSLTlink* Next;
    RSLTlink* Prev;
    char OriginNode[32];
    char OriginVARN[8];
    char OriginRQM[8];
    char OriginType[4];
    int32_t GetRealNode;
    char Affinities[44];
};

// One real node (agent) behind an origin node.
struct RealNodeElement {
    RSLTlink* Next;
    RSLTlink* Prev;
    char RealNode[32];
    char RealNodeOrigNode[33];
    char RealNodeVarnex[8];
    char RealNodeAgtVer[2];
};

int32_t RSLTinit(RSLTanchor** anchor, int32_t elementSize, int32_t primarySize);
int32_t RSLTget(RSLTanchor* anchor, void** element);
int32_t RSLTdestroy(RSLTanchor** anchor);

int32_t buildOrigList(QVDWSYAPI* api, int32_t keepMode);
int32_t buildNodeList(QVDWSYAPI* api, int32_t skipDuplicateCheck);

}  // extern "C"

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(RSLTanchor) == 52);
static_assert(offsetof(RSLTanchor, ElementList) == 40);
static_assert(sizeof(InodeElement) == 108);
static_assert(offsetof(InodeElement, OriginNode) == 8);
static_assert(offsetof(InodeElement, GetRealNode) == 60);
static_assert(offsetof(InodeElement, Affinities) == 64);
static_assert(sizeof(RealNodeElement) == 84);
static_assert(offsetof(RealNodeElement, RealNodeOrigNode) == 40);
static_assert(offsetof(RealNodeElement, RealNodeVarnex) == 73);
static_assert(offsetof(RealNodeElement, RealNodeAgtVer) == 81);
#endif

namespace kqv {

// Status codes shared by the provider.
inline constexpr int32_t kRsltNotAnAnchor = 1;
inline constexpr int32_t kRsltNoBlock = 2;
inline constexpr int32_t kRsltNoAnchor = 3;

// The list header seen as the sentinel element of its own list.
inline RSLTlink* listSentinel(RSLTlist* list) { return reinterpret_cast<RSLTlink*>(list); }

// Links `element` at the front of `list`.
inline void linkAtFront(RSLTlist* list, RSLTlink* element) {
    element->Next = list->First;
    element->Prev = list->First->Prev;
    list->First->Prev = element;
    list->First = element;
}

// Calls `visit` with every element that `table` has handed out, in the order
// it handed them out: block by block, reading memory in order, where a walk
// of a list follows one link after another wherever they lead.
template <typename Visit>
void forEachElement(const RSLTanchor* table, Visit visit) {
    const auto chained = [](void* block) { return block == nullptr ? nullptr : *static_cast<void**>(block); };
    // The block after next is on its way to the cache while this one is
    // visited (the next one was asked for a block earlier).
    void* ahead = chained(table->FirstBlock);
    for (void* block = table->FirstBlock; block != nullptr; block = *static_cast<void**>(block)) {
        if ((ahead = chained(ahead)) != nullptr) {
            for (int32_t offset = 0; offset < table->BlockSize; offset += 64) {
                __builtin_prefetch(static_cast<char*>(ahead) + offset);
            }
        }
        const int32_t used =
            block == table->LastBlock ? table->PrimarySize - table->FreeElements : table->PrimarySize;
        char* element = static_cast<char*>(block) + sizeof(void*);
        for (int32_t k = 0; k < used; ++k, element += table->ElementSize) {
            visit(reinterpret_cast<RSLTlink*>(element));
        }
    }
}

// The element after `cursor` (or the first one when there is no cursor yet);
// null when the walk has reached the list's end.
inline RSLTlink* nextInList(RSLTlist* list, RSLTlink* cursor) {
    RSLTlink* candidate = cursor == nullptr ? list->First : cursor->Next;
    return candidate == list->End ? nullptr : candidate;
}

}  // namespace kqv
