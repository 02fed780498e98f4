// What an interactive console needs of the SQL engine: where statements
// typed line by line end, and stopping the statement that runs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "hub/ds/scenario.h"

namespace hub::ds {

// The complete statements at the start of `text`, each with the ';' that
// ends it (a ';' inside a literal, a comment or a trigger's body ends
// nothing), and what follows the last of them: empty when that is nothing
// but blanks and comments.
struct SplitStatements {
    std::vector<std::string> statements;
    std::string rest;
};
SplitStatements splitStatements(std::string_view text);

// Makes the statement running on the scenario's connection fail soon with
// "interrupted"; its scans are closed as for any failure, so their requests
// are terminated. Nothing happens when no statement runs. Safe to call from
// a signal handler or from another thread.
void interruptStatement(const Scenario& scenario) noexcept;

}  // namespace hub::ds
