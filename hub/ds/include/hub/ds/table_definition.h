// How the data server reads the rows of a provider's table: the table's
// definition in the hub's catalog, column by column, with where each column
// lies in the bytes of a handed-back row.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace hub::ds {

enum class ColumnType {
    Char,     // fixed width, blank-padded, no terminator
    Integer,  // signed 32-bit, in the host's byte order
};

struct ColumnDefinition {
    std::string name;
    ColumnType type = ColumnType::Char;
    // Where the column lies in the row; none for a parameter, which is no
    // part of the row and only reaches the provider as an index filter.
    std::optional<std::size_t> offset;
    std::size_t width = 0;
    // Conditions on an index column reach the provider as index filters.
    bool indexColumn = false;

    bool isParameter() const { return !offset.has_value(); }
};

struct TableDefinition {
    std::string name;
    std::vector<ColumnDefinition> columns;  // in the table's order

    // The bytes of one row: up to the end of its farthest column.
    std::size_t rowWidth() const {
        std::size_t width = 0;
        for (const ColumnDefinition& column : columns) {
            if (column.offset && *column.offset + column.width > width) width = *column.offset + column.width;
        }
        return width;
    }
};

}  // namespace hub::ds
