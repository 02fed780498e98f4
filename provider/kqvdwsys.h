// Table KQVDWSYS: its row, the per-request work area, and the provider's
// request entries, collection and summarisation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/dshandle.h"
#include "platform/registration.h"
#include "util/kqvmutl.h"

extern "C" {

// One DW systems status row: the table's row, the column list of the
// per-node query, the fetch buffer and the body of every results element.
struct DWSysRecord {
    char ORIGINNODE[32];
    char TIMESTAMP[16];
    char VARNNAME[8];
    char RQMID[4];
    char SYSNAME[8];
    char DW_NAME[8];
    int32_t CONNHVTCT;
    int32_t STG_ALLOC;
    int32_t STG_USED;
    int32_t DUMPTBLSZ;
    int32_t DUMPTBLIUS;
    int32_t TOTSTGCTL;
    int32_t STATUS;
    int32_t DWLEVEL;
};

// An element of the results table.
struct DWSysResultElement {
    RSLTlink* Next;
    RSLTlink* Prev;
    DWSysRecord row;
};

// An index of the results table by identity (DW_NAME and VARNNAME), so that
// merging a row costs the same however many rows the table holds; kept by
// provider/identity_index.h.
struct DWSysIdentityIndex {
    RSLTlink** slots;                // one block of `capacity` groups of slots (open addressing), a
                                     // cache line each: a tag byte per slot, 0 where free, then the
                                     // slots' results elements; null without an index
    int32_t capacity;                // number of groups
    int32_t identities;              // elements of the results table, all in the slots when indexed
    int32_t retryAt;                 // after a failed allocation, identities at which to try again
};

// The work area of one request, kept in the request's view storage.
struct DWSYWORK {
    char eyeCatcher[8];              // "DWSYWORK"
    RSLTlist* resultList;
    RSLTlink* rowCursor;
    RSLTlink* realNodeCursor;
    RSLTanchor* realNodeTable;
    RSLTanchor* originNodeTable;
    RSLTanchor* resultTable;
    DWSysRecord rowBuffer;
    int32_t rowsReturned;
    int32_t idnameSet;
    int32_t originnodeSet;
    char idnameFilter[9];
    char originnodeFilter[33];
    DWSysIdentityIndex index;        // in what is otherwise reserved
    uint32_t reserved[9];            // makes up the size the data server is asked for
};

#if defined(_WIN32) && defined(KQV_BUILDING_PROVIDER)
__declspec(dllexport)
#endif
void cnt1entd(void);

int32_t qvdwsysr(DSRequestHandle request);
int32_t qvdwsypr(DSRequestHandle request);
int32_t qvdwsyts(DSRequestHandle request);

int32_t collectQVStatusdata(DWSYWORK* work, QVDWSYAPI* api);
void summarizeQVStatusData(DWSYWORK* work, const DWSysRecord* record);

extern CNT1_ContentsRecord CNT1_Contents;
extern CNT1_EntryListRecord CNT1_entryList[1];

}  // extern "C"

static_assert(sizeof(DWSysRecord) == 108);
static_assert(offsetof(DWSysRecord, TIMESTAMP) == 32);
static_assert(offsetof(DWSysRecord, VARNNAME) == 48);
static_assert(offsetof(DWSysRecord, RQMID) == 56);
static_assert(offsetof(DWSysRecord, SYSNAME) == 60);
static_assert(offsetof(DWSysRecord, DW_NAME) == 68);
static_assert(offsetof(DWSysRecord, CONNHVTCT) == 76);
static_assert(offsetof(DWSysRecord, STG_ALLOC) == 80);
static_assert(offsetof(DWSysRecord, STG_USED) == 84);
static_assert(offsetof(DWSysRecord, DUMPTBLSZ) == 88);
static_assert(offsetof(DWSysRecord, DUMPTBLIUS) == 92);
static_assert(offsetof(DWSysRecord, TOTSTGCTL) == 96);
static_assert(offsetof(DWSysRecord, STATUS) == 100);
static_assert(offsetof(DWSysRecord, DWLEVEL) == 104);

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(DWSysResultElement) == 116);
static_assert(sizeof(DWSYWORK) == 248);
static_assert(offsetof(DWSYWORK, resultList) == 8);
static_assert(offsetof(DWSYWORK, resultTable) == 28);
static_assert(offsetof(DWSYWORK, rowBuffer) == 32);
static_assert(offsetof(DWSYWORK, rowsReturned) == 140);
static_assert(offsetof(DWSYWORK, idnameSet) == 144);
static_assert(offsetof(DWSYWORK, originnodeSet) == 148);
static_assert(offsetof(DWSYWORK, idnameFilter) == 152);
static_assert(offsetof(DWSYWORK, originnodeFilter) == 161);
static_assert(offsetof(DWSYWORK, index) == 196);
static_assert(sizeof(DWSysIdentityIndex) == 16);
#endif

namespace kqv {
inline constexpr int32_t kNoParameterList = 60;
inline constexpr int32_t kNoMoreRows = 62;
inline constexpr int32_t kNoViewStorage = 64;
inline constexpr int32_t kNoWorkArea = 71;

// Two rows are of one identity, and so one element of the results table,
// when their DW_NAME and VARNNAME agree byte for byte.
inline bool sameIdentity(const DWSysRecord& a, const DWSysRecord& b) {
    return std::memcmp(a.DW_NAME, b.DW_NAME, sizeof a.DW_NAME) == 0 &&
           std::memcmp(a.VARNNAME, b.VARNNAME, sizeof a.VARNNAME) == 0;
}

// The row of an element of the results table.
inline const DWSysRecord& rowOf(const RSLTlink* element) {
    return reinterpret_cast<const DWSysResultElement*>(element)->row;
}

}  // namespace kqv
