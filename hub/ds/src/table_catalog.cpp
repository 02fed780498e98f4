// HUB.TABLECOLS, one row per column of a provider's table:
//
//   CREATE TABLE HUB.TABLECOLS (TABLE_NAME VARCHAR(32) NOT NULL, SEQ INTEGER NOT NULL,
//                               COLUMN_NAME VARCHAR(10) NOT NULL, DATA_TYPE VARCHAR(8) NOT NULL,
//                               ROW_OFFSET INTEGER, WIDTH INTEGER NOT NULL,
//                               INDEX_COLUMN INTEGER NOT NULL DEFAULT 0);
//
// Columns come in SEQ order. DATA_TYPE is CHAR (fixed width, blank-padded)
// or INTEGER (signed 32-bit, WIDTH 4). ROW_OFFSET and WIDTH place the column
// in the row a provider hands back; a column without ROW_OFFSET is a
// parameter: no part of the row, it only reaches the provider as an index
// filter, so it must be an index column. Conditions on an index column
// (INDEX_COLUMN 1) are handed to the provider as index filters, whose column
// names have at most 10 characters.
//
// The rows a provider hands back are as wide as the hub's own catalog (the
// default scenario's) describes them: a scenario may describe a table that
// catalog knows in its own way, but not beyond the end of its row, which the
// data server would read past.
#include "table_catalog.h"

#include <algorithm>
#include <stdexcept>

#include "hub/ds/scenario.h"
#include "sqlite_handles.h"

namespace hub::ds {

namespace {

// Far beyond any row, and small enough that offset + width cannot overflow.
constexpr sqlite3_int64 kMaxRowWidth = 1 << 20;
constexpr std::size_t kMaxIndexColumnName = 10;

std::string textColumn(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column))) : std::string();
}

bool hasCatalog(sqlite3* db, const std::string& scenarioName) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM pragma_table_info('TABLECOLS', 'HUB')", -1, &raw, nullptr) !=
        SQLITE_OK) {
        throw std::runtime_error("scenario " + scenarioName + ": cannot read the tables: " + sqlite3_errmsg(db));
    }
    Statement statement(raw);
    return sqlite3_step(raw) == SQLITE_ROW && sqlite3_column_int(raw, 0) > 0;
}

ColumnDefinition readColumn(sqlite3_stmt* row, const std::string& where) {
    ColumnDefinition column;
    column.name = textColumn(row, 1);
    if (column.name.empty()) throw std::runtime_error(where + "COLUMN_NAME is empty");
    const std::string type = textColumn(row, 2);
    if (sqlite3_stricmp(type.c_str(), "CHAR") == 0) {
        column.type = ColumnType::Char;
    } else if (sqlite3_stricmp(type.c_str(), "INTEGER") == 0) {
        column.type = ColumnType::Integer;
    } else {
        throw std::runtime_error(where + "DATA_TYPE '" + type + "' is neither CHAR nor INTEGER");
    }
    const sqlite3_int64 width = sqlite3_column_int64(row, 4);
    if (sqlite3_column_type(row, 4) != SQLITE_INTEGER || width <= 0 || width > kMaxRowWidth) {
        throw std::runtime_error(where + "WIDTH must be a whole number from 1 to " + std::to_string(kMaxRowWidth));
    }
    if (column.type == ColumnType::Integer && width != 4) {
        throw std::runtime_error(where + "an INTEGER column is 4 bytes wide, not " + std::to_string(width));
    }
    column.width = static_cast<std::size_t>(width);
    column.indexColumn = sqlite3_column_int64(row, 5) != 0;
    if (sqlite3_column_type(row, 3) != SQLITE_NULL) {
        const sqlite3_int64 offset = sqlite3_column_int64(row, 3);
        if (sqlite3_column_type(row, 3) != SQLITE_INTEGER || offset < 0 || offset + width > kMaxRowWidth) {
            throw std::runtime_error(where + "ROW_OFFSET must be a whole number from 0, and the column must end within " +
                                     std::to_string(kMaxRowWidth) + " bytes");
        }
        column.offset = static_cast<std::size_t>(offset);
    } else if (!column.indexColumn) {
        throw std::runtime_error(where + "a parameter (no ROW_OFFSET) must be an index column (INDEX_COLUMN 1)");
    }
    if (column.indexColumn && column.name.size() > kMaxIndexColumnName) {
        throw std::runtime_error(where + "an index column's name has at most 10 characters");
    }
    return column;
}

std::vector<TableDefinition> readDefinitions(sqlite3* db, const std::string& scenarioName) {
    std::vector<TableDefinition> tables;
    if (!hasCatalog(db, scenarioName)) return tables;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db,
                           "SELECT TABLE_NAME, COLUMN_NAME, DATA_TYPE, ROW_OFFSET, WIDTH, INDEX_COLUMN "
                           "FROM HUB.TABLECOLS ORDER BY TABLE_NAME, SEQ",
                           -1, &raw, nullptr) != SQLITE_OK) {
        throw std::runtime_error("scenario " + scenarioName + ": cannot read HUB.TABLECOLS: " + sqlite3_errmsg(db));
    }
    Statement statement(raw);
    int stepped;
    while ((stepped = sqlite3_step(raw)) == SQLITE_ROW) {
        const std::string table = textColumn(raw, 0);
        const std::string where = "scenario " + scenarioName + ": HUB.TABLECOLS, table '" + table + "' column '" +
                                  textColumn(raw, 1) + "': ";
        if (table.empty()) throw std::runtime_error(where + "TABLE_NAME is empty");
        if (tables.empty() || tables.back().name != table) tables.push_back(TableDefinition{table, {}});
        ColumnDefinition column = readColumn(raw, where);
        auto& columns = tables.back().columns;
        const bool repeated = std::any_of(columns.begin(), columns.end(), [&](const ColumnDefinition& other) {
            return sqlite3_stricmp(other.name.c_str(), column.name.c_str()) == 0;
        });
        if (repeated) throw std::runtime_error(where + "the table has that column twice");
        columns.push_back(std::move(column));
    }
    if (stepped != SQLITE_DONE) {
        throw std::runtime_error("scenario " + scenarioName + ": cannot read HUB.TABLECOLS: " + sqlite3_errmsg(db));
    }
    for (const TableDefinition& table : tables) {
        if (table.rowWidth() == 0) {
            throw std::runtime_error("scenario " + scenarioName + ": HUB.TABLECOLS gives table '" + table.name +
                                     "' no column of the row (every column is a parameter)");
        }
    }
    return tables;
}

// The tables of the hub's own catalog, read once from the default scenario
// on a connection of their own (the default scenario's own loading asks).
const std::vector<TableDefinition>& hubTables() {
    static const std::vector<TableDefinition> tables = [] {
        const std::string name = "the default scenario";
        sqlite3* raw = nullptr;
        const int opened = sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        Connection db(raw);
        const std::string script(defaultScenarioScript());
        if (opened != SQLITE_OK || sqlite3_exec(raw, script.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            throw std::runtime_error("the hub's catalog (" + name + ") cannot be read: " +
                                     (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(opened)));
        }
        return readDefinitions(raw, name);
    }();
    return tables;
}

void checkWithinHubRows(const std::vector<TableDefinition>& tables, const std::string& scenarioName) {
    for (const TableDefinition& table : tables) {
        const auto hub = std::find_if(hubTables().begin(), hubTables().end(),
                                      [&](const TableDefinition& known) { return known.name == table.name; });
        if (hub == hubTables().end()) continue;
        const std::size_t rowWidth = hub->rowWidth();
        for (const ColumnDefinition& column : table.columns) {
            if (column.isParameter() || *column.offset + column.width <= rowWidth) continue;
            throw std::runtime_error("scenario " + scenarioName + ": HUB.TABLECOLS, table '" + table.name +
                                     "' column '" + column.name + "': ROW_OFFSET " + std::to_string(*column.offset) +
                                     " and WIDTH " + std::to_string(column.width) + " end at byte " +
                                     std::to_string(*column.offset + column.width) + ", past the end of the " +
                                     std::to_string(rowWidth) + "-byte rows its provider hands back");
        }
    }
}

}  // namespace

std::vector<TableDefinition> readTableCatalog(sqlite3* db, const std::string& scenarioName) {
    std::vector<TableDefinition> tables = readDefinitions(db, scenarioName);
    checkWithinHubRows(tables, scenarioName);
    return tables;
}

}  // namespace hub::ds
