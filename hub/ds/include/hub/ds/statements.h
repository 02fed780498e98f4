// Statements of any kind on a scenario's connection, with their results as
// values: what the host program runs for a user.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "hub/ds/scenario.h"

namespace hub::ds {

struct Blob {
    std::string bytes;
    bool operator==(const Blob&) const = default;
};

// NULL, INTEGER, REAL, TEXT (its bytes as they are) or BLOB.
using Value = std::variant<std::monostate, int64_t, double, std::string, Blob>;

struct ResultSet {
    std::string statement;  // its text, as given
    std::vector<std::string> columns;
    std::vector<std::vector<Value>> rows;
};

// The engine refused or failed a statement: its own message, with the
// statement's text.
class StatementError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// An entry of a provider failed during a scan (provider_table.h); the message
// names each entry that failed and its status. Every request of the
// statement has been terminated.
class EntryFailure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Runs the statements of `script`, separated by ';', one after another,
// handing each result that has columns to `onResult` once the statement has
// run to its end. The first statement that fails ends the run with one of
// the two errors above; a text that holds a NUL byte runs nothing and fails
// with a StatementError that says where the byte is.
void runStatements(const Scenario& scenario, std::string_view script,
                   const std::function<void(const ResultSet&)>& onResult);

}  // namespace hub::ds
