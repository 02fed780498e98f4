// The benchmark's results: one line per hub and provider, printed as a table
// and written as CSV.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "paired_runs.h"
#include "synthetic_hub.h"

namespace bench {

struct Measurement {
    std::string mode;      // "index" or "linear"
    HubShape shape;
    bool skipped = false;  // too slow to run with the linear walk
    PairedTimes times;
    std::size_t peakHeapBytes = 0;
    // Through SQL against the direct loop; no pairs where not measured.
    SqlPairedTimes sql;

    // The median of the pairs' CPU-time ratios.
    double ratio() const { return times.ratioCpu.median; }
    double nanosecondsPerRow() const { return times.queryCpu.median / static_cast<double>(shape.rows()); }
};

// The table of one provider: medians of the pairs, ratios with their
// quartiles.
void printTable(std::ostream& out, const std::string& title, const std::vector<Measurement>& lines);

// Every measurement, one line each, with a header.
void writeCsv(std::ostream& out, const std::vector<Measurement>& lines);

}  // namespace bench
