// The hub's catalog of provider tables in a scenario: HUB.TABLECOLS.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "hub/ds/table_definition.h"

namespace hub::ds {

// The definitions in the scenario's HUB.TABLECOLS, none if it has no such
// table. Throws std::runtime_error naming the scenario for a definition that
// cannot describe a row, or that reaches past the end of the row that the
// hub's own catalog (the default scenario's) gives the table.
std::vector<TableDefinition> readTableCatalog(sqlite3* db, const std::string& scenarioName);

}  // namespace hub::ds
