// Statements of any kind on a scenario's connection, their rows handed to a
// sink one by one as the engine steps them: what the host program runs for
// a user. Nothing keeps a whole result.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "hub/ds/scenario.h"
#include "hub/ds/table_definition.h"

namespace hub::ds {

struct BlobView {
    std::string_view bytes;
};

// NULL, INTEGER, REAL, TEXT (its bytes as they are) or BLOB, as the engine
// holds it for the current row: the bytes are valid only during the call
// that they are handed to.
using ValueView = std::variant<std::monostate, int64_t, double, std::string_view, BlobView>;

struct ResultColumn {
    std::string name;
    // The column of a provider's table that this one shows as it is (a plain
    // reference to it, as in SELECT *), so that the widest value it can have
    // is known before any row is.
    std::optional<ColumnDefinition> providerColumn;
};

struct ResultHeader {
    std::string_view statement;  // its text, as given
    std::vector<ResultColumn> columns;
};

// Receives the results of the statements that have columns. For each: begin
// once the first row has been stepped (or the statement has ended without a
// row), then every row, then end once the statement has run to its end. A
// statement that fails before its first row calls nothing; one that fails
// later has had begin and some rows, but no end. A sink may throw to stop the
// run: the statement is given up (its scans closed, their requests
// terminated) and the exception leaves runStatements. The sink is called
// with the connection's lock held.
class ResultSink {
  public:
    virtual ~ResultSink() = default;
    virtual void begin(const ResultHeader& header) = 0;
    virtual void row(std::span<const ValueView> values) = 0;
    virtual void end() = 0;
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
// streaming each result that has columns to `sink`. The first statement that
// fails ends the run with one of the two errors above; a text that holds a
// NUL byte runs nothing and fails with a StatementError that says where the
// byte is.
void runStatements(const Scenario& scenario, std::string_view script, ResultSink& sink);

}  // namespace hub::ds
