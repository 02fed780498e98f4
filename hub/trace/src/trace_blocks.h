// Reading the trace blocks that traced code hands the facility. Their texts
// carry lengths and need not end in NUL; any pointer may be null.
#pragma once

#include <string_view>

#include "hub/trace.h"
#include "platform/ras1.h"

namespace hub::trace::detail {

// "kqvmsql.cpp" and "sql/kqvmsql.cpp" both name the unit "kqvmsql".
std::string_view unitNameOf(const TraceUnitBlock* unit);
std::string_view functionNameOf(const TraceEntryBlock& entry);

// Texts copied, so that nothing is read from the block later.
KnownUnit describe(const TraceUnitBlock& unit);

}  // namespace hub::trace::detail
