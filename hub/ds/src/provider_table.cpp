// A provider's table as an eponymous virtual table of SQLite. Each xFilter
// starts a request and each xClose (or the next xFilter of the same cursor,
// as a correlated subquery makes it) terminates it, so every scan is one
// request whatever ends it. Rows are read in place: a handed-back row stays
// valid until its request is terminated. What a scan hands over to the
// provider is provider_hints.h's business; rowids are row_identity.h's.
#include "hub/ds/provider_table.h"

#include <sqlite3.h>

#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "entry_failures.h"
#include "hub/ds/request.h"
#include "provider_hints.h"
#include "row_fields.h"
#include "row_identity.h"

namespace hub::ds {

namespace {

// The status with which entry 2 says that no row is left.
constexpr int32_t kNoMoreRows = 62;

struct Module {
    TableDefinition table;
    std::vector<RowField> fields;  // the table's columns, in its order
    std::size_t rowWidth;
    const PRB1_VectorRecord* vector;
    ScanOptions options;
    std::string declaration;
};

struct Table : sqlite3_vtab {
    const Module* module;
};

class Cursor : public sqlite3_vtab_cursor {
  public:
    explicit Cursor(const Module& module) : module_(module), parameters_(module.table.columns.size()) {}
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    // Each returns an SQLite status; failures leave a message for the engine.
    int start(const std::vector<PlannedFilter>& plan, sqlite3_value** values);
    int next();
    // Terminates the request, if one is open; the failure's message, if it fails.
    std::optional<std::string> terminate();

    bool atEnd() const { return row_ == nullptr; }
    sqlite3_int64 rowid();
    void column(sqlite3_context* context, int index) const;

  private:
    int fail(std::string message, bool entryFailed);
    int report(const std::string& message);
    int32_t callEntry(const PRB1_RequestSlot& slot) { return slot.entry(request_->handle()); }
    // Entry 2 once; sets row_ to the row handed back, or null after the last.
    int step();

    const Module& module_;
    std::optional<Request> request_;
    const unsigned char* row_ = nullptr;
    uint64_t handedBack_ = 0;  // rows the request had handed back after the last step
    // The value each parameter column has in this scan.
    std::vector<std::optional<ParameterValue>> parameters_;
    RowIdentities identities_;
    std::optional<sqlite3_int64> rowid_;  // the current row's, once asked for
};

std::string entryFailure(const char* entry, int32_t status) {
    return std::string(entry) + " returned status " + std::to_string(status);
}

int Cursor::report(const std::string& message) {
    sqlite3_free(pVtab->zErrMsg);
    pVtab->zErrMsg = sqlite3_mprintf("%s", message.c_str());
    return SQLITE_ERROR;
}

int Cursor::fail(std::string message, bool entryFailed) {
    message = "table " + module_.table.name + ": " + message;
    if (entryFailed) recordEntryFailure(message);
    // The request ends now, not when the engine gets round to closing the scan.
    if (const auto ending = terminate()) message += "; " + *ending;
    return report(message);
}

std::optional<std::string> Cursor::terminate() {
    row_ = nullptr;
    if (!request_) return std::nullopt;
    const int32_t status = callEntry(module_.vector->terminate);
    request_.reset();
    if (status == 0) return std::nullopt;
    std::string message = "table " + module_.table.name + ": " + entryFailure("request termination (entry 3)", status);
    recordEntryFailure(message);
    return message;
}

int Cursor::start(const std::vector<PlannedFilter>& plan, sqlite3_value** values) {
    if (const auto ending = terminate()) return report(*ending);

    ScanHints hints = scanHints(module_.table, plan, values);
    parameters_ = std::move(hints.parameters);
    identities_.startScan();
    handedBack_ = 0;
    try {
        request_.emplace(module_.table.name, std::move(hints.filters), module_.rowWidth, false);
    } catch (const std::invalid_argument& error) {
        return fail(error.what(), false);
    }
    if (const int32_t status = callEntry(module_.vector->start); status != 0) {
        // A request that did not start has nothing to terminate.
        request_.reset();
        return fail(entryFailure("request start (entry 1)", status), true);
    }
    for (int pass = 1; pass < module_.options.passes; ++pass) {
        do {
            if (const int stepped = step(); stepped != SQLITE_OK) return stepped;
        } while (row_ != nullptr);
    }
    return step();  // the rows of the last pass are the table's
}

int Cursor::next() { return request_ ? step() : SQLITE_OK; }

int Cursor::step() {
    const int32_t status = callEntry(module_.vector->process);
    const Request::HandedBack handedBack = request_->handedBack();
    const uint64_t rows = handedBack.rows - handedBack_;
    handedBack_ = handedBack.rows;
    if (status == kNoMoreRows) {
        row_ = nullptr;
        return SQLITE_OK;
    }
    if (status != 0) return fail(entryFailure("request processing (entry 2)", status), true);
    if (rows != 1) {
        return fail("request processing (entry 2) returned 0 but handed back " + std::to_string(rows) + " rows", true);
    }
    row_ = static_cast<const unsigned char*>(handedBack.lastRow);
    rowid_.reset();
    return SQLITE_OK;
}

sqlite3_int64 Cursor::rowid() {
    if (!rowid_) rowid_ = identities_.rowid(module_.table, row_, parameters_);
    return *rowid_;
}

void Cursor::column(sqlite3_context* context, int index) const {
    const RowField& field = module_.fields[static_cast<std::size_t>(index)];
    const unsigned char* bytes = row_ + field.offset;
    switch (field.kind) {
        case RowField::Kind::Text: {
            const std::size_t length = trimmedLength(bytes, field.width);
            sqlite3_result_text(context, reinterpret_cast<const char*>(bytes), static_cast<int>(length),
                                SQLITE_TRANSIENT);
            return;
        }
        case RowField::Kind::Integer: {
            int32_t number;
            std::memcpy(&number, bytes, sizeof number);
            sqlite3_result_int(context, number);
            return;
        }
        case RowField::Kind::Parameter: break;
    }
    const std::optional<ParameterValue>& value = parameters_[static_cast<std::size_t>(index)];
    if (!value) {
        sqlite3_result_null(context);
    } else if (const auto* text = std::get_if<std::string>(&*value)) {
        sqlite3_result_text(context, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
    } else {
        sqlite3_result_int(context, std::get<int32_t>(*value));
    }
}

// --- The module's callbacks: none lets an exception out -----------------------

Cursor& cursorOf(sqlite3_vtab_cursor* base) { return *static_cast<Cursor*>(base); }

int connect(sqlite3* db, void* aux, int, const char* const*, sqlite3_vtab** out, char** error) {
    const auto* module = static_cast<const Module*>(aux);
    if (const int declared = sqlite3_declare_vtab(db, module->declaration.c_str()); declared != SQLITE_OK) {
        *error = sqlite3_mprintf("table %s: its definition is not a table: %s", module->table.name.c_str(),
                                 sqlite3_errmsg(db));
        return declared;
    }
    auto* table = new (std::nothrow) Table{};
    if (table == nullptr) return SQLITE_NOMEM;
    table->module = module;
    *out = table;
    return SQLITE_OK;
}

int disconnect(sqlite3_vtab* table) {
    sqlite3_free(table->zErrMsg);
    delete static_cast<Table*>(table);
    return SQLITE_OK;
}

int bestIndex(sqlite3_vtab* base, sqlite3_index_info* info) {
    return planScan(static_cast<Table*>(base)->module->table, info);
}

int open(sqlite3_vtab* base, sqlite3_vtab_cursor** out) {
    auto* cursor = new (std::nothrow) Cursor(*static_cast<Table*>(base)->module);
    if (cursor == nullptr) return SQLITE_NOMEM;
    *out = cursor;
    return SQLITE_OK;
}

int close(sqlite3_vtab_cursor* base) {
    auto* cursor = &cursorOf(base);
    try {
        // The engine ignores what closing returns: a failure to terminate is
        // recorded for the statement's runner all the same.
        cursor->terminate();
    } catch (const std::exception&) {
        // Only the message could not be made; the request is terminated.
    }
    delete cursor;
    return SQLITE_OK;
}

int filter(sqlite3_vtab_cursor* base, int, const char* plan, int count, sqlite3_value** values) {
    try {
        const std::vector<PlannedFilter> filters = decodePlan(plan);
        if (filters.size() != static_cast<std::size_t>(count)) return SQLITE_INTERNAL;
        return cursorOf(base).start(filters, values);
    } catch (const std::exception&) {
        return SQLITE_NOMEM;
    }
}

int next(sqlite3_vtab_cursor* base) {
    try {
        return cursorOf(base).next();
    } catch (const std::exception&) {
        return SQLITE_NOMEM;
    }
}
int eof(sqlite3_vtab_cursor* base) { return cursorOf(base).atEnd() ? 1 : 0; }

int column(sqlite3_vtab_cursor* base, sqlite3_context* context, int index) {
    cursorOf(base).column(context, index);
    return SQLITE_OK;
}

int rowid(sqlite3_vtab_cursor* base, sqlite3_int64* out) {
    try {
        *out = cursorOf(base).rowid();
        return SQLITE_OK;
    } catch (const std::exception&) {
        return SQLITE_NOMEM;
    }
}

const sqlite3_module kModule = [] {
    sqlite3_module module{};
    module.iVersion = 1;
    module.xCreate = nullptr;  // eponymous only: the table exists as long as the module
    module.xConnect = connect;
    module.xBestIndex = bestIndex;
    module.xDisconnect = disconnect;
    module.xDestroy = disconnect;
    module.xOpen = open;
    module.xClose = close;
    module.xFilter = filter;
    module.xNext = next;
    module.xEof = eof;
    module.xColumn = column;
    module.xRowid = rowid;
    return module;
}();

std::string quotedName(const std::string& name) {
    std::string quoted = "\"";
    for (const char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string declaration(const TableDefinition& table) {
    std::string text = "CREATE TABLE x(";
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
        const ColumnDefinition& column = table.columns[c];
        if (c > 0) text += ", ";
        text += quotedName(column.name);
        text += column.type == ColumnType::Integer ? " INTEGER" : " TEXT";
        if (column.isParameter()) text += " HIDDEN";
    }
    return text + ")";
}

}  // namespace

void attachProviderTable(const Scenario& scenario, const TableDefinition& table, const PRB1_VectorRecord& vector,
                         ScanOptions options) {
    if (options.passes < 1) throw std::invalid_argument("a scan runs at least one pass");
    auto module = std::make_unique<Module>(
        Module{table, rowFields(table), table.rowWidth(), &vector, options, declaration(table)});
    const int created = sqlite3_create_module_v2(
        scenario.connection(), table.name.c_str(), &kModule, module.get(),
        [](void* aux) { delete static_cast<Module*>(aux); });
    // SQLite has taken the module, and frees it, whatever the outcome.
    module.release();
    if (created != SQLITE_OK) {
        throw std::runtime_error("table " + table.name + " cannot be made a table of scenario " + scenario.name() +
                                 ": " + sqlite3_errstr(created));
    }
}

}  // namespace hub::ds
