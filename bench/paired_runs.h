// Paired runs: each query run beside a floor run taken right before or
// after it, so that whatever else the machine does at that moment weighs on
// both; repeated until the ratios of the pairs agree or the time allowed for
// them is spent.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "query_timing.h"
#include "stopwatch.h"

namespace bench {

// Median, quartiles and extremes of a sample.
struct Spread {
    int count = 0;
    double median = 0;
    double lower = 0;  // first quartile
    double upper = 0;  // third quartile
    double min = 0;
    double max = 0;

    double interquartileRange() const { return upper - lower; }
};
Spread spreadOf(std::vector<double> values);

// When to stop pairing runs.
struct StopRule {
    int minPairs = 7;
    int maxPairs = 51;
    // Interquartile range of the CPU-time ratios, relative to their median,
    // at or below which the ratios count as agreeing.
    double tolerance = 0.02;
    // Wall seconds of the pairs of one hub and provider, after which no
    // further pair starts.
    double budgetSeconds = 60;
};

// The runs that make up one pair: the floor and the query are timed back to
// back, in turn one first and the other first; the data server's own part of
// handing rows back is timed once per pair, apart from both.
struct PairRunners {
    std::function<Times()> floor;
    std::function<QueryRun()> query;
    std::function<Times()> handBack;
};

struct PairedTimes {
    int pairs = 0;
    std::string stoppedBy;  // "spread", "budget" or "pairs"
    double seconds = 0;     // wall time of all pairs
    Spread queryCpu, queryWall, gatheringCpu, floorCpu, floorWall, handBackCpu;
    // Of the pairs: query / floor by each clock, and by CPU time without the
    // data server's hand-back.
    Spread ratioCpu, ratioWall, ratioCpuWithoutHandBack;
};

PairedTimes runPairs(const StopRule& rule, const PairRunners& runners);

// The same query through the SQL engine beside the direct loop, paired the
// same way: direct is the whole request, start to termination, with its
// rows read; sql the statement stepped to its end with every column read.
struct SqlPairRunners {
    std::function<Times()> direct;
    std::function<Times()> sql;
};

struct SqlPairedTimes {
    int pairs = 0;
    std::string stoppedBy;
    double seconds = 0;
    Spread directCpu, sqlCpu;
    Spread ratioCpu;  // of the pairs: sql / direct
};

SqlPairedTimes runSqlPairs(const StopRule& rule, const SqlPairRunners& runners);

}  // namespace bench
