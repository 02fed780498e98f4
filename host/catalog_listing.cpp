#include "catalog_listing.h"

#include <algorithm>
#include <cctype>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "hub/ds/statements.h"
#include "hub/registry.h"

namespace host {

namespace {

struct ScenarioTable {
    std::string name;  // SCHEMA.NAME
    std::string sql;   // as the scenario created it
};

bool sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
    });
}

std::string quotedName(const std::string& name) {
    std::string quoted = "\"";
    for (const char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// The rows of one query, each value as its text (empty when it is no text).
std::vector<std::vector<std::string>> rowsOf(const hub::ds::Scenario& scenario, const std::string& sql) {
    struct Rows : hub::ds::ResultSink {
        void begin(const hub::ds::ResultHeader&) override { rows.clear(); }
        void row(std::span<const hub::ds::ValueView> values) override {
            auto& row = rows.emplace_back();
            for (const hub::ds::ValueView& value : values) {
                const auto* text = std::get_if<std::string_view>(&value);
                row.emplace_back(text != nullptr ? *text : std::string_view());
            }
        }
        void end() override {}
        std::vector<std::vector<std::string>> rows;
    } sink;
    hub::ds::runStatements(scenario, sql, sink);
    return sink.rows;
}

std::vector<hub::ds::TableDefinition> providerTables(const hub::ds::Scenario& scenario) {
    std::vector<hub::ds::TableDefinition> tables;
    for (const std::string& name : hub::registry::tables()) {
        if (auto definition = scenario.tableDefinition(name)) tables.push_back(std::move(*definition));
    }
    return tables;
}

std::vector<ScenarioTable> scenarioTables(const hub::ds::Scenario& scenario) {
    std::vector<ScenarioTable> tables;
    for (const auto& schema : rowsOf(scenario, "SELECT name FROM pragma_database_list ORDER BY seq")) {
        const std::string name = schema.at(0);
        const std::string listing = "SELECT name, sql FROM " + quotedName(name) +
                                    ".sqlite_schema WHERE type IN ('table', 'view') AND name NOT GLOB 'sqlite_*' "
                                    "ORDER BY name";
        for (const auto& row : rowsOf(scenario, listing)) tables.push_back({name + "." + row.at(0), row.at(1)});
    }
    return tables;
}

void printDefinition(std::ostream& out, const hub::ds::TableDefinition& table) {
    const auto typeOf = [](const hub::ds::ColumnDefinition& column) {
        std::string type = column.type == hub::ds::ColumnType::Integer ? "INTEGER"
                                                                        : "CHAR(" + std::to_string(column.width) + ")";
        return column.isParameter() ? type + " HIDDEN" : type;
    };
    std::size_t nameWidth = 0;
    std::size_t typeWidth = 0;
    for (const auto& column : table.columns) {
        nameWidth = std::max(nameWidth, column.name.size());
        typeWidth = std::max(typeWidth, typeOf(column).size() + 1);
    }
    out << "-- " << table.name << ": a provider's table as the hub's catalog defines it, rows of "
        << table.rowWidth() << " bytes\n";
    out << "CREATE TABLE " << table.name << " (\n";
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
        const hub::ds::ColumnDefinition& column = table.columns[c];
        const std::string type = typeOf(column) + (c + 1 < table.columns.size() ? "," : "");
        std::string where = column.isParameter()
                                ? "a parameter, no part of the row"
                                : "bytes " + std::to_string(*column.offset) + " to " +
                                      std::to_string(*column.offset + column.width - 1);
        if (column.indexColumn) where += "; index column";
        out << "  " << column.name << std::string(nameWidth - column.name.size() + 1, ' ') << type
            << std::string(typeWidth - type.size() + 1, ' ') << "-- " << where << '\n';
    }
    out << ");\n";
}

}  // namespace

void printTables(std::ostream& out, const hub::ds::Scenario& scenario) {
    for (const auto& table : providerTables(scenario)) out << table.name << '\n';
    for (const auto& table : scenarioTables(scenario)) out << table.name << '\n';
}

void printSchema(std::ostream& out, const hub::ds::Scenario& scenario, const std::optional<std::string>& table) {
    bool found = false;
    for (const auto& definition : providerTables(scenario)) {
        if (table && !sameName(definition.name, *table)) continue;
        printDefinition(out, definition);
        found = true;
    }
    for (const auto& listed : scenarioTables(scenario)) {
        const std::string_view unqualified = std::string_view(listed.name).substr(listed.name.find('.') + 1);
        if (table && !sameName(listed.name, *table) && !sameName(unqualified, *table)) continue;
        out << "-- " << listed.name << "\n" << listed.sql << ";\n";
        found = true;
    }
    if (table && !found) throw std::invalid_argument("no table " + *table + " (.tables lists them)");
}

}  // namespace host
