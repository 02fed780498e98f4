#include "hub/ds/statements.h"

#include <cctype>
#include <optional>
#include <utility>

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

Value columnValue(sqlite3_stmt* statement, int column) {
    switch (sqlite3_column_type(statement, column)) {
        case SQLITE_INTEGER: return static_cast<int64_t>(sqlite3_column_int64(statement, column));
        case SQLITE_FLOAT: return sqlite3_column_double(statement, column);
        case SQLITE_TEXT: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
            return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
        }
        case SQLITE_BLOB: {
            const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
            const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
            return Blob{bytes ? std::string(bytes, size) : std::string()};
        }
        default: return std::monostate{};
    }
}

// Runs one prepared statement to its end; the connection's lock is held.
ResultSet collect(sqlite3* db, Statement statement, std::string text) {
    ResultSet result;
    result.statement = std::move(text);
    sqlite3_stmt* raw = statement.get();
    const int columns = sqlite3_column_count(raw);
    for (int c = 0; c < columns; ++c) {
        const char* name = sqlite3_column_name(raw, c);
        result.columns.emplace_back(name ? name : "");
    }
    int stepped;
    while ((stepped = sqlite3_step(raw)) == SQLITE_ROW) {
        auto& row = result.rows.emplace_back();
        for (int c = 0; c < columns; ++c) row.push_back(columnValue(raw, c));
    }
    const std::string message = stepped == SQLITE_DONE ? std::string() : sqlite3_errmsg(db);
    // Finishing the statement closes its scans, which terminate their requests.
    statement.reset();
    if (auto failures = takeEntryFailures()) throw EntryFailure(*failures + shown(result.statement));
    if (stepped != SQLITE_DONE) throw StatementError(message + shown(result.statement));
    return result;
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

void runStatements(const Scenario& scenario, std::string_view script,
                   const std::function<void(const ResultSet&)>& onResult) {
    if (const auto nul = nulByteError(script)) throw StatementError(*nul);
    sqlite3* db = scenario.connection();
    const char* at = script.data();
    const char* const end = script.data() + script.size();
    while (at < end) {
        ResultSet result;
        {
            ConnectionLock lock(db);
            takeEntryFailures();  // what a statement given up earlier left
            interruptionSpent(scenario);
            sqlite3_stmt* raw = nullptr;
            const char* tail = nullptr;
            if (sqlite3_prepare_v2(db, at, static_cast<int>(end - at), &raw, &tail) != SQLITE_OK) {
                throw StatementError(sqlite3_errmsg(db) +
                                     shown(std::string_view(at, static_cast<std::size_t>(end - at))));
            }
            Statement statement(raw);
            const std::string_view text(at, static_cast<std::size_t>(tail - at));
            at = tail;
            if (!statement) continue;  // only blanks and comments
            result = collect(db, std::move(statement), std::string(text));
        }
        if (!result.columns.empty()) onResult(result);
    }
}

}  // namespace hub::ds
