#include "row_format.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace host {

namespace {

struct Column {
    const char* name;
    std::size_t offset;
    std::size_t width;
    bool numeric;
};

const Column kColumns[] = {
    {"ORIGINNODE", offsetof(DWSysRecord, ORIGINNODE), 32, false},
    {"TIMESTAMP", offsetof(DWSysRecord, TIMESTAMP), 16, false},
    {"VARNNAME", offsetof(DWSysRecord, VARNNAME), 8, false},
    {"RQMID", offsetof(DWSysRecord, RQMID), 4, false},
    {"SYSNAME", offsetof(DWSysRecord, SYSNAME), 8, false},
    {"DW_NAME", offsetof(DWSysRecord, DW_NAME), 8, false},
    {"CONNHVTCT", offsetof(DWSysRecord, CONNHVTCT), 4, true},
    {"STG_ALLOC", offsetof(DWSysRecord, STG_ALLOC), 4, true},
    {"STG_USED", offsetof(DWSysRecord, STG_USED), 4, true},
    {"DUMPTBLSZ", offsetof(DWSysRecord, DUMPTBLSZ), 4, true},
    {"DUMPTBLIUS", offsetof(DWSysRecord, DUMPTBLIUS), 4, true},
    {"TOTSTGCTL", offsetof(DWSysRecord, TOTSTGCTL), 4, true},
    {"STATUS", offsetof(DWSysRecord, STATUS), 4, true},
    {"DWLEVEL", offsetof(DWSysRecord, DWLEVEL), 4, true},
};

std::string characterValue(const char* field, std::size_t width) {
    std::size_t length = width;
    while (length > 0 && (field[length - 1] == ' ' || field[length - 1] == '\0')) --length;
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(field[i]);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            text += static_cast<char>(byte);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        }
    }
    return text;
}

std::string csvField(const std::string& value) {
    if (value.find_first_of(",\"\n") == std::string::npos) return value;
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

void printTable(std::ostream& out, const std::vector<DWSysRecord>& rows) {
    const auto& names = columnNames();
    std::vector<std::vector<std::string>> cells;
    std::vector<std::size_t> widths;
    for (const auto& name : names) widths.push_back(name.size());
    for (const auto& row : rows) {
        cells.push_back(rowValues(row));
        for (std::size_t c = 0; c < names.size(); ++c)
            widths[c] = std::max(widths[c], cells.back()[c].size());
    }
    auto printLine = [&](const std::vector<std::string>& values) {
        std::string line;
        for (std::size_t c = 0; c < values.size(); ++c) {
            const std::string& value = values[c];
            const std::string padding(widths[c] - value.size(), ' ');
            if (c > 0) line += "  ";
            line += kColumns[c].numeric ? padding + value : value + padding;
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out << line << '\n';
    };
    printLine(names);
    std::vector<std::string> rule;
    for (std::size_t width : widths) rule.emplace_back(width, '-');
    printLine(rule);
    for (const auto& values : cells) printLine(values);
    out << "(" << rows.size() << (rows.size() == 1 ? " row)" : " rows)") << '\n';
}

void printCsv(std::ostream& out, const std::vector<DWSysRecord>& rows) {
    auto printLine = [&](const std::vector<std::string>& values) {
        for (std::size_t c = 0; c < values.size(); ++c) out << (c > 0 ? "," : "") << csvField(values[c]);
        out << '\n';
    };
    printLine(columnNames());
    for (const auto& row : rows) printLine(rowValues(row));
}

int32_t numericValue(const DWSysRecord& row, const Column& column) {
    int32_t number;
    std::memcpy(&number, reinterpret_cast<const char*>(&row) + column.offset, sizeof number);
    return number;
}

void printJson(std::ostream& out, const std::vector<DWSysRecord>& rows) {
    nlohmann::ordered_json document = nlohmann::ordered_json::array();
    for (const auto& row : rows) {
        const auto values = rowValues(row);
        nlohmann::ordered_json object;
        for (std::size_t c = 0; c < std::size(kColumns); ++c) {
            if (kColumns[c].numeric) {
                object[kColumns[c].name] = numericValue(row, kColumns[c]);
            } else {
                object[kColumns[c].name] = values[c];
            }
        }
        document.push_back(std::move(object));
    }
    out << document.dump(2) << '\n';
}

}  // namespace

Format parseFormat(std::string_view name) {
    if (name == "table") return Format::Table;
    if (name == "csv") return Format::Csv;
    if (name == "json") return Format::Json;
    throw std::invalid_argument("unknown format '" + std::string(name) +
                                "' (expected table, csv or json)");
}

const std::vector<std::string>& columnNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> result;
        for (const auto& column : kColumns) result.emplace_back(column.name);
        return result;
    }();
    return names;
}

std::vector<std::string> rowValues(const DWSysRecord& row) {
    const auto* bytes = reinterpret_cast<const char*>(&row);
    std::vector<std::string> values;
    for (const auto& column : kColumns) {
        if (column.numeric) {
            values.push_back(std::to_string(numericValue(row, column)));
        } else {
            values.push_back(characterValue(bytes + column.offset, column.width));
        }
    }
    return values;
}

void printRows(std::ostream& out, const std::vector<DWSysRecord>& rows, Format format) {
    switch (format) {
        case Format::Table:
            printTable(out, rows);
            break;
        case Format::Csv:
            printCsv(out, rows);
            break;
        case Format::Json:
            printJson(out, rows);
            break;
    }
}

}  // namespace host
