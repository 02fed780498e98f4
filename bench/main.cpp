// kqvbench: how the whole query through the provider compares with the floor
// of the data server delivering the same rows, on synthetic hubs from a
// hundred rows to a million, with the identity index and without it.
#include <CLI/CLI.hpp>
#include <malloc.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "floor_fetch.h"
#include "heap_meter.h"
#include "hub/ds/provider_table.h"
#include "hub/ds/scenario.h"
#include "hub/ds/seams.h"
#include "hub/trace.h"
#include "loaded_providers.h"
#include "paired_runs.h"
#include "query_timing.h"
#include "report.h"
#include "stopwatch.h"
#include "synthetic_hub.h"

namespace {

struct Options {
    std::string deliverable = KQV_BENCH_DELIVERABLE;
    std::string seamBuild = KQV_BENCH_SEAM_BUILD;
    int32_t agents = 10;
    std::vector<std::string> hubs = {"100:100",       "100:10",       "1000:1000",     "1000:100",
                                     "10000:10000",   "10000:1000",   "100000:100000", "100000:10000",
                                     "1000000:1000000", "1000000:100000"};
    int64_t maxRows = 0;
    bench::StopRule stopRule;
    double linearLimit = 2e10;
    std::string mode = "index";
    std::string csv = "kqvbench.csv";
    double target = 1.25;
    bool scattered = false;
    bool hubLog = false;
    bool coldHeap = false;
    // Wall seconds per hub for the SQL column's pairs; 0 leaves it out.
    double sqlBudget = 20;
};

bench::HubShape parseHub(const std::string& text, int32_t agents) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) throw std::invalid_argument("hub '" + text + "' is not ROWS:IDENTITIES");
    const int64_t rows = std::stoll(text.substr(0, colon));
    bench::HubShape shape;
    shape.agents = agents;
    shape.rowsPerAgent = rows / agents;
    shape.identities = std::stoll(text.substr(colon + 1));
    if (rows % agents != 0) {
        throw std::invalid_argument("hub '" + text + "': " + std::to_string(rows) + " rows do not split over " +
                                    std::to_string(agents) + " agents");
    }
    bench::checkShape(shape);
    return shape;
}

void expectRows(const char* what, int64_t rows, int64_t expected) {
    if (rows != expected) {
        throw std::runtime_error(std::string(what) + " gave " + std::to_string(rows) + " rows, not " +
                                 std::to_string(expected));
    }
}

// The machine's load over the last minute, or -1 where it cannot be had.
double loadAverage() {
    double load[1];
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

// Highest and lowest load seen, for the report.
struct LoadSeen {
    double lowest = 1e9;
    double highest = -1;
    void note() {
        const double load = loadAverage();
        lowest = std::min(lowest, load);
        highest = std::max(highest, load);
    }
};

struct HubResults {
    std::optional<bench::Measurement> withIndex;
    std::optional<bench::Measurement> linear;
};

// The deliverable's table queried through the SQL engine of the hub's
// connection, against the same request run directly, in pairs.
bench::SqlPairedTimes measureSql(const hub::ds::Scenario& scenario, const bench::HubShape& shape,
                                 const bench::LoadedProviders& providers, const Options& options) {
    const std::string table = "KQVDWSYS";
    const std::optional<hub::ds::TableDefinition> definition = scenario.tableDefinition(table);
    if (!definition) throw std::runtime_error("the hub's catalog has no definition of " + table);
    hub::ds::attachProviderTable(scenario, *definition, providers.deliverable());
    const auto sql = [&] {
        int64_t rows = 0;
        const bench::Times times = bench::runSqlQuery(scenario, table, rows);
        expectRows("the query through SQL", rows, shape.identities);
        return times;
    };
    const auto direct = [&] {
        const bench::QueryRun run = bench::runQuery(providers.deliverable());
        expectRows("the query", run.rows, shape.identities);
        return run.whole;
    };
    sql();  // untimed, as the first runs of the others
    bench::StopRule rule = options.stopRule;
    rule.budgetSeconds = options.sqlBudget;
    const bench::SqlPairedTimes times = bench::runSqlPairs(rule, {direct, sql});
    std::cerr << "  sql: " << times.pairs << " pairs in " << std::fixed << std::setprecision(1) << times.seconds
              << " s (stopped by " << times.stoppedBy << "), ratio " << std::setprecision(3)
              << times.ratioCpu.median << std::defaultfloat << std::endl;
    return times;
}

HubResults measureHub(const bench::HubShape& shape, bench::LoadedProviders& providers, const Options& options) {
    const bool runIndex = options.mode != "linear";
    const bool wantsLinear = options.mode != "index";
    const bool runLinear =
        wantsLinear && static_cast<double>(shape.rows()) * static_cast<double>(shape.identities) <= options.linearLimit;

    // The catalog alone gives the routed statements without fetching rows.
    hub::ds::useScenario(hub::ds::Scenario::fromScript(bench::hubScript(shape, false), "catalog of " + shape.describe()));
    const std::vector<std::string> statements = bench::routedStatements(providers.deliverable());
    expectRows("the catalog", static_cast<int64_t>(statements.size()), shape.agents);

    const bench::Stopwatch loading;
    const auto scenario = hub::ds::Scenario::fromScript(bench::hubScript(shape), shape.describe());
    hub::ds::useScenario(scenario);
    std::cerr << shape.describe() << ": loaded in " << std::fixed << std::setprecision(2)
              << loading.elapsed().wall / 1e9 << " s" << std::defaultfloat << std::endl;

    std::optional<uint64_t> checksum;
    const auto sameRows = [&](const bench::QueryRun& run, const char* what) {
        expectRows(what, run.rows, shape.identities);
        if (checksum && *checksum != run.checksum) throw std::runtime_error(std::string(what) + " handed back other rows");
        checksum = run.checksum;
        return run;
    };
    const auto floor = [&] {
        const bench::Stopwatch stopwatch;
        const int64_t rows = bench::fetchAll(statements);
        const bench::Times times = stopwatch.elapsed();
        expectRows("the floor", rows, shape.rows());
        return times;
    };
    const auto handBack = [&] { return bench::handBack(shape.identities); };

    // Untimed first runs, so that no measurement pays for cold caches and
    // lazy binding; the slow linear walk is left out.
    floor();
    if (runIndex) sameRows(bench::runQuery(providers.deliverable()), "the query with the index");

    // Peak heap: once more through the seam build, untimed.
    const auto peakHeap = [&](int32_t threshold, const char* what) {
        providers.setIndexThreshold(threshold);
        bench::HeapMeter meter(providers.heapHooks());
        sameRows(bench::runQuery(providers.seamBuild()), what);
        if (meter.outstandingBytes() != 0) {
            throw std::runtime_error(std::string(what) + " left " + std::to_string(meter.outstandingBytes()) +
                                     " bytes of heap after termination");
        }
        return meter.peakBytes();
    };
    // Pairs of runs of one provider build, its peak heap, and a line on
    // standard error to show progress.
    const auto measure = [&](const char* mode, const PRB1_VectorRecord& provider, int32_t threshold,
                             const char* what) {
        providers.setIndexThreshold(threshold);
        bench::Measurement line{mode, shape, false, {}, 0, {}};
        line.times = bench::runPairs(
            options.stopRule, {floor, [&] { return sameRows(bench::runQuery(provider), what); }, handBack});
        line.peakHeapBytes = peakHeap(threshold, what);
        std::cerr << "  " << mode << ": " << line.times.pairs << " pairs in " << std::fixed << std::setprecision(1)
                  << line.times.seconds << " s (stopped by " << line.times.stoppedBy << "), ratio "
                  << std::setprecision(3) << line.ratio() << ", load " << std::setprecision(2) << loadAverage()
                  << std::defaultfloat << std::endl;
        return line;
    };

    HubResults results;
    if (runIndex) {
        results.withIndex = measure("index", providers.deliverable(), bench::LoadedProviders::kDefaultThreshold,
                                    "the query with the index");
        if (options.sqlBudget > 0) results.withIndex->sql = measureSql(*scenario, shape, providers, options);
    }
    if (wantsLinear) {
        results.linear = runLinear ? measure("linear", providers.seamBuild(), bench::LoadedProviders::kNeverIndex,
                                             "the query without the index")
                                   : bench::Measurement{"linear", shape, true, {}, 0, {}};
    }
    providers.setIndexThreshold(bench::LoadedProviders::kDefaultThreshold);
    hub::ds::useScenario(nullptr);
    return results;
}

const bench::Measurement* find(const std::vector<bench::Measurement>& lines, int64_t rows, int64_t identities) {
    for (const auto& line : lines) {
        if (line.shape.rows() == rows && line.shape.identities == identities && !line.skipped) return &line;
    }
    return nullptr;
}

// How the nanoseconds per row grow with the hub, where the table has the
// lines for it: the index keeps them flat.
void printGrowth(std::ostream& out, const std::vector<bench::Measurement>& lines) {
    for (const int64_t divisor : {1, 10}) {
        const auto* small = find(lines, 1'000, 1'000 / divisor);
        const auto* large = find(lines, 1'000'000, 1'000'000 / divisor);
        if (small != nullptr && large != nullptr) {
            out << "ns/row growth from 1,000 to 1,000,000 rows with identities = rows/" << divisor << ": "
                << large->nanosecondsPerRow() / small->nanosecondsPerRow() << " (target at most 1.5)\n";
        }
    }
}

// The line of the table with the highest median ratio.
const bench::Measurement* worst(const std::vector<bench::Measurement>& lines) {
    const bench::Measurement* worst = nullptr;
    for (const auto& line : lines) {
        if (!line.skipped && (worst == nullptr || line.ratio() > worst->ratio())) worst = &line;
    }
    return worst;
}

int run(const Options& options) {
    if (options.mode != "both" && options.mode != "index" && options.mode != "linear") {
        throw std::invalid_argument("--mode must be index, linear or both");
    }
    std::vector<bench::HubShape> shapes;
    for (const auto& text : options.hubs) {
        bench::HubShape shape = parseHub(text, options.agents);
        shape.scattered = options.scattered;
        if (options.maxRows == 0 || shape.rows() <= options.maxRows) shapes.push_back(shape);
    }

    if (!options.hubLog) hub::trace::writeToNothing();
    bench::LoadedProviders providers(options.deliverable, options.seamBuild);

    const bench::Stopwatch wholeRun;
    LoadSeen load;
    load.note();
    std::vector<bench::Measurement> withIndex;
    std::vector<bench::Measurement> linear;
    for (const auto& shape : shapes) {
        const HubResults results = measureHub(shape, providers, options);
        load.note();
        if (results.withIndex) withIndex.push_back(*results.withIndex);
        if (results.linear) linear.push_back(*results.linear);
    }

    const bench::StopRule& rule = options.stopRule;
    std::cout << "kqvbench: " << options.agents << " agents per hub; heap "
              << (options.coldHeap ? "at malloc's defaults (--cold-heap)" : "kept warm between requests (no trimming)")
              << "\n"
              << "query: first processing call to the 62, rows handed back included; floor: the routed statements\n"
              << "fetched to the end; hand-back: the data server's GetItem and PutItem for one row per identity,\n"
              << "which the query includes and the floor does not (w/o hb: the ratio without it).\n"
              << "Each pair is a query run and a floor run back to back; times are the calling thread's CPU time\n"
              << "(wall: wall time), medians of the pairs; ratio: median of the pairs' query/floor, with its\n"
              << "quartiles. sql: SELECT * FROM KQVDWSYS through the SQL engine, every row stepped and read,\n"
              << "paired the same way with the whole request run directly (start to termination): sql ms and\n"
              << "the median of sql/direct. Pairs: at least " << rule.minPairs << ", until the interquartile range is at most "
              << rule.tolerance * 100 << "% of the\nmedian, " << rule.maxPairs << " pairs, or " << rule.budgetSeconds
              << " s per hub and provider.\n\n";
    if (!linear.empty()) {
        bench::printTable(std::cout, "Linear walk (seam build, index threshold never; skipped beyond " +
                                         std::to_string(static_cast<int64_t>(options.linearLimit)) +
                                         " rows x identities)",
                          linear);
        std::cout << '\n';
    }
    if (!withIndex.empty()) {
        bench::printTable(std::cout, "Deliverable " + options.deliverable + " (with the index)", withIndex);
        printGrowth(std::cout, withIndex);
    }

    std::vector<bench::Measurement> all = linear;
    all.insert(all.end(), withIndex.begin(), withIndex.end());
    std::ofstream csv(options.csv);
    if (!csv) throw std::runtime_error("cannot write " + options.csv);
    bench::writeCsv(csv, all);
    std::cout << "CSV: " << options.csv << "; run time " << std::fixed << std::setprecision(0)
              << wholeRun.elapsed().wall / 1e9 << " s; load average (1 minute) " << std::setprecision(2)
              << load.lowest << " to " << load.highest << " on " << std::thread::hardware_concurrency()
              << " cores\n";

    if (const bench::Measurement* line = worst(withIndex.empty() ? linear : withIndex)) {
        std::cout << "worst median ratio: " << std::setprecision(3) << line->ratio() << " ("
                  << line->shape.describe() << "; target at most " << std::setprecision(2) << options.target
                  << ")" << std::endl;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app{"Times the whole query through the provider against the data server's floor, with and without the identity index"};
    app.add_option("--provider", options.deliverable, "The deliverable to time")->capture_default_str();
    app.add_option("--seam-provider", options.seamBuild, "The TEST_SEAMS build (peak heap, runs without the index)")
        ->capture_default_str();
    app.add_option("--agents", options.agents, "Agents per hub; rows are split evenly over them")->capture_default_str();
    app.add_option("--hubs", options.hubs, "Hubs as ROWS:IDENTITIES, comma-separated")->delimiter(',')->capture_default_str();
    app.add_option("--max-rows", options.maxRows, "Leave out hubs with more rows (0: none left out)");
    bench::StopRule& rule = options.stopRule;
    app.add_option("--min-pairs", rule.minPairs, "Pairs of runs per hub before the spread may stop them")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    app.add_option("--max-pairs", rule.maxPairs, "Pairs of runs per hub at the most")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    app.add_option("--tolerance", rule.tolerance,
                   "Stop once the interquartile range of the pairs' CPU-time ratios is at most this fraction of their median")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app.add_option("--budget", rule.budgetSeconds,
                   "Wall seconds per hub and provider after which no further pair starts")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app.add_option("--linear-limit", options.linearLimit,
                   "Largest rows x identities run with the linear walk (its comparisons)")
        ->capture_default_str();
    app.add_option("--mode", options.mode,
                   "index (the deliverable), linear (the seam build without the index) or both")
        ->capture_default_str();
    app.add_option("--target", options.target, "The ratio the worst hub is held to, printed with it")
        ->capture_default_str();
    app.add_flag("--scatter", options.scattered,
                 "Identities arrive in an order unrelated to theirs instead of ascending within each agent");
    app.add_option("--csv", options.csv, "Where to write the CSV")->capture_default_str();
    app.add_option("--sql-budget", options.sqlBudget,
                   "Wall seconds per hub for the pairs of the SQL column (0: no SQL column)")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app.add_flag("--hub-log", options.hubLog, "Show the stand-in hub's log on standard error");
    app.add_flag("--cold-heap", options.coldHeap,
                 "Leave malloc at its defaults: freed memory goes back to the system and is faulted in again");
    CLI11_PARSE(app, argc, argv);

    // A data server's heap stays warm from one request to the next: keep freed
    // memory in the process rather than giving it back and faulting it in
    // again, which on a virtual machine can cost more than the work measured.
    if (!options.coldHeap) {
        mallopt(M_MMAP_THRESHOLD, 512 * 1024 * 1024);
        mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
    }
    try {
        return run(options);
    } catch (const std::exception& error) {
        std::cerr << "kqvbench: " << error.what() << '\n';
        return 1;
    }
}
