#include "paired_runs.h"

#include <algorithm>
#include <cmath>

namespace bench {

namespace {

// The q-quantile of sorted values, interpolating between neighbours.
double quantile(const std::vector<double>& sorted, double q) {
    const double position = q * static_cast<double>(sorted.size() - 1);
    const auto below = static_cast<std::size_t>(std::floor(position));
    const std::size_t above = std::min(below + 1, sorted.size() - 1);
    return sorted[below] + (position - static_cast<double>(below)) * (sorted[above] - sorted[below]);
}

struct Samples {
    std::vector<double> queryCpu, queryWall, gatheringCpu, floorCpu, floorWall, handBackCpu;
    std::vector<double> ratioCpu, ratioWall, ratioCpuWithoutHandBack;

    void add(const Times& floor, const QueryRun& query, const Times& handBack) {
        queryCpu.push_back(query.elapsed.cpu);
        queryWall.push_back(query.elapsed.wall);
        gatheringCpu.push_back(query.gathering.cpu);
        floorCpu.push_back(floor.cpu);
        floorWall.push_back(floor.wall);
        handBackCpu.push_back(handBack.cpu);
        ratioCpu.push_back(query.elapsed.cpu / floor.cpu);
        ratioWall.push_back(query.elapsed.wall / floor.wall);
        ratioCpuWithoutHandBack.push_back((query.elapsed.cpu - handBack.cpu) / floor.cpu);
    }
};

}  // namespace

Spread spreadOf(std::vector<double> values) {
    Spread spread;
    spread.count = static_cast<int>(values.size());
    if (values.empty()) return spread;
    std::sort(values.begin(), values.end());
    spread.median = quantile(values, 0.5);
    spread.lower = quantile(values, 0.25);
    spread.upper = quantile(values, 0.75);
    spread.min = values.front();
    spread.max = values.back();
    return spread;
}

PairedTimes runPairs(const StopRule& rule, const PairRunners& runners) {
    Samples samples;
    PairedTimes result;
    const Stopwatch stopwatch;
    for (;;) {
        // Alternating which goes first cancels a drift of the machine's speed
        // within a pair.
        Times floor;
        QueryRun query;
        if (result.pairs % 2 == 0) {
            floor = runners.floor();
            query = runners.query();
        } else {
            query = runners.query();
            floor = runners.floor();
        }
        samples.add(floor, query, runners.handBack());
        result.pairs += 1;
        result.seconds = stopwatch.elapsed().wall / 1e9;

        if (result.pairs >= rule.maxPairs) {
            result.stoppedBy = "pairs";
            break;
        }
        const Spread ratio = spreadOf(samples.ratioCpu);
        if (result.pairs >= rule.minPairs && ratio.interquartileRange() <= rule.tolerance * ratio.median) {
            result.stoppedBy = "spread";
            break;
        }
        if (result.seconds >= rule.budgetSeconds) {
            result.stoppedBy = "budget";
            break;
        }
    }
    result.queryCpu = spreadOf(samples.queryCpu);
    result.queryWall = spreadOf(samples.queryWall);
    result.gatheringCpu = spreadOf(samples.gatheringCpu);
    result.floorCpu = spreadOf(samples.floorCpu);
    result.floorWall = spreadOf(samples.floorWall);
    result.handBackCpu = spreadOf(samples.handBackCpu);
    result.ratioCpu = spreadOf(samples.ratioCpu);
    result.ratioWall = spreadOf(samples.ratioWall);
    result.ratioCpuWithoutHandBack = spreadOf(samples.ratioCpuWithoutHandBack);
    return result;
}

}  // namespace bench
