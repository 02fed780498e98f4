// What a scan of a provider's table tells the provider: which of the
// engine's conditions become index filters of its request, and the value
// that each parameter column takes. The engine applies every condition to
// the rows handed back all the same, so a filter is only ever a hint: one
// that the provider could not take, or that would answer otherwise than the
// engine, is left out, and the rows are those the engine keeps.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "hub/ds/request.h"
#include "hub/ds/table_definition.h"

namespace hub::ds {

// One condition of a plan that reaches the provider as an index filter.
struct PlannedFilter {
    int column;
    int16_t op;
    // An equality with a constant that gives a parameter column its value.
    bool setsParameter = false;
};

// xBestIndex: chooses the conditions that the scan hands over, and prices
// the plan. Returns an SQLite status.
int planScan(const TableDefinition& table, sqlite3_index_info* info);

// The plan as planScan left it in the index information's text.
std::vector<PlannedFilter> decodePlan(const char* text);

// A parameter's value: text for a CHAR column, a number for an INTEGER one.
using ParameterValue = std::variant<std::string, int32_t>;

struct ScanHints {
    std::vector<Filter> filters;  // in the plan's order
    // By column; set only for parameter columns that an equality gave a value.
    std::vector<std::optional<ParameterValue>> parameters;
};

// xFilter: the index filters and parameter values of one scan, from its
// plan and the values the engine gives its conditions.
ScanHints scanHints(const TableDefinition& table, const std::vector<PlannedFilter>& plan, sqlite3_value** values);

}  // namespace hub::ds
