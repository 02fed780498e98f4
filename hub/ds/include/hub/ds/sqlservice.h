// The SQL service's entries beyond the C ones of sql/dssql.h, and the forms
// in which fetched columns are delivered.
#pragma once

#include <cstdint>
#include <string_view>

#include "hub/ds/call.h"
#include "platform/dshandle.h"

namespace hub::ds {

// What sql1cpli returns; sql1cpth accepts no other context.
inline constexpr int32_t kSqlContext = 0x44530101;

// SQLVAR::dataType of an output column: how its values are delivered.
enum class ColumnForm : int16_t {
    ByValue = 0,  // no declared type that says: by each value's storage class
    Char = 1,     // CHAR(n): blank-padded to n; a longer value whole
    Varchar = 2,  // VARCHAR(n), TEXT: at its length
    Integer = 3,  // INTEGER, INT, SMALLINT: int32_t in the host's byte order
    Real = 4,     // REAL, FLOAT, DOUBLE: double in the host's byte order
    Blob = 5,     // BLOB: raw bytes
    Empty = 6,    // a column the agent adds beyond the statement's: length 0
};
// Whatever a column's form, a NULL has dataLength -1 and dataAddress null, a
// BLOB value is delivered as its raw bytes, and a value never is cut, except
// beyond 32767 bytes, which dataLength cannot say (the hub logs it).

// Creates a path to the current scenario for sql1cpth, within its call.
int32_t createPath(std::string_view server, int32_t context, DSHandle* path, CallScope& call);

}  // namespace hub::ds
