// Which conditions reach the provider, and what a plan costs.
//
// A condition on an index column becomes an index filter unless one of
// these keeps it from the provider:
// - it is an IN list: each value would be a request of its own;
// - it compares under a collation other than BINARY: the provider compares
//   bytes, and its equality would narrow the rows to other ones than the
//   engine's;
// - its value is NULL, longer than the column (a CHAR column), or longer
//   than a filter can say: no value of the column equals it, and the
//   provider could not take it whole;
// - it is on a parameter and is not an equality with a constant (below).
// IS with a value is an equality, and reaches the provider as one.
//
// A parameter column (no part of the row) takes, in every row of a scan, the
// value of the first equality (= or IS) between it and a constant that the
// scan hands over, converted to the column's type; without one it is NULL.
// Only a literal the statement writes sets it, so that its value is the
// same whatever the plan: a value from another table is there only when the
// engine happens to scan that table first. Nothing else on a parameter
// reaches the provider: its hint is its value.
//
// Costs. Every request costs the same: the provider gathers from the
// catalog and every agent it chooses, and only it knows which filters
// narrow that. A plan that hands over filters is priced a little lower, so
// that a scan repeated for each row of another table carries what it can;
// never so much lower that two requests look cheaper than one. So the
// engine never answers an OR with a request per branch (it applies the OR
// to one scan), which also keeps a parameter that one branch sets from
// having a value that depends on the plan.
#include "provider_hints.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <exception>
#include <limits>

#include "hub/ds/provider_table.h"

namespace hub::ds {

namespace {

constexpr double kRequestCost = 1.0e6;
// Below the plan without filters, but above half of it: the engine adds the
// costs of an OR's branches, and each branch's would be at least this.
constexpr double kFilteredRequestShare = 0.9;
// The engine cannot know how many rows the provider hands back, nor how many
// the filters leave: the same guess for every plan.
constexpr double kRowsPerRequest = 10000;

// What the value length of an index filter can say.
constexpr std::size_t kMaxFilterValue = std::numeric_limits<int16_t>::max();

std::optional<int16_t> filterOperator(unsigned char op) {
    switch (op) {
        case SQLITE_INDEX_CONSTRAINT_EQ: return filter_op::kEqual;
        case SQLITE_INDEX_CONSTRAINT_IS: return filter_op::kEqual;
        case SQLITE_INDEX_CONSTRAINT_NE: return filter_op::kNotEqual;
        case SQLITE_INDEX_CONSTRAINT_LT: return filter_op::kLess;
        case SQLITE_INDEX_CONSTRAINT_LE: return filter_op::kLessOrEqual;
        case SQLITE_INDEX_CONSTRAINT_GT: return filter_op::kGreater;
        case SQLITE_INDEX_CONSTRAINT_GE: return filter_op::kGreaterOrEqual;
        case SQLITE_INDEX_CONSTRAINT_LIKE: return filter_op::kLike;
        case SQLITE_INDEX_CONSTRAINT_GLOB: return filter_op::kGlob;
        case SQLITE_INDEX_CONSTRAINT_REGEXP: return filter_op::kRegexp;
        case SQLITE_INDEX_CONSTRAINT_MATCH: return filter_op::kMatch;
        case SQLITE_INDEX_CONSTRAINT_ISNOT: return filter_op::kIsNot;
        // IS NULL and IS NOT NULL have no value to hand over; LIMIT, OFFSET
        // and functions are not conditions on a column.
        default: return std::nullopt;
    }
}

// The plan travels from xBestIndex to xFilter as text: "column:op:sets," each.
std::string encodePlan(const std::vector<PlannedFilter>& plan) {
    std::string text;
    for (const PlannedFilter& filter : plan) {
        text += std::to_string(filter.column) + ':' + std::to_string(filter.op) + ':' +
                (filter.setsParameter ? '1' : '0') + ',';
    }
    return text;
}

std::string valueBytes(sqlite3_value* value) {
    const auto* bytes = sqlite3_value_type(value) == SQLITE_BLOB
                            ? static_cast<const char*>(sqlite3_value_blob(value))
                            : reinterpret_cast<const char*>(sqlite3_value_text(value));
    const int length = sqlite3_value_bytes(value);
    return std::string(bytes ? bytes : "", static_cast<std::size_t>(length));
}

std::size_t longestValue(const ColumnDefinition& column) {
    return column.type == ColumnType::Char ? std::min(column.width, kMaxFilterValue) : kMaxFilterValue;
}

// The bytes of a filter on a column of the row, if the provider can take them.
std::optional<std::string> filterValue(const ColumnDefinition& column, sqlite3_value* value) {
    // No row matches a comparison with NULL; a provider has no way to hear of one.
    if (sqlite3_value_type(value) == SQLITE_NULL) return std::nullopt;
    std::string bytes = valueBytes(value);
    if (bytes.size() > longestValue(column)) return std::nullopt;
    return bytes;
}

// The value an equality gives a parameter column, if it is one of the column's.
std::optional<ParameterValue> parameterValue(const ColumnDefinition& column, sqlite3_value* value) {
    const int type = sqlite3_value_type(value);
    if (column.type == ColumnType::Integer) {
        if (type != SQLITE_INTEGER) return std::nullopt;
        const sqlite3_int64 number = sqlite3_value_int64(value);
        if (number < std::numeric_limits<int32_t>::min() || number > std::numeric_limits<int32_t>::max()) {
            return std::nullopt;
        }
        return static_cast<int32_t>(number);
    }
    if (type != SQLITE_TEXT && type != SQLITE_INTEGER && type != SQLITE_FLOAT) return std::nullopt;
    std::string text = valueBytes(value);
    if (text.size() > longestValue(column)) return std::nullopt;
    return text;
}

std::string parameterText(const ParameterValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    return std::to_string(std::get<int32_t>(value));
}

}  // namespace

int planScan(const TableDefinition& table, sqlite3_index_info* info) {
    try {
        std::vector<PlannedFilter> plan;
        for (int i = 0; i < info->nConstraint; ++i) {
            const auto& constraint = info->aConstraint[i];
            if (!constraint.usable || constraint.iColumn < 0 ||
                static_cast<std::size_t>(constraint.iColumn) >= table.columns.size()) {
                continue;
            }
            const ColumnDefinition& column = table.columns[static_cast<std::size_t>(constraint.iColumn)];
            const std::optional<int16_t> op = filterOperator(constraint.op);
            if (!column.indexColumn || !op) continue;
            if (sqlite3_vtab_in(info, i, -1)) continue;
            if (sqlite3_stricmp(sqlite3_vtab_collation(info, i), "BINARY") != 0) continue;
            PlannedFilter filter{constraint.iColumn, *op};
            if (column.isParameter()) {
                sqlite3_value* constant = nullptr;
                if (*op != filter_op::kEqual || sqlite3_vtab_rhs_value(info, i, &constant) != SQLITE_OK) continue;
                filter.setsParameter = true;
            }
            plan.push_back(filter);
            info->aConstraintUsage[i].argvIndex = static_cast<int>(plan.size());
            info->aConstraintUsage[i].omit = 0;  // the engine applies every condition itself
        }
        info->estimatedCost = plan.empty() ? kRequestCost : kRequestCost * kFilteredRequestShare;
        info->estimatedRows = static_cast<sqlite3_int64>(kRowsPerRequest);
        info->idxStr = sqlite3_mprintf("%s", encodePlan(plan).c_str());
        if (info->idxStr == nullptr) return SQLITE_NOMEM;
        info->needToFreeIdxStr = 1;
        return SQLITE_OK;
    } catch (const std::exception&) {
        return SQLITE_NOMEM;
    }
}

std::vector<PlannedFilter> decodePlan(const char* text) {
    std::vector<PlannedFilter> plan;
    const char* at = text;
    const char* const end = text + (text ? std::strlen(text) : 0);
    while (at < end) {
        PlannedFilter filter{};
        auto parsed = std::from_chars(at, end, filter.column);
        parsed = std::from_chars(parsed.ptr + 1, end, filter.op);
        filter.setsParameter = parsed.ptr[1] == '1';
        at = parsed.ptr + 3;
        plan.push_back(filter);
    }
    return plan;
}

ScanHints scanHints(const TableDefinition& table, const std::vector<PlannedFilter>& plan, sqlite3_value** values) {
    ScanHints hints;
    hints.parameters.resize(table.columns.size());
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const ColumnDefinition& column = table.columns[static_cast<std::size_t>(plan[i].column)];
        if (plan[i].setsParameter) {
            std::optional<ParameterValue>& parameter = hints.parameters[static_cast<std::size_t>(plan[i].column)];
            // The first equality gives the value; a later one holds or not.
            if (parameter) continue;
            parameter = parameterValue(column, values[i]);
            if (parameter) hints.filters.push_back(Filter{plan[i].op, column.name, parameterText(*parameter)});
        } else if (std::optional<std::string> value = filterValue(column, values[i])) {
            hints.filters.push_back(Filter{plan[i].op, column.name, std::move(*value)});
        }
    }
    return hints;
}

}  // namespace hub::ds
