// Checks a contents record before the registration service keeps it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registration.h"

namespace hub::registry::detail {

struct ContentsCheck {
    int32_t status;       // kRegistered when the record can be kept
    std::string problem;  // what is wrong, for the hub's log
};

// Reads nothing past a field's bounds nor through a null address.
ContentsCheck checkContents(const CNT1_ContentsRecord* contents);

// The table name of a checked entry.
std::string tableName(const CNT1_EntryListRecord& entry);

}  // namespace hub::registry::detail
