// A provider's table as a table of the scenario's SQL engine: statements on
// the scenario's connection read it, and every scan of it is one request to
// the provider (entry 1, entry 2 until no row is left or the scan stops,
// entry 3). The engine applies every predicate of the query to the rows
// handed back; conditions on index columns also reach the provider as the
// request's index filters, those it can take (src/provider_hints.h).
#pragma once

#include <cstdint>

#include "hub/ds/scenario.h"
#include "hub/ds/table_definition.h"
#include "platform/dsrequest.h"
#include "platform/registration.h"

namespace hub::ds {

// Operator codes of the index filters that conditions become. Providers act
// on equality; the others only tell them what else the query asks.
namespace filter_op {
inline constexpr int16_t kEqual = ::ds::kOperatorEqual;
inline constexpr int16_t kNotEqual = 2;
inline constexpr int16_t kLess = 3;
inline constexpr int16_t kLessOrEqual = 4;
inline constexpr int16_t kGreater = 5;
inline constexpr int16_t kGreaterOrEqual = 6;
inline constexpr int16_t kLike = 7;
inline constexpr int16_t kGlob = 8;
inline constexpr int16_t kRegexp = 9;
inline constexpr int16_t kMatch = 10;
// 11, IS, is not used: IS with a value is an equality, and reaches the provider as one.
inline constexpr int16_t kIsNot = 12;
}  // namespace filter_op

struct ScanOptions {
    // Passes that each scan runs within its request; the table's rows are
    // those of the last.
    int passes = 1;
};

// Makes `table` a table of the scenario's connection, answered by `vector`,
// which must stay valid while the scenario lives. The table is read-only.
// Throws std::runtime_error when the engine refuses it.
void attachProviderTable(const Scenario& scenario, const TableDefinition& table, const PRB1_VectorRecord& vector,
                         ScanOptions options = {});

}  // namespace hub::ds
