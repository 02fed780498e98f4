// What .tables and .schema show of a scenario: the providers' tables as the
// hub's catalog defines them, and the scenario's own tables.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "hub/ds/scenario.h"

namespace host {

// The registered providers' tables that the catalog defines, then the
// scenario's tables and views as SCHEMA.NAME, one a line.
void printTables(std::ostream& out, const hub::ds::Scenario& scenario);

// The definition of every table printTables names, or of the one named
// (compared without regard to case; a scenario's table with or without its
// schema). A provider's table is shown as a CREATE TABLE whose comments say
// where each column lies in a handed-back row. Throws std::invalid_argument
// when no table has the name.
void printSchema(std::ostream& out, const hub::ds::Scenario& scenario, const std::optional<std::string>& table);

}  // namespace host
