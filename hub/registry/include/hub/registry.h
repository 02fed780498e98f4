// The stand-in hub's registration service: the tables that providers have
// made known through kglcnmnt (platform/registration.h), for the data server
// to find by name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registration.h"

namespace hub::registry {

// Statuses of kglcnmnt. A rejected record registers none of its tables.
inline constexpr int32_t kRegistered = 0;
inline constexpr int32_t kNoContents = 1;       // null contents record
inline constexpr int32_t kBadProviderName = 2;  // empty, or no NUL within its 256 bytes
inline constexpr int32_t kBadEntryCount = 3;    // below 1 or above kMaxEntries
inline constexpr int32_t kNoEntryList = 4;      // null entry list
inline constexpr int32_t kBadTableName = 5;     // empty, or no NUL within its 32 bytes
inline constexpr int32_t kNoVector = 6;         // an entry without a vector
inline constexpr int32_t kOutOfResources = 7;   // the service itself failed (memory)

// More entries than this means the count is garbage rather than a provider
// with that many tables.
inline constexpr int32_t kMaxEntries = 1024;

// The vector of a registered table; nullptr if no provider registered it.
const PRB1_VectorRecord* findTable(std::string_view name);

// Names of the registered tables, in ascending order.
std::vector<std::string> tables();

// Number of kglcnmnt calls accepted, repeats included.
int registrations();

// Forgets every table and the count, for tests.
void reset();

}  // namespace hub::registry
