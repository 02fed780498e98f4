#include "result_format.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

namespace host {

namespace {

using hub::ds::Value;

std::string realText(double number) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", number);
    std::string result = text;
    if (result.find_first_of(".eEni") == std::string::npos) result += ".0";  // not "inf" or "nan" either
    return result;
}

bool isNumber(const Value& value) {
    return std::holds_alternative<int64_t>(value) || std::holds_alternative<double>(value);
}

// Numbers line up on the right; a column of numbers has its name there too.
std::vector<bool> numericColumns(const hub::ds::ResultSet& result) {
    std::vector<bool> numeric(result.columns.size(), true);
    for (const auto& row : result.rows) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (!std::holds_alternative<std::monostate>(row[c]) && !isNumber(row[c])) numeric[c] = false;
        }
    }
    return numeric;
}

std::vector<std::string> columnNames(const hub::ds::ResultSet& result) {
    std::vector<std::string> names;
    for (const auto& name : result.columns) names.push_back(escapedBytes(name));
    return names;
}

void printTable(std::ostream& out, const hub::ds::ResultSet& result) {
    const std::vector<bool> numeric = numericColumns(result);
    const std::vector<std::string> names = columnNames(result);
    std::vector<std::size_t> widths;
    for (const auto& name : names) widths.push_back(name.size());
    std::vector<std::vector<std::string>> cells;
    for (const auto& row : result.rows) {
        auto& line = cells.emplace_back();
        for (std::size_t c = 0; c < row.size(); ++c) {
            line.push_back(valueText(row[c], "NULL"));
            widths[c] = std::max(widths[c], line.back().size());
        }
    }
    auto printLine = [&](const std::vector<std::string>& values, bool alignNumbers) {
        std::string line;
        for (std::size_t c = 0; c < values.size(); ++c) {
            const std::string& value = values[c];
            const std::string padding(widths[c] - value.size(), ' ');
            if (c > 0) line += "  ";
            line += alignNumbers && numeric[c] ? padding + value : value + padding;
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out << line << '\n';
    };
    printLine(names, true);
    std::vector<std::string> rule;
    for (const std::size_t width : widths) rule.emplace_back(width, '-');
    printLine(rule, false);
    for (const auto& line : cells) printLine(line, true);
    out << "(" << result.rows.size() << (result.rows.size() == 1 ? " row)" : " rows)") << '\n';
}

std::string csvField(const std::string& value) {
    if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
    std::string quoted = "\"";
    for (const char c : value) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

void printCsv(std::ostream& out, const hub::ds::ResultSet& result) {
    auto printLine = [&](const auto& values, auto text) {
        for (std::size_t c = 0; c < values.size(); ++c) out << (c > 0 ? "," : "") << csvField(text(values[c]));
        out << '\n';
    };
    printLine(columnNames(result), [](const std::string& name) { return name; });
    for (const auto& row : result.rows) printLine(row, [](const Value& value) { return valueText(value, ""); });
}

nlohmann::ordered_json jsonValue(const Value& value) {
    if (const auto* integer = std::get_if<int64_t>(&value)) return *integer;
    if (const auto* real = std::get_if<double>(&value)) return *real;
    if (std::holds_alternative<std::monostate>(value)) return nullptr;
    return valueText(value, "");
}

// An object cannot hold one name twice, as a join's columns can: a repeated
// name gets its occurrence, "DW_NAME:2".
std::vector<std::string> uniqueNames(const hub::ds::ResultSet& result) {
    std::vector<std::string> names;
    for (const std::string& name : columnNames(result)) {
        std::string unique = name;
        for (int occurrence = 2; std::find(names.begin(), names.end(), unique) != names.end(); ++occurrence) {
            unique = name + ":" + std::to_string(occurrence);
        }
        names.push_back(std::move(unique));
    }
    return names;
}

void printJson(std::ostream& out, const hub::ds::ResultSet& result) {
    const std::vector<std::string> names = uniqueNames(result);
    nlohmann::ordered_json document = nlohmann::ordered_json::array();
    for (const auto& row : result.rows) {
        nlohmann::ordered_json object = nlohmann::ordered_json::object();
        for (std::size_t c = 0; c < row.size(); ++c) object[names[c]] = jsonValue(row[c]);
        document.push_back(std::move(object));
    }
    out << document.dump(2) << '\n';
}

}  // namespace

std::string escapedBytes(std::string_view bytes, Backslash backslash) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && (byte != '\\' || backslash == Backslash::AsIs)) {
            text += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        }
    }
    return text;
}

Format parseFormat(std::string_view name) {
    if (name == "table") return Format::Table;
    if (name == "csv") return Format::Csv;
    if (name == "json") return Format::Json;
    throw std::invalid_argument("unknown format '" + std::string(name) + "' (expected table, csv or json)");
}

std::string valueText(const Value& value, std::string_view nullText) {
    if (const auto* integer = std::get_if<int64_t>(&value)) return std::to_string(*integer);
    if (const auto* real = std::get_if<double>(&value)) return realText(*real);
    if (const auto* text = std::get_if<std::string>(&value)) return escapedBytes(*text);
    if (const auto* blob = std::get_if<hub::ds::Blob>(&value)) return escapedBytes(blob->bytes);
    return std::string(nullText);
}

void printResult(std::ostream& out, const hub::ds::ResultSet& result, Format format) {
    switch (format) {
        case Format::Table: printTable(out, result); break;
        case Format::Csv: printCsv(out, result); break;
        case Format::Json: printJson(out, result); break;
    }
}

}  // namespace host
