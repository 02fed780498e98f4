#include "contents_check.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string_view>

#include "hub/registry.h"

namespace hub::registry::detail {
namespace {

// A name field that may lack its NUL, shown with unprintable bytes escaped.
std::string shown(const char* field, std::size_t width) {
    const std::string_view bytes(field, static_cast<std::size_t>(std::find(field, field + width, '\0') - field));
    std::string text = "'";
    for (const char c : bytes) {
        if (std::isprint(static_cast<unsigned char>(c))) {
            text += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            text += escaped;
        }
    }
    return text + "'";
}

template <std::size_t N>
bool terminated(const char (&field)[N]) {
    return std::find(field, field + N, '\0') != field + N;
}

}  // namespace

std::string tableName(const CNT1_EntryListRecord& entry) { return entry.tableName; }

ContentsCheck checkContents(const CNT1_ContentsRecord* contents) {
    if (contents == nullptr) return {kNoContents, "no contents record"};
    const auto& name = contents->providerName;
    if (!terminated(name)) {
        return {kBadProviderName,
                "provider name " + shown(name, sizeof name) + " has no NUL within its " + std::to_string(sizeof name) +
                    " bytes"};
    }
    if (name[0] == '\0') return {kBadProviderName, "provider name is empty"};

    const std::string provider = "provider '" + std::string(name) + "': ";
    if (contents->entryCount < 1 || contents->entryCount > kMaxEntries) {
        return {kBadEntryCount, provider + "entry count " + std::to_string(contents->entryCount) +
                                    " is not between 1 and " + std::to_string(kMaxEntries)};
    }
    if (contents->entryList == nullptr) return {kNoEntryList, provider + "no entry list"};
    for (int32_t i = 0; i < contents->entryCount; ++i) {
        const CNT1_EntryListRecord& entry = contents->entryList[i];
        const std::string which = provider + "entry " + std::to_string(i + 1) + " of " +
                                  std::to_string(contents->entryCount) + ": ";
        if (!terminated(entry.tableName)) {
            return {kBadTableName, which + "table name " + shown(entry.tableName, sizeof entry.tableName) +
                                       " has no NUL within its " + std::to_string(sizeof entry.tableName) +
                                       " bytes"};
        }
        if (entry.tableName[0] == '\0') return {kBadTableName, which + "table name is empty"};
        if (entry.vector == nullptr) return {kNoVector, which + "table '" + tableName(entry) + "' has no vector"};
    }
    return {kRegistered, {}};
}

}  // namespace hub::registry::detail
