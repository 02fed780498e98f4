#include "hub/ds/statements.h"

#include <cctype>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "entry_failures.h"
#include "hublog.h"
#include "interruption.h"
#include "sqlite_handles.h"

namespace hub::ds {

namespace {

thread_local std::optional<std::string> pendingEntryFailures;

// The statement as a message names it, without the ';' that ends it.
std::string shown(std::string_view text) {
    while (!text.empty() && (text.back() == ';' || std::isspace(static_cast<unsigned char>(text.back())))) {
        text.remove_suffix(1);
    }
    return " (in: " + excerpt(text) + ")";
}

// The bytes of a text or blob value as they are.
std::string_view bytesOf(sqlite3_value* value) {
    const auto* bytes = static_cast<const char*>(sqlite3_value_blob(value));
    return bytes ? std::string_view(bytes, static_cast<std::size_t>(sqlite3_value_bytes(value))) : std::string_view();
}

// The engine's value of a column of the current row, without a copy. The
// column is taken as one value and read through it, since each
// sqlite3_column_* call takes the connection's lock anew; the runner holds
// that lock throughout, which makes reading the value safe. A text is read
// as the bytes it holds: reading it as text would first terminate it,
// shrinking its buffer to fit, which the next row's value then grows again.
ValueView columnValue(sqlite3_stmt* statement, int column) {
    sqlite3_value* value = sqlite3_column_value(statement, column);
    switch (sqlite3_value_type(value)) {
        case SQLITE_INTEGER: return static_cast<int64_t>(sqlite3_value_int64(value));
        case SQLITE_FLOAT: return sqlite3_value_double(value);
        case SQLITE_TEXT: return bytesOf(value);
        case SQLITE_BLOB: return BlobView{bytesOf(value)};
        default: return std::monostate{};
    }
}

// The provider's column that a result column refers to as it is, if any:
// the engine names the table and column it comes from, and the hub's
// catalog defines that table.
std::optional<ColumnDefinition> providerColumn(const Scenario& scenario, sqlite3_stmt* statement, int column) {
    const char* database = sqlite3_column_database_name(statement, column);
    const char* table = sqlite3_column_table_name(statement, column);
    const char* origin = sqlite3_column_origin_name(statement, column);
    if (database == nullptr || table == nullptr || origin == nullptr || std::string_view(database) != "main") {
        return std::nullopt;
    }
    const std::optional<TableDefinition> definition = scenario.tableDefinition(table);
    if (!definition) return std::nullopt;
    for (const ColumnDefinition& defined : definition->columns) {
        if (defined.name == origin) return defined;
    }
    return std::nullopt;
}

ResultHeader header(const Scenario& scenario, sqlite3_stmt* statement, std::string_view text) {
    ResultHeader header{text, {}};
    const int columns = sqlite3_column_count(statement);
    for (int c = 0; c < columns; ++c) {
        const char* name = sqlite3_column_name(statement, c);
        header.columns.push_back({name ? name : "", providerColumn(scenario, statement, c)});
    }
    return header;
}

// Runs one prepared statement to its end, handing the rows of a statement
// that has columns to the sink as they are stepped; the connection's lock is
// held.
void run(const Scenario& scenario, Statement statement, std::string_view text, ResultSink& sink) {
    sqlite3_stmt* raw = statement.get();
    const ResultHeader names = header(scenario, raw, text);
    const bool hasResult = !names.columns.empty();
    std::vector<ValueView> values(names.columns.size());
    bool begun = false;
    int stepped;
    while ((stepped = sqlite3_step(raw)) == SQLITE_ROW) {
        if (!hasResult) continue;
        if (!begun) sink.begin(names);
        begun = true;
        for (std::size_t c = 0; c < values.size(); ++c) values[c] = columnValue(raw, static_cast<int>(c));
        sink.row(values);
    }
    const std::string message = stepped == SQLITE_DONE ? std::string() : sqlite3_errmsg(sqlite3_db_handle(raw));
    // Finishing the statement closes its scans, which terminate their requests.
    statement.reset();
    if (auto failures = takeEntryFailures()) throw EntryFailure(*failures + shown(text));
    if (stepped != SQLITE_DONE) throw StatementError(message + shown(text));
    if (!hasResult) return;
    if (!begun) sink.begin(names);
    sink.end();
}

}  // namespace

void recordEntryFailure(const std::string& message) {
    if (pendingEntryFailures) {
        *pendingEntryFailures += "; " + message;
    } else {
        pendingEntryFailures = message;
    }
}

std::optional<std::string> takeEntryFailures() { return std::exchange(pendingEntryFailures, std::nullopt); }

void runStatements(const Scenario& scenario, std::string_view script, ResultSink& sink) {
    if (const auto nul = nulByteError(script)) throw StatementError(*nul);
    sqlite3* db = scenario.connection();
    const char* at = script.data();
    const char* const end = script.data() + script.size();
    while (at < end) {
        ConnectionLock lock(db);
        takeEntryFailures();  // what a statement given up earlier left
        interruptionSpent(scenario);
        sqlite3_stmt* raw = nullptr;
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(db, at, static_cast<int>(end - at), &raw, &tail) != SQLITE_OK) {
            throw StatementError(sqlite3_errmsg(db) + shown(std::string_view(at, static_cast<std::size_t>(end - at))));
        }
        Statement statement(raw);
        const std::string_view text(at, static_cast<std::size_t>(tail - at));
        at = tail;
        if (!statement) continue;  // only blanks and comments
        run(scenario, std::move(statement), text, sink);
    }
}

}  // namespace hub::ds
