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

namespace {

// Runs pairs until the rule stops them: `runPair(n)` runs pair n and adds its
// CPU-time ratio to `ratios`.
template <typename RunPair>
void repeatPairs(const StopRule& rule, const std::vector<double>& ratios, int& pairs, std::string& stoppedBy,
                 double& seconds, RunPair&& runPair) {
    const Stopwatch stopwatch;
    for (;;) {
        runPair(pairs);
        pairs += 1;
        seconds = stopwatch.elapsed().wall / 1e9;

        if (pairs >= rule.maxPairs) {
            stoppedBy = "pairs";
            return;
        }
        const Spread ratio = spreadOf(ratios);
        if (pairs >= rule.minPairs && ratio.interquartileRange() <= rule.tolerance * ratio.median) {
            stoppedBy = "spread";
            return;
        }
        if (seconds >= rule.budgetSeconds) {
            stoppedBy = "budget";
            return;
        }
    }
}

// Runs both, in turn the one first and the other: alternating cancels a
// drift of the machine's speed within a pair.
template <typename First, typename Second>
void inTurn(int pair, First&& first, Second&& second) {
    if (pair % 2 == 0) {
        first();
        second();
    } else {
        second();
        first();
    }
}

}  // namespace

PairedTimes runPairs(const StopRule& rule, const PairRunners& runners) {
    Samples samples;
    PairedTimes result;
    repeatPairs(rule, samples.ratioCpu, result.pairs, result.stoppedBy, result.seconds, [&](int pair) {
        Times floor;
        QueryRun query;
        inTurn(pair, [&] { floor = runners.floor(); }, [&] { query = runners.query(); });
        samples.add(floor, query, runners.handBack());
    });
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

SqlPairedTimes runSqlPairs(const StopRule& rule, const SqlPairRunners& runners) {
    std::vector<double> directCpu, sqlCpu, ratioCpu;
    SqlPairedTimes result;
    repeatPairs(rule, ratioCpu, result.pairs, result.stoppedBy, result.seconds, [&](int pair) {
        Times direct;
        Times sql;
        inTurn(pair, [&] { direct = runners.direct(); }, [&] { sql = runners.sql(); });
        directCpu.push_back(direct.cpu);
        sqlCpu.push_back(sql.cpu);
        ratioCpu.push_back(sql.cpu / direct.cpu);
    });
    result.directCpu = spreadOf(directCpu);
    result.sqlCpu = spreadOf(sqlCpu);
    result.ratioCpu = spreadOf(ratioCpu);
    return result;
}

}  // namespace bench
