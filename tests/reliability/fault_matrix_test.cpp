// Every point of a whole query on the default scenario made to fail, one at
// a time: each data-server call with a status of its own, each call on an
// object whose check number was spoiled, each heap allocation of the result
// tables. Each run must end without a crash or a leak, with the statuses,
// lines and rows that the provider documents for that failure.
#include <gmock/gmock.h>

#include <cstdio>
#include <iterator>
#include <set>
#include <sstream>

#include "heap_seam.h"
#include "hub_fixture.h"
#include "query_model.h"
#include "reliability_support.h"

namespace reliability {
namespace {

using hub::ds::CallRecord;
using hub::ds::ObjectKind;
using hub::ds::Op;

// No layer of the provider or of the stand-in produces it by itself.
constexpr int32_t kInjectedStatus = 4242;

const PRB1_VectorRecord& providerEntries() { return *CNT1_entryList[0].vector; }

bool onRequestInterface(Op op) { return op == Op::GetItem || op == Op::PutItem || op == Op::GetViewStorage; }

// One statement of the query and the calls it took.
struct Statement {
    enum class Kind { OriginCatalog, NodeList, Routed } kind;
    std::string origin;
    std::string agent;
    std::size_t realNode = 0;  // Routed: index into QueryShape::realNodes
};

// A literal of a statement, apostrophes undoubled.
std::string literalAfter(const std::string& text, std::string_view opening, std::string_view closing) {
    const std::size_t begin = text.find(opening);
    if (begin == std::string::npos) return {};
    const std::size_t from = begin + opening.size();
    const std::size_t end = text.find(closing, from);
    std::string literal;
    for (std::size_t i = from; i < end && i < text.size(); ++i) {
        literal += text[i];
        if (text[i] == '\'' && i + 1 < end && text[i + 1] == '\'') ++i;
    }
    return literal;
}

struct Allocation {
    ResultTable table;
    bool anchor;
    std::size_t attempt;  // the RSLTget attempt that needs the block
};

// Where a data-server call of the unfaulted run belongs.
struct CallPlace {
    int statement = -1;           // index into Baseline::statements, or -1
    std::size_t fetch = 0;        // Fetch: its position within the statement, from 1
    std::size_t requestCall = 0;  // request interface: its position among those calls, from 1
};

struct Baseline {
    kqvtest::WholeRun run;
    std::vector<CallRecord> calls;
    std::vector<CallPlace> places;  // parallel to calls
    std::vector<Statement> statements;
    uint64_t requestSerial = 0;
    std::size_t passBlocks = 0;
    std::vector<Allocation> allocations;
    QueryShape shape;
    std::set<ExpectedLine> failureLines;
};

struct Expectation {
    EntryOutcome entries;
    std::map<ObjectKind, std::size_t> leftovers;
};

class FaultMatrixTest : public kqvtest::HubFixture {
  protected:
    void SetUp() override {
        HubFixture::SetUp();
        useScenario(kqvtest::defaultScenarioScript());
        traceAll(kTraceAll);
        takeBaseline();
    }

    std::size_t maxProcessCalls() const { return baseline_.run.rows.size() + 3; }

    void takeBaseline();
    void learnNodeRows();

    // A fresh run of the query with `arm` setting up the fault on the new
    // request; returns the run and leaves the trace in capture().
    struct Run {
        kqvtest::WholeRun query;
        std::size_t heapBlocksAfterTermination = 0;
        std::size_t heapBlocksAfterRetry = 0;
        std::size_t heapBytesAfterRetry = 0;
        std::map<ObjectKind, std::size_t> leftovers;
        std::size_t released = 0;
        int32_t retriedTermination = 0;
    };
    template <typename Arm>
    Run runWith(bool retryTermination, Arm arm);

    Expectation expectForCall(std::size_t i, FaultKind kind, int32_t status) const;
    Expectation expectForAllocation(const Allocation& allocation) const;
    // Checks one run against its expectation; true when all held.
    bool check(const Run& run, const Expectation& expected, const std::string& point);
    void report(const char* what, std::size_t tried, std::size_t passed);

    Baseline baseline_;
};

template <typename Arm>
FaultMatrixTest::Run FaultMatrixTest::runWith(bool retryTermination, Arm arm) {
    hub::ds::reset();
    capture().clear();
    kqvtest::HeapSeam heap;
    kqvtest::DrivenRequest driven(providerEntries(), {});
    arm(driven.request(), heap);
    Run run;
    run.query = driven.runWhole(maxProcessCalls());
    run.heapBlocksAfterTermination = heap.outstanding();
    if (retryTermination) run.retriedTermination = qvdwsyts(currentHandle(driven.request()));
    run.heapBlocksAfterRetry = heap.outstanding();
    run.heapBytesAfterRetry = heap.outstandingBytes();
    for (const hub::ds::LiveObject& object : hub::ds::listLiveObjects()) {
        if (object.kind != ObjectKind::Request && object.kind != ObjectKind::ViewStorage) {
            ++run.leftovers[object.kind];
        }
    }
    run.released = hub::ds::releaseLeftovers();
    return run;
}

void FaultMatrixTest::takeBaseline() {
    hub::ds::reset();
    capture().clear();
    hub::ds::startRecording();
    kqvtest::HeapSeam heap;
    kqvtest::DrivenRequest driven(providerEntries(), {});
    baseline_.requestSerial = hub::ds::serialOf(driven.request().handle());
    baseline_.run = driven.runWhole(1000, [&] { baseline_.passBlocks = heap.outstanding(); });
    baseline_.calls = hub::ds::recordedCalls();
    hub::ds::stopRecording();

    const std::vector<int32_t> processing = baseline_.run.processing;
    ASSERT_EQ(baseline_.run.start, 0);
    ASSERT_FALSE(processing.empty());
    ASSERT_EQ(processing.back(), kNoMoreRows);
    ASSERT_EQ(processing.size(), baseline_.run.rows.size() + 1);
    ASSERT_EQ(baseline_.run.termination, 0);
    ASSERT_EQ(heap.outstanding(), 0u);
    ASSERT_EQ(hub::ds::releaseLeftovers(), 0u);

    // The allocations, from the result tables' own detail lines.
    std::map<int32_t, ResultTable> byElementSize{
        {static_cast<int32_t>(sizeof(InodeElement)), ResultTable::OriginNodes},
        {static_cast<int32_t>(sizeof(RealNodeElement)), ResultTable::RealNodes},
        {static_cast<int32_t>(sizeof(DWSysResultElement)), ResultTable::Results}};
    const std::map<ResultTable, int32_t> perBlock{
        {ResultTable::OriginNodes, 32}, {ResultTable::RealNodes, 32}, {ResultTable::Results, 10}};
    std::map<int32_t, ResultTable> byBlockSize;
    for (const auto& [size, table] : byElementSize) {
        byBlockSize[size * perBlock.at(table) + static_cast<int32_t>(sizeof(void*))] = table;
    }
    std::map<ResultTable, std::size_t> blocks;
    for (const hub::trace::Record& record : capture().records("kqvmutl")) {
        int size = 0;
        if (record.function == "RSLTinit" && std::sscanf(record.text.c_str(), "ElementSize %d", &size) == 1) {
            ASSERT_TRUE(byElementSize.count(size)) << record.text;
            baseline_.allocations.push_back({byElementSize[size], true, 0});
        } else if (record.function == "RSLTget" &&
                   std::sscanf(record.text.c_str(), "RSLT Table block alloc of %d bytes", &size) == 1) {
            ASSERT_TRUE(byBlockSize.count(size)) << record.text;
            const ResultTable table = byBlockSize[size];
            baseline_.allocations.push_back(
                {table, false, blocks[table]++ * static_cast<std::size_t>(perBlock.at(table)) + 1});
        }
    }
    ASSERT_EQ(baseline_.allocations.size(), heap.allocations());

    for (const hub::trace::Record& record : capture().records()) {
        if (record.kind == hub::trace::Kind::Line && isFailureLine(record.text)) {
            baseline_.failureLines.insert({record.unit, record.function, record.text});
        }
    }
    constexpr std::string_view kFetchedOrigin = "Fetched origin node is: ";
    std::vector<std::string> fetchedOrigins;
    for (const std::string& line : lines("kqvmutl", "buildOrigList")) {
        if (line.starts_with(kFetchedOrigin)) {
            fetchedOrigins.push_back(line.substr(kFetchedOrigin.size(), line.size() - kFetchedOrigin.size() - 1));
        }
    }

    // Statements, and the place of every call.
    std::size_t requestCalls = 0;
    for (const CallRecord& call : baseline_.calls) {
        CallPlace place;
        if (onRequestInterface(call.op)) {
            place.requestCall = ++requestCalls;
        } else {
            if (call.op == Op::Sql1cpli) baseline_.statements.push_back({});
            ASSERT_FALSE(baseline_.statements.empty()) << "call " << call.index << " outside a statement";
            place.statement = static_cast<int>(baseline_.statements.size() - 1);
            Statement& statement = baseline_.statements.back();
            if (call.op == Op::CreateAccessPlan) {
                if (call.text.find("FROM Y6SRV.INODESTS") != std::string::npos) {
                    statement.kind = Statement::Kind::OriginCatalog;
                } else if (call.text.find("FROM Y6SRV.TNODELST") != std::string::npos) {
                    statement.kind = Statement::Kind::NodeList;
                    statement.origin = literalAfter(call.text, "NODELIST = '", "';");
                } else {
                    statement.kind = Statement::Kind::Routed;
                    statement.agent = literalAfter(call.text, "AT('", "')");
                    statement.origin = literalAfter(call.text, "WHERE ORIGINNODE ='", "';");
                    statement.realNode = baseline_.shape.realNodes.size();
                    baseline_.shape.realNodes.push_back({statement.agent, statement.origin, {}});
                }
            }
            if (call.op == Op::Fetch) {
                std::size_t fetches = 0;
                for (std::size_t j = baseline_.places.size();
                     j-- > 0 && baseline_.places[j].statement == place.statement;) {
                    if (baseline_.calls[j].op == Op::Fetch) ++fetches;
                }
                place.fetch = fetches + 1;
            }
        }
        baseline_.places.push_back(place);
    }
    std::set<std::string> listed;
    for (const Statement& statement : baseline_.statements) {
        if (statement.kind == Statement::Kind::NodeList) listed.insert(statement.origin);
    }
    for (const std::string& origin : fetchedOrigins) {
        baseline_.shape.origins.push_back({origin, listed.count(origin) > 0});
    }
    ASSERT_EQ(baseline_.statements.front().kind, Statement::Kind::OriginCatalog);

    learnNodeRows();
    if (HasFatalFailure()) return;
    const Gathering unfaulted = simulateGathering(baseline_.shape, {});
    ASSERT_TRUE(sameRows(unfaulted.rows, baseline_.run.rows))
        << "the model does not reproduce the unfaulted query:" << describe(unfaulted.rows)
        << "\nagainst" << describe(baseline_.run.rows);
}

// Each real node's own rows: the query once per node, with every other
// node's open failing.
void FaultMatrixTest::learnNodeRows() {
    std::vector<uint64_t> openOrdinal;  // OpenRequest position of each routed statement
    std::vector<std::size_t> rowsFetched(baseline_.shape.realNodes.size());
    uint64_t opens = 0;
    for (std::size_t i = 0; i < baseline_.calls.size(); ++i) {
        const CallRecord& call = baseline_.calls[i];
        const int s = baseline_.places[i].statement;
        if (s < 0 || baseline_.statements[static_cast<std::size_t>(s)].kind != Statement::Kind::Routed) {
            if (call.op == Op::OpenRequest) ++opens;
            continue;
        }
        const Statement& statement = baseline_.statements[static_cast<std::size_t>(s)];
        if (call.op == Op::OpenRequest) openOrdinal.push_back(++opens);
        if (call.op == Op::Fetch && call.status == 0) ++rowsFetched[statement.realNode];
    }
    ASSERT_EQ(openOrdinal.size(), baseline_.shape.realNodes.size());

    for (std::size_t node = 0; node < baseline_.shape.realNodes.size(); ++node) {
        hub::ds::reset();
        capture().clear();
        for (std::size_t other = 0; other < openOrdinal.size(); ++other) {
            if (other != node) hub::ds::failNthCall(Op::OpenRequest, openOrdinal[other], kInjectedStatus);
        }
        kqvtest::DrivenRequest driven(providerEntries(), {});
        const kqvtest::WholeRun run = driven.runWhole();
        std::vector<DWSysRecord>& rows = baseline_.shape.realNodes[node].rows;
        rows.assign(run.rows.rbegin(), run.rows.rend());
        // Fetch positions stand for rows only when every fetched row is merged
        // (or none is, as from a table of the wrong shape).
        ASSERT_TRUE(rows.empty() || rows.size() == rowsFetched[node])
            << baseline_.shape.realNodes[node].agent << " merges " << rows.size() << " of "
            << rowsFetched[node] << " fetched rows";
    }
    hub::ds::reset();
}

Expectation FaultMatrixTest::expectForCall(std::size_t i, FaultKind kind, int32_t status) const {
    const CallRecord& call = baseline_.calls[i];
    const CallPlace& place = baseline_.places[i];
    Expectation expected;
    if (onRequestInterface(call.op)) {
        expected.entries = simulateEntries(simulateGathering(baseline_.shape, {}),
                                           {place.requestCall, kind == FaultKind::SpoiledCheck},
                                           maxProcessCalls());
        return expected;
    }

    const Statement& statement = baseline_.statements[static_cast<std::size_t>(place.statement)];
    const SqlLayerEffect effect = sqlLayerEffect(call.op, kind, status);
    std::vector<ExpectedLine> lines = effect.lines;
    GatheringFault fault;
    const bool queryFails = effect.prepare != 0 || effect.open != 0 || effect.close != 0;
    if (statement.kind == Statement::Kind::Routed) {
        const auto line = [&](std::string text) {
            lines.push_back({"kqvdwsys", "collectQVStatusdata", std::move(text)});
        };
        if (effect.prepare != 0 || effect.open != 0) fault.routedLostFrom[statement.realNode] = 1;
        if (effect.open != 0) line("Unable to open request for input " + std::to_string(effect.open) + "\n");
        if (effect.close != 0) line("Unable to close request for input " + std::to_string(effect.close) + "\n");
        if (effect.drop != 0) line("Unable to drop request " + std::to_string(effect.drop) + "\n");
        if (effect.endsFetching) fault.routedLostFrom[statement.realNode] = place.fetch;
    } else {
        const bool origins = statement.kind == Statement::Kind::OriginCatalog;
        const std::string function = origins ? "buildOrigList" : "buildNodeList";
        const auto line = [&](std::string text) { lines.push_back({"kqvmutl", function, std::move(text)}); };
        const auto failed = [&](const char* message, int32_t status) {
            if (status != 0) line(message + std::to_string(status));
        };
        failed("KQVUTL04E UNABLE TO CREATE SELECT REQUEST PATH - STATUS=", effect.prepare);
        failed("KQVUTL02E UNABLE TO OPEN REQUEST - STATUS=", effect.open);
        failed("KQVUTL01E UNABLE TO CLOSE REQUEST - STATUS=", effect.close);
        failed("KQVUTL03E UNABLE TO DROP REQUEST - STATUS=", effect.drop);
        if (origins) {
            fault.originQueryFails = queryFails;
            if (effect.endsFetching) fault.originsLostFrom = place.fetch;
        } else {
            fault.nodeListQueryFails = queryFails;
            if (effect.endsFetching) {
                fault.nodeListLostFrom[statement.origin] = place.fetch;
                // No member of its node list came: written whatever the trace flags.
                if (place.fetch == 1) {
                    line("KQVUTL06E ERROR IN NODE LIST TABLE - NODE " + statement.origin + " NOT FOUND");
                }
            }
        }
    }
    expected.entries = simulateEntries(simulateGathering(baseline_.shape, fault), {}, maxProcessCalls());
    expected.entries.lines.insert(expected.entries.lines.end(), lines.begin(), lines.end());
    expected.leftovers = effect.leftovers;
    return expected;
}

Expectation FaultMatrixTest::expectForAllocation(const Allocation& allocation) const {
    GatheringFault fault;
    std::vector<ExpectedLine> lines;
    if (allocation.anchor) {
        fault.tableNotCreated = true;
        fault.table = allocation.table;
    } else {
        lines.push_back({"kqvmutl", "RSLTget", "KQVUTL08E RSLT BLOCK ALLOCATION FAILED"});
        switch (allocation.table) {
            case ResultTable::OriginNodes:
                fault.originElementLost = allocation.attempt;
                lines.push_back({"kqvmutl", "buildOrigList", "KQVUTL00E UNABLE TO OBTAIN ORIGINNODE RESULT LIST"});
                break;
            case ResultTable::RealNodes:
                fault.realNodeElementLost = allocation.attempt;
                lines.push_back({"kqvmutl", "buildNodeList", "KQVUTL05E UNABLE TO OBTAIN REALNODE RESULT LIST"});
                break;
            case ResultTable::Results:
                fault.resultElementLost = allocation.attempt;
                break;
        }
    }
    Expectation expected;
    expected.entries = simulateEntries(simulateGathering(baseline_.shape, fault), {}, maxProcessCalls());
    expected.entries.lines.insert(expected.entries.lines.end(), lines.begin(), lines.end());
    return expected;
}

bool FaultMatrixTest::check(const Run& run, const Expectation& expected, const std::string& point) {
    SCOPED_TRACE(point);
    const auto failuresBefore = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    const EntryOutcome& entries = expected.entries;

    EXPECT_EQ(run.query.start, entries.start);
    EXPECT_EQ(run.query.processing, entries.processing);
    EXPECT_EQ(run.query.termination, entries.termination);
    EXPECT_TRUE(sameRows(run.query.rows, entries.rows))
        << "rows received:" << describe(run.query.rows) << "\nexpected:" << describe(entries.rows);

    if (entries.tablesLeftByTermination) {
        // The data server gave no parameter list: the provider cannot find its tables.
        EXPECT_EQ(run.heapBlocksAfterTermination, baseline_.passBlocks);
        EXPECT_EQ(run.retriedTermination, 0) << "termination retried with the request's current handle";
    } else {
        EXPECT_EQ(run.heapBlocksAfterTermination, 0u) << "heap blocks left after termination";
    }
    EXPECT_EQ(run.heapBlocksAfterRetry, 0u);
    EXPECT_EQ(run.heapBytesAfterRetry, 0u);

    std::size_t leftovers = 0;
    for (const auto& [kind, count] : expected.leftovers) leftovers += count;
    std::ostringstream left;
    for (const auto& [kind, count] : run.leftovers) left << " " << hub::ds::kindName(kind) << "=" << count;
    EXPECT_EQ(run.leftovers, expected.leftovers) << "objects not dropped:" << left.str();
    EXPECT_EQ(run.released, leftovers);

    const std::set<ExpectedLine> wanted(entries.lines.begin(), entries.lines.end());
    for (const ExpectedLine& line : wanted) {
        const std::vector<std::string> written = lines(line.unit, line.function);
        EXPECT_THAT(written, ::testing::Contains(line.text))
            << "missing line of " << line.unit << "." << line.function;
    }
    for (const hub::trace::Record& record : capture().records()) {
        if (record.kind != hub::trace::Kind::Line || !isFailureLine(record.text)) continue;
        const ExpectedLine line{record.unit, record.function, record.text};
        EXPECT_TRUE(wanted.count(line) > 0 || baseline_.failureLines.count(line) > 0)
            << "unexpected failure line " << record.unit << "." << record.function << ": " << record.text;
    }
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count() == failuresBefore;
}

void FaultMatrixTest::report(const char* what, std::size_t tried, std::size_t passed) {
    RecordProperty("fault_points_tried", static_cast<int>(tried));
    RecordProperty("fault_points_passed", static_cast<int>(passed));
    std::printf("[ fault matrix ] %s: %zu points tried, %zu passed\n", what, tried, passed);
}

std::string describeCall(const CallRecord& call, const CallPlace& place, const std::vector<Statement>& statements) {
    std::string text = "call " + std::to_string(call.index) + " " + std::string(hub::ds::opName(call.op));
    if (call.op == Op::GetItem || call.op == Op::PutItem) text += " item " + std::to_string(call.item);
    if (call.op == Op::Fetch) text += " " + std::to_string(place.fetch);
    if (place.statement >= 0) {
        const Statement& statement = statements[static_cast<std::size_t>(place.statement)];
        switch (statement.kind) {
            case Statement::Kind::OriginCatalog: text += " of the origin node query"; break;
            case Statement::Kind::NodeList: text += " of the node list query of " + statement.origin; break;
            case Statement::Kind::Routed: text += " of the query routed to " + statement.agent; break;
        }
    }
    return text;
}

TEST_F(FaultMatrixTest, EveryDataServerCallFailingWithAStatusOfItsOwn) {
    std::size_t tried = 0;
    std::size_t passed = 0;
    for (std::size_t i = 0; i < baseline_.calls.size(); ++i) {
        const CallRecord& call = baseline_.calls[i];
        const Expectation expected = expectForCall(i, FaultKind::Status, kInjectedStatus);
        const Run run = runWith(expected.entries.tablesLeftByTermination,
                                [&](hub::ds::Request&, kqvtest::HeapSeam&) {
                                    hub::ds::failCallAt(call.index, kInjectedStatus);
                                });
        ++tried;
        if (check(run, expected, describeCall(call, baseline_.places[i], baseline_.statements) +
                                     " fails with " + std::to_string(kInjectedStatus))) {
            ++passed;
        }
    }
    report("data-server calls failing", tried, passed);
    EXPECT_EQ(tried, baseline_.calls.size());
}

TEST_F(FaultMatrixTest, EveryDataServerCallOnASpoiledHandle) {
    std::size_t tried = 0;
    std::size_t passed = 0;
    for (std::size_t i = 0; i < baseline_.calls.size(); ++i) {
        const CallRecord& call = baseline_.calls[i];
        if (call.target == 0) continue;  // the two entries of the SQL service take no handle
        const Expectation expected = expectForCall(i, FaultKind::SpoiledCheck, ::ds::kStatusCheckFailed);
        const uint64_t offset = call.target - baseline_.requestSerial;
        const Run run = runWith(expected.entries.tablesLeftByTermination,
                                [&](hub::ds::Request& request, kqvtest::HeapSeam&) {
                                    if (call.index == 1) {
                                        hub::ds::spoil(offset == 0 ? request.handle() : request.viewStorageHandle());
                                    } else {
                                        hub::ds::spoilAfterCall(call.index - 1,
                                                                hub::ds::serialOf(request.handle()) + offset);
                                    }
                                });
        ++tried;
        if (check(run, expected, describeCall(call, baseline_.places[i], baseline_.statements) +
                                     " on a spoiled handle")) {
            ++passed;
        }
    }
    report("calls on spoiled handles", tried, passed);
    EXPECT_GT(tried, 0u);
}

TEST_F(FaultMatrixTest, EveryResultTableAllocationReturningNull) {
    std::size_t tried = 0;
    std::size_t passed = 0;
    for (std::size_t n = 1; n <= baseline_.allocations.size(); ++n) {
        const Allocation& allocation = baseline_.allocations[n - 1];
        const Expectation expected = expectForAllocation(allocation);
        const Run run = runWith(false, [&](hub::ds::Request&, kqvtest::HeapSeam& heap) { heap.failAllocation(n); });
        static const char* const kTables[] = {"origin node", "real node", "results"};
        const std::string what =
            allocation.anchor ? "anchor" : "block for element " + std::to_string(allocation.attempt);
        ++tried;
        if (check(run, expected, "allocation " + std::to_string(n) + ": " +
                                     kTables[static_cast<int>(allocation.table)] + " table " + what)) {
            ++passed;
        }
    }
    report("allocations failing", tried, passed);
    EXPECT_GE(tried, 6u) << "three anchors and a first block of each table";
}

}  // namespace
}  // namespace reliability
