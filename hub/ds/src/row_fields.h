// Reading the columns of a provider's rows fast: the engine asks for every
// column of every row it steps, so where each column lies is kept compact,
// and a text's trailing blanks are found eight bytes at a time.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "hub/ds/table_definition.h"

namespace hub::ds {

struct RowField {
    enum class Kind : uint8_t { Text, Integer, Parameter };
    Kind kind;
    uint32_t offset;  // in the row; none for a parameter
    uint32_t width;
};

inline std::vector<RowField> rowFields(const TableDefinition& table) {
    std::vector<RowField> fields;
    for (const ColumnDefinition& column : table.columns) {
        const RowField::Kind kind = column.isParameter()                  ? RowField::Kind::Parameter
                                    : column.type == ColumnType::Integer ? RowField::Kind::Integer
                                                                          : RowField::Kind::Text;
        fields.push_back({kind, static_cast<uint32_t>(column.offset.value_or(0)), static_cast<uint32_t>(column.width)});
    }
    return fields;
}

// The length of a blank-padded text without its trailing blanks and NULs.
inline std::size_t trimmedLength(const unsigned char* text, std::size_t length) {
    // A byte is a blank or a NUL exactly when it is zero but for bit 5.
    constexpr uint64_t kAllButBit5 = 0xDFDFDFDFDFDFDFDFull;
    while (length >= 8) {
        uint64_t word;
        std::memcpy(&word, text + length - 8, sizeof word);
        if (const uint64_t kept = word & kAllButBit5; kept != 0) {
            // The trailing blanks are the word's last bytes in memory.
            const int blankBits = std::endian::native == std::endian::little ? std::countl_zero(kept)
                                                                              : std::countr_zero(kept);
            return length - static_cast<std::size_t>(blankBits / 8);
        }
        length -= 8;
    }
    while (length > 0 && (text[length - 1] & 0xDF) == 0) --length;
    return length;
}

}  // namespace hub::ds
