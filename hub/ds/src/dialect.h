// The hub's SQL dialect, as providers write it, turned into SQLite's.
//
//   x LIKE 'pat*'            '*' is the only wildcard: '%', '_' and every other
//                            character match themselves, and case counts.
//   FROM KQV.T AT('node')    the statement runs at agent `node`: it sees only
//                            the rows of KQV.T whose AGENT is `node`. The
//                            literal may double an apostrophe to hold one.
//                            One agent per statement. The tables of schema
//                            KQV are the agents': a reference to one without
//                            AT is refused.
//   x = 'text'               a string literal compared with =, <>, !=, <, <=,
//                            > or >= ignores trailing blanks, as fixed-width
//                            columns compare (so do agent names).
//
// String literals themselves are never rewritten except as LIKE patterns and
// AT names.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace hub::ds {

// SQLite's collation that ignores trailing blanks: how text compares at the
// hub and at the agents.
inline constexpr std::string_view kFixedWidthCollation = "RTRIM";

// Whether a schema is KQV, the agents' (case does not count).
bool isAgentSchema(std::string_view schema);

class DialectError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct TranslatedStatement {
    std::string sql;                   // for SQLite
    std::optional<std::string> agent;  // where AT routes the statement
};

// Throws DialectError for an AT or LIKE that breaks the rules above; leaves
// everything else for SQLite to judge.
TranslatedStatement translateStatement(std::string_view statement);

}  // namespace hub::ds
