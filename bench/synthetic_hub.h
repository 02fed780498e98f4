// Synthetic hubs for the benchmark: A agents behind one origin node, each
// reporting R status rows, spread over D distinct (DW_NAME, VARNNAME)
// identities.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

struct HubShape {
    int32_t agents = 10;
    int64_t rowsPerAgent = 10;
    int64_t identities = 100;
    // Identities in an order unrelated to theirs, instead of ascending.
    bool scattered = false;

    int64_t rows() const { return agents * rowsPerAgent; }
    // "10 x 1000 rows, 5000 identities"
    std::string describe() const;
};

// Throws std::invalid_argument when the shape cannot be generated: no agent,
// more than 9999 agents, no row, identities outside 1..rows (at most 10^10),
// or scattered over a multiple of 2654435761.
void checkShape(const HubShape& shape);

// A scenario script for the stand-in data server. Row n (counted from 0 over
// all agents) belongs to agent n / R and carries identity n % D, so with
// D = A * R every row is its own identity, and with D = R every agent reports
// every identity once. Scattered, row n carries identity n * 2654435761 % D
// instead: as many rows per identity, in an order unrelated to theirs.
// Without status rows the script gives the same catalog
// and agents, so the provider sends the same routed statements and fetches
// nothing.
std::string hubScript(const HubShape& shape, bool withStatusRows = true);

}  // namespace bench
