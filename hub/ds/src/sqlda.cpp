#include "sqlda.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <string_view>

namespace hub::ds {

namespace {

std::string upperTrimmed(const char* text) {
    std::string result;
    for (const char* c = text; *c != '\0'; ++c) {
        if (!std::isspace(static_cast<unsigned char>(*c))) result += static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    }
    return result;
}

// "CHAR(8)" -> 8; a bare CHAR is one character wide.
int charWidth(std::string_view type, std::size_t nameLength) {
    if (type.size() == nameLength) return 1;
    if (type[nameLength] != '(' || type.back() != ')') return -1;
    int width = 0;
    for (const char c : type.substr(nameLength + 1, type.size() - nameLength - 2)) {
        if (!std::isdigit(static_cast<unsigned char>(c)) || width > 1'000'000) return -1;
        width = width * 10 + (c - '0');
    }
    return width;
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

void storeBytes(std::vector<char>& buffer, const void* bytes, std::size_t size) {
    const auto* begin = static_cast<const char*>(bytes);
    buffer.assign(begin, begin + size);
}

template <typename T>
void storeNumber(std::vector<char>& buffer, T value) {
    buffer.resize(sizeof value);
    std::memcpy(buffer.data(), &value, sizeof value);
}

void storeText(std::vector<char>& buffer, sqlite3_stmt* statement, int column) {
    const unsigned char* text = sqlite3_column_text(statement, column);
    storeBytes(buffer, text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

}  // namespace

ColumnShape shapeOf(const char* declaredType) {
    if (declaredType == nullptr) return {};
    const std::string type = upperTrimmed(declaredType);
    for (const std::string_view name : {"CHARACTER", "CHAR"}) {
        if (startsWith(type, name) && !startsWith(type, "CHARACTERVARYING")) {
            const int width = charWidth(type, name.size());
            if (width >= 0) return {ColumnForm::Char, width};
        }
    }
    if (startsWith(type, "VARCHAR") || startsWith(type, "NVARCHAR") || startsWith(type, "CHARACTERVARYING") ||
        type == "TEXT") {
        return {ColumnForm::Varchar};
    }
    if (type == "INTEGER" || type == "INT" || type == "SMALLINT") return {ColumnForm::Integer};
    if (type == "REAL" || type == "FLOAT" || type == "DOUBLE" || type == "DOUBLEPRECISION") return {ColumnForm::Real};
    if (type == "BLOB") return {ColumnForm::Blob};
    return {};
}

SqldaBuffer::SqldaBuffer(int columns) {
    // No room beyond the last descriptor, as a data server may allocate it: a
    // caller that reads past columnCount reads past the allocation.
    const std::size_t size = offsetof(SQLDA, column) + static_cast<std::size_t>(columns) * sizeof(SQLVAR);
    storage_ = std::make_unique<unsigned char[]>(size);  // zeroed
    sqlda_ = reinterpret_cast<SQLDA*>(storage_.get());
    for (int i = 0; i < columns; ++i) new (sqldaColumn(sqlda_, i)) SQLVAR{};
    std::memcpy(sqlda_->eyeCatcher, "SQLDA   ", sizeof sqlda_->eyeCatcher);
    sqlda_->allocatedColumns = columns;
    sqlda_->columnCount = static_cast<int16_t>(columns);
}

OutputColumns::OutputColumns(sqlite3_stmt* statement, int delivered)
    : statementColumns_(sqlite3_column_count(statement)), sqlda_(delivered), buffers_(static_cast<std::size_t>(delivered)) {
    for (int i = 0; i < delivered; ++i) {
        const ColumnShape shape =
            i < statementColumns_ ? shapeOf(sqlite3_column_decltype(statement, i)) : ColumnShape{ColumnForm::Empty};
        shapes_.push_back(shape);
        sqldaColumn(sqlda_.get(), i)->dataType = static_cast<int16_t>(shape.form);
        buffers_[static_cast<std::size_t>(i)].reserve(std::max(shape.width, 8));  // never a null address
    }
}

std::optional<int> OutputColumns::deliverRow(sqlite3_stmt* statement) {
    std::optional<int> tooLong;
    for (int i = 0; i < static_cast<int>(shapes_.size()); ++i) {
        SQLVAR* var = sqldaColumn(sqlda_.get(), i);
        std::vector<char>& buffer = buffers_[static_cast<std::size_t>(i)];
        const ColumnShape& shape = shapes_[static_cast<std::size_t>(i)];
        buffer.clear();
        const int type = shape.form == ColumnForm::Empty ? SQLITE_NULL : sqlite3_column_type(statement, i);
        if (shape.form == ColumnForm::Empty) {
            // nothing: an empty value
        } else if (type == SQLITE_NULL) {
            var->dataLength = -1;
            var->dataAddress = nullptr;
            continue;
        } else if (type == SQLITE_BLOB || shape.form == ColumnForm::Blob) {
            storeBytes(buffer, sqlite3_column_blob(statement, i), static_cast<std::size_t>(sqlite3_column_bytes(statement, i)));
        } else if (shape.form == ColumnForm::Char) {
            storeText(buffer, statement, i);
            if (buffer.size() < static_cast<std::size_t>(shape.width)) buffer.resize(static_cast<std::size_t>(shape.width), ' ');
        } else if (shape.form == ColumnForm::Varchar) {
            storeText(buffer, statement, i);
        } else if (shape.form == ColumnForm::Integer || (shape.form == ColumnForm::ByValue && type == SQLITE_INTEGER)) {
            // Wider values wrap, so that a scenario can feed any 32-bit pattern.
            storeNumber(buffer, static_cast<int32_t>(sqlite3_column_int64(statement, i)));
        } else if (shape.form == ColumnForm::Real || (shape.form == ColumnForm::ByValue && type == SQLITE_FLOAT)) {
            storeNumber(buffer, sqlite3_column_double(statement, i));
        } else {
            storeText(buffer, statement, i);
        }
        constexpr std::size_t kLongest = std::numeric_limits<int16_t>::max();
        if (buffer.size() > kLongest && !tooLong) tooLong = i;
        var->dataLength = static_cast<int16_t>(std::min(buffer.size(), kLongest));
        var->dataAddress = buffer.data();
    }
    return tooLong;
}

}  // namespace hub::ds
