// Rowids of a provider's table. The engine takes a rowid to name the same
// row in every scan of a statement (it drops the rows that two scans both
// found by their rowids, and compares the rowids of different scans), but a
// provider's rows have no identity of their own and come back in whatever
// order and number its filters give. So a row's rowid is made from what it
// holds: the bytes of its columns and the values of its parameters. Rows
// alike in all of that are told apart by their order among their like
// within the scan, which every scan that finds them shares.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "provider_hints.h"

namespace hub::ds {

class RowIdentities {
  public:
    // Forgets the rows of the previous scan.
    void startScan() { seen_.clear(); }

    // The rowid of `row`, a row of `table` handed back in this scan with the
    // scan's `parameters`. Ask once per row: a second call counts the row
    // as another one alike.
    sqlite3_int64 rowid(const TableDefinition& table, const unsigned char* row,
                        const std::vector<std::optional<ParameterValue>>& parameters);

  private:
    std::string key_;  // the row's content; kept to reuse its storage
    // The rows of this scan by the hash of their content: how many so far.
    std::unordered_map<uint64_t, uint32_t> seen_;
};

}  // namespace hub::ds
