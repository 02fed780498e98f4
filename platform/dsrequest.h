// The data server's request interface: the parameter list of a request, the
// index filters of its query, view storage and the hand-back of rows.
#pragma once

#include <cstdint>

#include "dshandle.h"

extern "C" {

// The data server's record for one request. Callers read three fields.
struct DSParameterList {
    uint8_t reserved0[24];
    void* workArea;             // registered with PutItem item 3; null before
    uint8_t reserved1[68];
    DSHandle* viewStorage;      // handle of the request's view storage object
    uint8_t reserved2[72];
    const char* tableName;      // NUL-terminated name of the queried table
    uint8_t reserved3[32];
};

// One predicate of the query on an index column.
struct IndexFilter {
    int16_t op;                 // comparison; 1 is equality
    int16_t valueLength;        // length of the value in bytes
    uint8_t reserved0[26];
    char columnName[11];        // blank-padded to 10 characters, then NUL
    uint8_t reserved1[35];
    const char* value;          // the value's bytes, not necessarily terminated
};

}  // extern "C"

#if UINTPTR_MAX == 0xFFFFFFFFu
#include <cstddef>
static_assert(offsetof(DSParameterList, workArea) == 24);
static_assert(offsetof(DSParameterList, viewStorage) == 96);
static_assert(offsetof(DSParameterList, tableName) == 172);
static_assert(offsetof(IndexFilter, op) == 0);
static_assert(offsetof(IndexFilter, valueLength) == 2);
static_assert(offsetof(IndexFilter, columnName) == 30);
static_assert(offsetof(IndexFilter, value) == 76);
#endif

namespace ds {

// Slots of the common operations table.
inline constexpr int kSlotGetItem = 3;
inline constexpr int kSlotPutItem = 4;
inline constexpr int kSlotGetViewStorage = 5;

// Item codes of GetItem and PutItem.
inline constexpr int32_t kItemParameterList = 23;  // GetItem: DSParameterList*
inline constexpr int32_t kItemIndexFilter = 28;    // GetItem: next IndexFilter*
inline constexpr int32_t kItemWorkArea = 3;        // PutItem: the work area
inline constexpr int32_t kItemRow = 2;             // PutItem: one row of the table

inline constexpr int16_t kOperatorEqual = 1;

using GetItemFn = int32_t(DSHandle request, int32_t item, void** out);
using PutItemFn = int32_t(DSHandle request, int32_t item, void* value);
using GetViewStorageFn = int32_t(DSHandle storage, int32_t size, void** out);

}  // namespace ds
