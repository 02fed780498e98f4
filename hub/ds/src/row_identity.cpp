// A row's rowid is a 63-bit hash of its content and of its place among the
// rows alike in the scan. Two different rows of a statement share one with
// a chance of about n * n / 2^64 among n rows: one in twenty million for a
// million rows.
#include "row_identity.h"

#include <variant>

namespace hub::ds {

namespace {

// FNV-1a, whose low bits alone mix poorly, then a finalizer that mixes all.
uint64_t fnv1a(const std::string& bytes) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

uint64_t mixed(uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

void appendParameter(std::string& key, const std::optional<ParameterValue>& value) {
    // A tag first, so that no value reads as another of another type.
    if (!value) {
        key += 'N';
    } else if (const auto* text = std::get_if<std::string>(&*value)) {
        key += 'T' + std::to_string(text->size()) + ':' + *text;
    } else {
        key += 'I' + std::to_string(std::get<int32_t>(*value)) + ';';
    }
}

}  // namespace

sqlite3_int64 RowIdentities::rowid(const TableDefinition& table, const unsigned char* row,
                                   const std::vector<std::optional<ParameterValue>>& parameters) {
    key_.clear();
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
        const ColumnDefinition& column = table.columns[c];
        if (column.isParameter()) {
            appendParameter(key_, parameters[c]);
        } else {
            // Only the columns' bytes: what lies between them may differ from scan to scan.
            key_.append(reinterpret_cast<const char*>(row + *column.offset), column.width);
        }
    }
    const uint64_t content = fnv1a(key_);
    const uint32_t alike = seen_[content]++;
    return static_cast<sqlite3_int64>(mixed(content + mixed(alike)) >> 1);
}

}  // namespace hub::ds
