// kqvbench: how the whole query through the provider compares with the floor
// of the data server delivering the same rows, on synthetic hubs from a
// hundred rows to a million, with the identity index and without it.
#include <CLI/CLI.hpp>
#include <malloc.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "floor_fetch.h"
#include "heap_meter.h"
#include "hub/ds/scenario.h"
#include "hub/ds/seams.h"
#include "hub/trace.h"
#include "loaded_providers.h"
#include "query_timing.h"
#include "report.h"
#include "synthetic_hub.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string deliverable = KQV_BENCH_DELIVERABLE;
    std::string seamBuild = KQV_BENCH_SEAM_BUILD;
    int32_t agents = 10;
    std::vector<std::string> hubs = {"100:100",       "100:10",       "1000:1000",     "1000:100",
                                     "10000:10000",   "10000:1000",   "100000:100000", "100000:10000",
                                     "1000000:1000000", "1000000:100000"};
    int64_t maxRows = 0;
    int repeat = 5;
    double budgetSeconds = 30;
    double beforeLimit = 2e10;
    std::string mode = "both";
    std::string csv = "kqvbench.csv";
    bool hubLog = false;
    bool coldHeap = false;
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

double seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

// Repeats `measure` (which returns nanoseconds) up to `repeat` times, and
// stops early once the runs together have taken `budget` seconds.
class Repetition {
  public:
    Repetition(int repeat, double budget) : repeat_(repeat), budget_(budget) {}
    bool wantsAnother() const { return static_cast<int>(runs_.size()) < repeat_ && spent_ < budget_; }
    void add(double nanoseconds) {
        runs_.push_back(nanoseconds);
        spent_ += nanoseconds / 1e9;
    }
    bench::Timing timing() const { return bench::summarize(runs_); }

  private:
    int repeat_;
    double budget_;
    double spent_ = 0;
    std::vector<double> runs_;
};

void expectRows(const char* what, int64_t rows, int64_t expected) {
    if (rows != expected) {
        throw std::runtime_error(std::string(what) + " gave " + std::to_string(rows) + " rows, not " +
                                 std::to_string(expected));
    }
}

struct HubResults {
    std::optional<bench::Measurement> withIndex;
    std::optional<bench::Measurement> withoutIndex;
};

HubResults measureHub(const bench::HubShape& shape, bench::LoadedProviders& providers, const Options& options) {
    const bool runIndex = options.mode != "before";
    const bool wantsNoIndex = options.mode != "after";
    const bool runNoIndex =
        wantsNoIndex && static_cast<double>(shape.rows()) * static_cast<double>(shape.identities) <= options.beforeLimit;

    // The catalog alone gives the routed statements without fetching rows.
    hub::ds::useScenario(hub::ds::Scenario::fromScript(bench::hubScript(shape, false), "catalog of " + shape.describe()));
    const std::vector<std::string> statements = bench::routedStatements(providers.deliverable());
    expectRows("the catalog", static_cast<int64_t>(statements.size()), shape.agents);

    const auto loadStart = Clock::now();
    hub::ds::useScenario(hub::ds::Scenario::fromScript(bench::hubScript(shape), shape.describe()));
    std::cerr << shape.describe() << ": loaded in " << std::fixed << std::setprecision(2)
              << seconds(Clock::now() - loadStart) << " s" << std::defaultfloat << std::endl;

    Repetition floor(options.repeat, options.budgetSeconds);
    Repetition handBack(options.repeat, options.budgetSeconds);
    Repetition indexed(options.repeat, options.budgetSeconds);
    Repetition linear(options.repeat, options.budgetSeconds);
    std::vector<double> indexedGathering;
    std::vector<double> linearGathering;
    std::optional<uint64_t> checksum;
    const auto sameRows = [&](const bench::QueryRun& run, const char* what) {
        expectRows(what, run.rows, shape.identities);
        if (checksum && *checksum != run.checksum) throw std::runtime_error(std::string(what) + " handed back other rows");
        checksum = run.checksum;
    };

    // Untimed first runs, so that no measurement pays for cold caches and
    // lazy binding; the slow linear walk is left out.
    expectRows("the floor", bench::fetchAll(statements), shape.rows());
    if (runIndex) sameRows(bench::runQuery(providers.deliverable()), "the query with the index");

    // Interleaved, so that a disturbance of the machine hits all alike.
    while (floor.wantsAnother() || handBack.wantsAnother() || (runIndex && indexed.wantsAnother()) || (runNoIndex && linear.wantsAnother())) {
        if (floor.wantsAnother()) {
            const auto start = Clock::now();
            const int64_t rows = bench::fetchAll(statements);
            floor.add(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
            expectRows("the floor", rows, shape.rows());
        }
        if (handBack.wantsAnother()) handBack.add(static_cast<double>(bench::handBack(shape.identities).count()));
        if (runIndex && indexed.wantsAnother()) {
            const bench::QueryRun run = bench::runQuery(providers.deliverable());
            sameRows(run, "the query with the index");
            indexed.add(static_cast<double>(run.elapsed.count()));
            indexedGathering.push_back(static_cast<double>(run.gathering.count()));
        }
        if (runNoIndex && linear.wantsAnother()) {
            providers.setIndexThreshold(bench::LoadedProviders::kNeverIndex);
            const bench::QueryRun run = bench::runQuery(providers.seamBuild());
            sameRows(run, "the query without the index");
            linear.add(static_cast<double>(run.elapsed.count()));
            linearGathering.push_back(static_cast<double>(run.gathering.count()));
        }
    }

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

    HubResults results;
    if (runIndex) {
        bench::Measurement line{"index", shape, false, indexed.timing(), bench::summarize(indexedGathering),
                                floor.timing(), handBack.timing(), 0};
        line.peakHeapBytes = peakHeap(bench::LoadedProviders::kDefaultThreshold, "the query with the index");
        results.withIndex = line;
    }
    if (wantsNoIndex) {
        bench::Measurement line{"no index", shape, !runNoIndex, linear.timing(), bench::summarize(linearGathering),
                                floor.timing(), handBack.timing(), 0};
        if (runNoIndex) line.peakHeapBytes = peakHeap(bench::LoadedProviders::kNeverIndex, "the query without the index");
        results.withoutIndex = line;
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

// The two targets of the index, where the table has the lines for them.
void printTargets(std::ostream& out, const std::vector<bench::Measurement>& lines) {
    if (const auto* line = find(lines, 100'000, 100'000)) {
        out << "ratio at 100,000 rows and 100,000 identities: " << line->ratio() << " (target at most 1.5); "
            << "without the data server's hand-back: " << (line->query.best - line->handBack.best) / line->floor.best
            << "\n";
    }
    for (const int64_t divisor : {1, 10}) {
        const auto* small = find(lines, 1'000, 1'000 / divisor);
        const auto* large = find(lines, 1'000'000, 1'000'000 / divisor);
        if (small != nullptr && large != nullptr) {
            out << "ns/row growth from 1,000 to 1,000,000 rows with identities = rows/" << divisor << ": "
                << large->nanosecondsPerRow() / small->nanosecondsPerRow() << " (target at most 1.5)\n";
        }
    }
}

int run(const Options& options) {
    if (options.mode != "both" && options.mode != "after" && options.mode != "before") {
        throw std::invalid_argument("--mode must be after, before or both");
    }
    std::vector<bench::HubShape> shapes;
    for (const auto& text : options.hubs) {
        const bench::HubShape shape = parseHub(text, options.agents);
        if (options.maxRows == 0 || shape.rows() <= options.maxRows) shapes.push_back(shape);
    }

    if (!options.hubLog) hub::trace::writeToNothing();
    bench::LoadedProviders providers(options.deliverable, options.seamBuild);

    std::vector<bench::Measurement> withIndex;
    std::vector<bench::Measurement> withoutIndex;
    for (const auto& shape : shapes) {
        const HubResults results = measureHub(shape, providers, options);
        if (results.withIndex) withIndex.push_back(*results.withIndex);
        if (results.withoutIndex) withoutIndex.push_back(*results.withoutIndex);
    }

    const std::string policy = "times: best of up to " + std::to_string(options.repeat) + " runs (fewer past " +
                               std::to_string(static_cast<int>(options.budgetSeconds)) + " s per measurement)";
    std::cout << "kqvbench: " << options.agents << " agents per hub; " << policy << "\n"
              << "query: first processing call to the 62, rows handed back included; floor: the routed statements\n"
              << "fetched to the end; hand-back: the data server's GetItem and PutItem for one row per identity,\n"
              << "which the query includes and the floor does not; heap: "
              << (options.coldHeap ? "malloc's defaults (--cold-heap)" : "kept warm between requests (no trimming)")
              << "\n\n";
    if (!withoutIndex.empty()) {
        bench::printTable(std::cout, "Without the index (before; seam build, threshold never; skipped beyond " +
                                         std::to_string(static_cast<int64_t>(options.beforeLimit)) +
                                         " rows x identities)",
                          withoutIndex);
        std::cout << '\n';
    }
    if (!withIndex.empty()) {
        bench::printTable(std::cout, "With the index (after; deliverable " + options.deliverable + ")", withIndex);
        printTargets(std::cout, withIndex);
    }

    std::vector<bench::Measurement> all = withoutIndex;
    all.insert(all.end(), withIndex.begin(), withIndex.end());
    std::ofstream csv(options.csv);
    if (!csv) throw std::runtime_error("cannot write " + options.csv);
    bench::writeCsv(csv, all);
    std::cout << "\nCSV: " << options.csv << '\n';
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
    app.add_option("--repeat", options.repeat, "Runs per measurement; the best is kept")->capture_default_str();
    app.add_option("--budget", options.budgetSeconds, "Seconds after which a measurement is not repeated")
        ->capture_default_str();
    app.add_option("--before-limit", options.beforeLimit,
                   "Largest rows x identities run without the index (the linear walk's comparisons)")
        ->capture_default_str();
    app.add_option("--mode", options.mode, "after (index), before (no index) or both")->capture_default_str();
    app.add_option("--csv", options.csv, "Where to write the CSV")->capture_default_str();
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
