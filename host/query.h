// Runs one query on a provider's table through its entries alone, without
// the SQL engine: entry 1, entry 2 until it reports no row, entry 3.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "hub/ds/request.h"
#include "platform/registration.h"

namespace host {

// An entry of the provider reported a failure; the message says which.
class QueryError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct QueryOptions {
    std::string table = "KQVDWSYS";
    std::vector<hub::ds::Filter> filters;
    int passes = 1;  // passes run within the one request
};

struct QueryResult {
    hub::ds::ReceivedRows rows;  // of the last pass
    int passes = 0;
};

// The status with which entry 2 says that no row is left.
inline constexpr int32_t kNoMoreRows = 62;

// Throws QueryError when an entry fails; entry 3 still ends a request that
// entry 1 started.
QueryResult runQuery(const PRB1_VectorRecord& vector, const QueryOptions& options);

}  // namespace host
