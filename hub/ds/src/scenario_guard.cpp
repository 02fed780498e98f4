#include "scenario_guard.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "hublog.h"

namespace hub::ds {

namespace {

bool sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

bool isAny(std::string_view pragma, std::initializer_list<std::string_view> names) {
    return std::any_of(names.begin(), names.end(), [&](std::string_view name) { return sameName(pragma, name); });
}

// Why the action is refused, or nothing when it is allowed. SQLite hands the
// file name of an ATTACH only when it is a literal: a computed one is refused.
std::optional<std::string> refusalOf(int action, const char* first, const char* second, bool loaded) {
    if (action == SQLITE_ATTACH || action == SQLITE_DETACH) {
        if (loaded) {
            return std::string(action == SQLITE_ATTACH ? "ATTACH" : "DETACH") +
                   ": a loaded scenario keeps its databases";
        }
        if (action == SQLITE_DETACH || (first != nullptr && std::string_view(first) == ":memory:")) return std::nullopt;
        return (first != nullptr ? "the file " + printable(first) : std::string("a computed file name")) +
               " is refused: a scenario keeps its databases in memory (ATTACH ':memory:' AS name) and "
               "neither reads nor writes files (ATTACH of a file, VACUUM INTO)";
    }
    if (action == SQLITE_PRAGMA && first != nullptr) {
        const std::string_view pragma(first);
        if (isAny(pragma, {"temp_store_directory", "data_store_directory"})) {
            return "PRAGMA " + std::string(pragma) + ": a scenario names no directory for files";
        }
        if (loaded && second != nullptr && isAny(pragma, {"query_only", "case_sensitive_like"})) {
            return "PRAGMA " + std::string(pragma) + ": a loaded scenario keeps the setting it was loaded with";
        }
    }
    return std::nullopt;
}

int authorizeLoading(void* refusal, int action, const char* first, const char* second, const char*, const char*) {
    auto reason = refusalOf(action, first, second, false);
    if (!reason) return SQLITE_OK;
    *static_cast<std::string*>(refusal) = std::move(*reason);
    return SQLITE_DENY;
}

int authorizeLoaded(void*, int action, const char* first, const char* second, const char*, const char*) {
    return refusalOf(action, first, second, true) ? SQLITE_DENY : SQLITE_OK;
}

}  // namespace

void guardLoading(sqlite3* db, std::string* refusal) { sqlite3_set_authorizer(db, authorizeLoading, refusal); }

void guardLoaded(sqlite3* db) { sqlite3_set_authorizer(db, authorizeLoaded, nullptr); }

}  // namespace hub::ds
