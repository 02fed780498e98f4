#include "reliability_support.h"

#include <cstdio>
#include <cstring>

#include "hub/ds/seams.h"

namespace reliability {

DSRequestHandle currentHandle(const hub::ds::Request& request) {
    DSRequestHandle handle = request.handle();
    handle.checkNumber = static_cast<const DSObjectHeader*>(handle.object)->checkNumber;
    return handle;
}

bool sameBytes(const DWSysRecord& a, const DWSysRecord& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool sameIdentity(const DWSysRecord& a, const DWSysRecord& b) {
    return std::memcmp(a.DW_NAME, b.DW_NAME, sizeof a.DW_NAME) == 0 &&
           std::memcmp(a.VARNNAME, b.VARNNAME, sizeof a.VARNNAME) == 0;
}

std::string describe(const DWSysRecord& row) {
    std::string text = std::string(row.VARNNAME, sizeof row.VARNNAME) + "/" +
                       std::string(row.DW_NAME, sizeof row.DW_NAME) +
                       " STATUS=" + std::to_string(row.STATUS) + " [";
    const auto* bytes = reinterpret_cast<const unsigned char*>(&row);
    for (std::size_t i = 0; i < sizeof row; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
        text += hex;
    }
    return text + "]";
}

std::string describe(const std::vector<DWSysRecord>& rows) {
    std::string text;
    for (const DWSysRecord& row : rows) text += "\n  " + describe(row);
    return text.empty() ? " (none)" : text;
}

bool sameRows(const std::vector<DWSysRecord>& a, const std::vector<DWSysRecord>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!sameBytes(a[i], b[i])) return false;
    }
    return true;
}

}  // namespace reliability
