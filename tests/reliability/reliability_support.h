// Helpers of the reliability tests: the statuses the provider documents, a
// request's current handle, and rows compared and described.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "driven_request.h"
#include "hub/ds/request.h"
#include "provider/kqvdwsys.h"

namespace reliability {

inline constexpr int32_t kNoTable = 3;
inline constexpr int32_t kNoParameterList = 60;
using kqvtest::kNoMoreRows;
inline constexpr int32_t kNoViewStorage = 64;
inline constexpr int32_t kSqlLayerFailure = 64;
inline constexpr int32_t kNoWorkArea = 71;

// The request's handle with the check number that its object holds now: how
// the data server names a request whose handle a test has spoiled.
DSRequestHandle currentHandle(const hub::ds::Request& request);

bool sameBytes(const DWSysRecord& a, const DWSysRecord& b);
bool sameIdentity(const DWSysRecord& a, const DWSysRecord& b);
// DW_NAME/VARNNAME, STATUS and the whole record in hex, for failure messages.
std::string describe(const DWSysRecord& row);
std::string describe(const std::vector<DWSysRecord>& rows);
bool sameRows(const std::vector<DWSysRecord>& a, const std::vector<DWSysRecord>& b);

}  // namespace reliability
