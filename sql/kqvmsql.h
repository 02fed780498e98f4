// The SQL request layer: one caller-owned record per statement, and the six
// operations that prepare, open, fetch, close and drop it through the data
// server.
#pragma once

#include <cstdint>

#include "dssql.h"

extern "C" {

struct SQLRequestHandle {
    char eyeCatcher[8];          // "KQVSQLAP"
    int32_t pathOpen;            // 1 once kqvsqlp succeeded
    int32_t requestOpen;         // 1 while the request is open
    DSHandle pathHdl;
    const char* pathName;        // set by some callers; never read here
    DSHandle planHdl;
    DSHandle reqHdl;
    DSHandle outputHdl;
    int32_t planCount;
    const char* sqlText;         // set by the caller before kqvsqlp
    DSHandle* outputHdlList;
    SQLDA* inputSqlda;
    SQLDA* outputSqlda;
};

int32_t kqvsqlp(SQLRequestHandle* request);
int32_t kqvsqlo(SQLRequestHandle* request);
int32_t kqvsqli(SQLRequestHandle* request);
int32_t kqvsqlf(SQLRequestHandle* request);
int32_t kqvsqlc(SQLRequestHandle* request);
int32_t kqvsqld(SQLRequestHandle* request);

}  // extern "C"

namespace kqv {
// Status of a failure that the SQL request layer reports as its own.
inline constexpr int32_t kSqlLayerFailure = 64;
}  // namespace kqv
