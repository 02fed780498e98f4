// The byte formats of the fuzz inputs: a reader that never runs out (missing
// bytes read as zeros) and the writer that the seed corpus is made with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzzing {

class ByteReader {
  public:
    ByteReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool exhausted() const { return position_ >= size_; }
    uint8_t u8() { return exhausted() ? 0 : data_[position_++]; }
    int16_t i16() {
        const auto low = u8();
        const auto high = u8();
        return static_cast<int16_t>(static_cast<uint16_t>(low | (high << 8)));
    }
    // Exactly `count` bytes, zeros where the input has ended.
    std::string bytes(std::size_t count) {
        std::string out(count, '\0');
        for (char& c : out) c = static_cast<char>(u8());
        return out;
    }
    // A byte count, then that many bytes.
    std::string counted() { return bytes(u8()); }

  private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

class ByteWriter {
  public:
    ByteWriter& u8(uint8_t value) {
        bytes_.push_back(value);
        return *this;
    }
    ByteWriter& i16(int16_t value) {
        const auto bits = static_cast<uint16_t>(value);
        return u8(static_cast<uint8_t>(bits & 0xFF)).u8(static_cast<uint8_t>(bits >> 8));
    }
    // `text` cut or filled with `fill` to exactly `count` bytes.
    ByteWriter& fixed(std::string_view text, std::size_t count, char fill = ' ') {
        for (std::size_t i = 0; i < count; ++i) u8(static_cast<uint8_t>(i < text.size() ? text[i] : fill));
        return *this;
    }
    ByteWriter& counted(std::string_view text) {
        u8(static_cast<uint8_t>(text.size()));
        for (char c : text) u8(static_cast<uint8_t>(c));
        return *this;
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

// --- Result sets, as the fake data server serves them -------------------------
//
// result set := faultOp:u8 faultStatus:i16 rowCount:u8 row*
// row        := columnCount:i16 described:u8 column*      (described <= 16)
// column     := dataLength:i16 form:u8 [counted bytes if form is odd]
//   form even: the column has no address; form odd: its address holds the
//   counted bytes, filled up to dataLength when that is longer.
// Columns below columnCount that are not described are empty (length 0, no
// address).

enum class FaultOp : uint8_t {
    None,
    CreatePath,
    CreateAccessPlan,
    CreateRequest,
    GetInputSQLDA,
    OpenRequest,
    GetOutputSQLDA,
    Fetch,  // the fetch after the last row
    CloseRequest,
    DropRequest,
    DropPlan,
    DropPath,
    Count,
};

struct ColumnSeed {
    int16_t dataLength;
    bool hasAddress = true;
    std::string bytes;
};

// A column as a well-behaved data server sends it: its text, that long.
inline ColumnSeed textColumn(std::string_view text) {
    return {static_cast<int16_t>(text.size()), true, std::string(text)};
}
inline ColumnSeed intColumn(int32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return {4, true, bytes};
}

struct RowSeed {
    int16_t columnCount;
    std::vector<ColumnSeed> columns;
};

inline void writeResultSet(ByteWriter& out, const std::vector<RowSeed>& rows, FaultOp fault = FaultOp::None,
                           int16_t faultStatus = 0) {
    out.u8(static_cast<uint8_t>(fault)).i16(faultStatus).u8(static_cast<uint8_t>(rows.size()));
    for (const RowSeed& row : rows) {
        out.i16(row.columnCount).u8(static_cast<uint8_t>(row.columns.size()));
        for (const ColumnSeed& column : row.columns) {
            out.i16(column.dataLength).u8(column.hasAddress ? 1 : 0);
            if (column.hasAddress) out.counted(column.bytes);
        }
    }
}

}  // namespace fuzzing
