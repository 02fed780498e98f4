// Statuses that the data server's operations return. Every failure is also
// written to the hub's log with the reason.
#pragma once

#include <cstdint>

#include "platform/dshandle.h"

namespace hub::ds::status {

inline constexpr int32_t kOk = 0;
// GetItem of the next index filter when every filter has been handed out.
inline constexpr int32_t kNoMoreFilters = 1;
// The handle's check number is not the object's (what ::ds::call returns too).
inline constexpr int32_t kCheckFailed = ::ds::kStatusCheckFailed;
inline constexpr int32_t kUnknownItem = 4;
// A null, misplaced or inconsistent argument.
inline constexpr int32_t kBadArgument = 8;
// A slot that holds no operation for this kind of object.
inline constexpr int32_t kUnsupported = 12;
inline constexpr int32_t kUnknownServer = 16;
// sql1cpth was handed a context that sql1cpli did not give out.
inline constexpr int32_t kBadContext = 20;
inline constexpr int32_t kNoScenario = 24;
inline constexpr int32_t kBadStatement = 28;
inline constexpr int32_t kUnknownAgent = 32;
inline constexpr int32_t kAgentUnreachable = 36;
inline constexpr int32_t kNotOpen = 40;
inline constexpr int32_t kFetchFailed = 44;
// Something the data server did not expect of itself (the log says what).
inline constexpr int32_t kInternalFailure = 48;
// The statement on whose behalf the call came is being interrupted.
inline constexpr int32_t kInterrupted = 52;
// Fetch past the last row; repeated for every further Fetch until reopened.
inline constexpr int32_t kEndOfData = 100;

}  // namespace hub::ds::status
