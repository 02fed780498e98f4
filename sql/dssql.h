// The data server's SQL service as the provider uses it: the two imported
// entries, the operations of path, access plan, request and output objects,
// and the SQL descriptor area through which fetched rows are read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/dshandle.h"

extern "C" {

// One column of an SQLDA.
struct SQLVAR {
    int16_t dataType;
    int16_t dataLength;          // length of the column's current value
    uint8_t reserved0[12];
    const char* dataAddress;     // address of the column's current value
    uint8_t reserved1[48];
};

// SQL descriptor area. Column descriptors follow the header.
struct SQLDA {
    char eyeCatcher[8];
    int32_t allocatedColumns;
    int16_t columnCount;         // number of columns of the result
    int16_t reserved0;
    SQLVAR column[1];            // `columnCount` descriptors, from offset 16
};

// Data-server base library: a value handed on to sql1cpth.
int32_t sql1cpli(void);

// Network SQL library: creates a path to the named server.
int32_t sql1cpth(const char* serverName, int32_t context, DSHandle* path);

}  // extern "C"

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(SQLVAR) == 68);
static_assert(offsetof(SQLVAR, dataLength) == 2);
static_assert(offsetof(SQLVAR, dataAddress) == 16);
static_assert(offsetof(SQLDA, columnCount) == 12);
static_assert(offsetof(SQLDA, column) == 16);
#endif

// Column n of an SQLDA, counted from 0.
inline SQLVAR* sqldaColumn(SQLDA* sqlda, int n) {
    return reinterpret_cast<SQLVAR*>(reinterpret_cast<char*>(sqlda) + offsetof(SQLDA, column) +
                                     static_cast<std::size_t>(n) * sizeof(SQLVAR));
}
inline const SQLVAR* sqldaColumn(const SQLDA* sqlda, int n) {
    return sqldaColumn(const_cast<SQLDA*>(sqlda), n);
}

namespace ds {

// Slots of the SQL operations table, per kind of object.
inline constexpr int kSlotPathDrop = 1;
inline constexpr int kSlotPathCreateRequest = 6;
inline constexpr int kSlotPathCreateAccessPlan = 7;
inline constexpr int kSlotPlanDrop = 1;
inline constexpr int kSlotRequestDrop = 1;
inline constexpr int kSlotOpenRequest = 6;
inline constexpr int kSlotCloseRequest = 7;
inline constexpr int kSlotGetInputSQLDA = 8;
inline constexpr int kSlotFetch = 7;
inline constexpr int kSlotGetOutputSQLDA = 9;

using DropFn = int32_t(DSHandle object);
using CreateRequestFn = int32_t(DSHandle path, DSHandle* request, void* reserved1, void* reserved2,
                                void* reserved3, void* reserved4, int32_t planCount,
                                DSHandle* plans, DSHandle** outputs, void* reserved5);
using CreateAccessPlanFn = int32_t(DSHandle path, const char* statement, DSHandle* plan);
using OpenRequestFn = int32_t(DSHandle request, SQLDA* input);
using CloseRequestFn = int32_t(DSHandle request);
using GetSQLDAFn = int32_t(DSHandle object, SQLDA** sqlda);
using FetchFn = int32_t(DSHandle output, SQLDA* output_sqlda);

}  // namespace ds
