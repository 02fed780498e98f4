// Table KQVDWSYS in the SQL engine, with the provider linked in: what
// reaches the provider from a query, how scans map to requests, and what the
// host makes of a failing entry.
#include <gmock/gmock.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "heap_seam.h"
#include "hub/ds/statements.h"
#include "hub/registry.h"
#include "hub_fixture.h"
#include "provider/kqvdwsys.h"
#include "sql_session.h"

namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

constexpr const char* kPlx2 = "PLX2:vRK:HarborStatusPanel";

class SqlTable : public kqvtest::HubFixture {
  protected:
    void SetUp() override {
        HubFixture::SetUp();
        cnt1entd();
        scenario_ = hub::ds::Scenario::fromScript(kqvtest::defaultScenarioScript(), "the default scenario");
        hub::ds::useScenario(scenario_);
        host::attachRegisteredTables(*scenario_, "KQVDWSYS", 1);
    }
    void TearDown() override {
        hub::ds::useScenario(nullptr);
        HubFixture::TearDown();
    }

    // The first column of every row, as text.
    std::vector<std::string> firstColumn(const std::string& statement) {
        struct FirstColumn : hub::ds::ResultSink {
            void begin(const hub::ds::ResultHeader&) override {}
            void row(std::span<const hub::ds::ValueView> row) override {
                values.emplace_back(std::get<std::string_view>(row[0]));
            }
            void end() override {}
            std::vector<std::string> values;
        } sink;
        hub::ds::runStatements(*scenario_, statement, sink);
        return sink.values;
    }

    std::vector<hub::ds::CallRecord> calls(hub::ds::Op op, int32_t item = 0) const {
        std::vector<hub::ds::CallRecord> found;
        for (const auto& call : hub::ds::recordedCalls()) {
            if (call.op == op && call.item == item) found.push_back(call);
        }
        return found;
    }

    std::shared_ptr<const hub::ds::Scenario> scenario_;
};

struct FilterCase {
    const char* name;
    const char* condition;
    std::vector<std::string> filterLines;  // the provider's "Index Filter" lines
    std::vector<std::string> varnexes;     // VARNNAME of each row, in order
};

class QueryConditions : public SqlTable, public ::testing::WithParamInterface<FilterCase> {};

// Conditions on ORIGINNODE and IDNAME reach the provider in the query's
// order; the engine applies every condition to the rows handed back.
TEST_P(QueryConditions, ReachTheProviderAndAreAppliedToTheRows) {
    const FilterCase& c = GetParam();
    traceAll(kTraceDetail);
    const auto rows = firstColumn(std::string("SELECT VARNNAME FROM KQVDWSYS WHERE ") + c.condition);

    std::vector<std::string> filterLines;
    for (const std::string& line : lines("kqvdwsys", "qvdwsypr")) {
        if (line.rfind("Index Filter", 0) == 0) filterLines.push_back(line);
    }
    EXPECT_THAT(filterLines, ElementsAreArray(c.filterLines));
    EXPECT_THAT(rows, ElementsAreArray(c.varnexes));
}

const std::vector<std::string> kAll{"PLX3", "PLX3", "PLX2", "PLX2", "PLX2", "PLX2", "PLX1", "PLX1", "PLX1", "PLX1"};
const std::vector<std::string> kPlx2Rows{"PLX2", "PLX2", "PLX2", "PLX2"};

INSTANTIATE_TEST_SUITE_P(
    SqlTable, QueryConditions,
    ::testing::Values(
        FilterCase{"VarnexIsNoIndexColumn", "VARNNAME = 'PLX2'", {}, kPlx2Rows},
        FilterCase{"StatusRange", "STATUS BETWEEN 1 AND 12", {}, {"PLX2", "PLX1", "PLX1"}},
        FilterCase{"OriginNode",
                   "ORIGINNODE = 'PLX2:vRK:HarborStatusPanel'",
                   {std::string("Index Filter 1 ORIGINNODE ") + kPlx2 + "\n"},
                   kPlx2Rows},
        // The provider only reports IDNAME; as a parameter it holds in every row.
        FilterCase{"IdnameOnly", "IDNAME = 'PLX2'", {"Index Filter 1 IDNAME     PLX2\n"}, kAll},
        FilterCase{"IdnameThenOriginNode",
                   "IDNAME = 'PLX1' AND ORIGINNODE = 'PLX2:vRK:HarborStatusPanel' AND STATUS >= 0",
                   {"Index Filter 1 IDNAME     PLX1\n", std::string("Index Filter 1 ORIGINNODE ") + kPlx2 + "\n"},
                   kPlx2Rows},
        // Other comparisons are handed over with codes of their own, and
        // applied by the engine, not by the provider.
        FilterCase{"OriginNodeRange",
                   "ORIGINNODE >= 'PLX2' AND ORIGINNODE < 'PLX3'",
                   {"Index Filter 6 ORIGINNODE PLX2\n", "Index Filter 3 ORIGINNODE PLX3\n"},
                   kPlx2Rows},
        FilterCase{"OriginNodeNullMatchesNothing", "ORIGINNODE = NULL", {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Two scans open at once are two requests at once on this thread: rows of
// both come back interleaved, and every request is terminated.
TEST_F(SqlTable, ScansOpenAtOnceAreSeparateRequests) {
    kqvtest::HeapSeam heap;
    hub::ds::startRecording();
    const auto rows = firstColumn(
        "SELECT a.DW_NAME FROM KQVDWSYS a JOIN KQVDWSYS b ON b.VARNNAME = a.VARNNAME AND b.DW_NAME = a.DW_NAME");
    EXPECT_EQ(rows.size(), 10u);

    const auto rowCalls = calls(hub::ds::Op::PutItem, ::ds::kItemRow);
    std::set<uint64_t> requests;
    for (const auto& call : rowCalls) requests.insert(call.target);
    EXPECT_GE(requests.size(), 2u);
    const uint64_t outer = rowCalls.front().target;
    const auto inner = std::find_if(rowCalls.begin(), rowCalls.end(), [&](const auto& call) { return call.target != outer; });
    const bool interleaved =
        std::any_of(inner, rowCalls.end(), [&](const auto& call) { return call.target == outer; });
    EXPECT_TRUE(interleaved) << "the outer scan's request handed back rows after an inner one had";
    EXPECT_EQ(calls(hub::ds::Op::GetViewStorage).size(), requests.size());
    EXPECT_EQ(hub::ds::liveObjects(hub::ds::ObjectKind::Request), 0u);
    EXPECT_EQ(heap.outstanding(), 0u);
}

// A correlated subquery filters its scan again for every outer row: the
// scan's previous request is terminated before the next starts.
TEST_F(SqlTable, ACorrelatedSubqueryStartsARequestPerOuterRow) {
    kqvtest::HeapSeam heap;
    hub::ds::startRecording();
    const auto rows = firstColumn(
        "SELECT DW_NAME FROM KQVDWSYS a WHERE STATUS = "
        "(SELECT MAX(STATUS) FROM KQVDWSYS b WHERE b.VARNNAME = a.VARNNAME)");
    EXPECT_THAT(rows, ElementsAreArray({"DWD2", "DWC2", "PLXQA2"}));
    EXPECT_EQ(calls(hub::ds::Op::GetViewStorage).size(), 11u);
    EXPECT_EQ(hub::ds::liveObjects(hub::ds::ObjectKind::Request), 0u);
    EXPECT_EQ(heap.outstanding(), 0u);
}

TEST_F(SqlTable, ALimitEndsTheRequestEarly) {
    kqvtest::HeapSeam heap;
    hub::ds::startRecording();
    EXPECT_EQ(firstColumn("SELECT DW_NAME FROM KQVDWSYS LIMIT 2").size(), 2u);
    EXPECT_EQ(calls(hub::ds::Op::PutItem, ::ds::kItemRow).size(), 2u) << "no row asked for beyond the limit";
    EXPECT_EQ(calls(hub::ds::Op::GetViewStorage).size(), 1u);
    EXPECT_EQ(hub::ds::liveObjects(hub::ds::ObjectKind::Request), 0u);
    EXPECT_EQ(heap.outstanding(), 0u);
}

// The engine gives up a statement halfway: status 2, its request terminated.
TEST_F(SqlTable, AStatementThatFailsDuringAScanStillTerminatesItsRequest) {
    kqvtest::HeapSeam heap;
    std::ostringstream out;
    std::ostringstream err;
    const int status = host::runStatements(
        *scenario_, "SELECT DW_NAME, abs(STATUS * 0 - 9223372036854775807 - 1) FROM KQVDWSYS", host::Format::Csv,
        out, err);
    EXPECT_EQ(status, host::kExitBadInput);
    EXPECT_THAT(err.str(), HasSubstr("kqvhost: integer overflow (in: SELECT DW_NAME"));
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(hub::ds::liveObjects(hub::ds::ObjectKind::Request), 0u);
    EXPECT_EQ(heap.outstanding(), 0u);
}

struct FailureCase {
    const char* name;
    hub::ds::Op op;
    int32_t item;
    uint64_t nth;  // which call of op (and item) fails
    const char* message;
};

class EntryFailures : public SqlTable, public ::testing::WithParamInterface<FailureCase> {};

// A failing entry: exit status 1, one line naming the entry and its status,
// no request left open and, once terminated, no heap of the provider.
TEST_P(EntryFailures, EndTheRunWithStatusOneAndLeaveNothingOpen) {
    const FailureCase& c = GetParam();
    kqvtest::HeapSeam heap;
    hub::ds::failNthCall(c.op, c.nth, 4242, c.item);
    std::ostringstream out;
    std::ostringstream err;
    const int status = host::runStatements(*scenario_, "SELECT 1; SELECT COUNT(*) FROM KQVDWSYS; SELECT 2",
                                           host::Format::Csv, out, err);
    EXPECT_EQ(status, host::kExitQueryFailed);
    EXPECT_EQ(out.str(), "1\n1\n") << "the results before the failure, none after";
    const std::string report = err.str();
    EXPECT_THAT(report, HasSubstr(std::string("kqvhost: table KQVDWSYS: ") + c.message));
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << report;
    EXPECT_EQ(hub::ds::liveObjects(hub::ds::ObjectKind::Request), 0u);
    EXPECT_EQ(heap.outstanding(), 0u);
}

// Entry 1 asks for the parameter list once and for view storage; entry 2's
// gathering call asks for the parameter list and every later call once more.
// A work area that was never registered makes entry 2 and entry 3 fail alike.
INSTANTIATE_TEST_SUITE_P(
    SqlTable, EntryFailures,
    ::testing::Values(
        FailureCase{"Start", hub::ds::Op::GetViewStorage, 0, 1, "request start (entry 1) returned status 64"},
        FailureCase{"GatheringCall", hub::ds::Op::GetItem, ::ds::kItemParameterList, 2,
                    "request processing (entry 2) returned status 60"},
        FailureCase{"LaterRow", hub::ds::Op::GetItem, ::ds::kItemParameterList, 6,
                    "request processing (entry 2) returned status 60"},
        FailureCase{"AlsoTermination", hub::ds::Op::PutItem, ::ds::kItemWorkArea, 1,
                    "request processing (entry 2) returned status 71; "
                    "table KQVDWSYS: request termination (entry 3) returned status 71"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// An output that takes `room` bytes and fails every write after them, as a
// full disk does.
class FullOutput : public std::streambuf {
  public:
    explicit FullOutput(std::size_t room) : room_(room) {}
    std::string written;

  protected:
    std::streamsize xsputn(const char* bytes, std::streamsize count) override {
        const auto taken = std::min(room_ - written.size(), static_cast<std::size_t>(count));
        written.append(bytes, taken);
        return static_cast<std::streamsize>(taken);
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }

  private:
    std::size_t room_;
};

struct StreamCase {
    const char* name;
    host::Format format;
    std::string statements;
    int status;
    std::vector<std::string> head;  // the first lines written
    std::vector<std::string> tail;  // the last lines, after those
    std::size_t lines;              // how many lines were written
    const char* error = "";         // in the message on standard error
    uint64_t failingRowCall = 0;    // which GetItem of the parameter list fails (entry 2 of a row)
    std::size_t outputRoom = std::string::npos;
};

class StreamedResults : public SqlTable, public ::testing::WithParamInterface<StreamCase> {};

// Rows are written as they come: a result longer than the table format's
// sample keeps its columns, and a statement, an entry or the output that
// fails after some rows leaves those rows written, every request terminated.
TEST_P(StreamedResults, AreWrittenRowByRow) {
    const StreamCase& c = GetParam();
    kqvtest::HeapSeam heap;
    if (c.failingRowCall != 0) hub::ds::failNthCall(hub::ds::Op::GetItem, c.failingRowCall, 4242, ::ds::kItemParameterList);
    FullOutput output(c.outputRoom);
    std::ostream out(&output);
    std::ostringstream err;
    const int status = host::runStatements(*scenario_, c.statements, c.format, out, err);
    EXPECT_EQ(status, c.status);
    EXPECT_THAT(err.str(), HasSubstr(c.error));

    std::vector<std::string> lines;
    std::istringstream written(output.written);
    for (std::string line; std::getline(written, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), c.lines) << output.written.substr(0, 2000);
    EXPECT_THAT(std::vector(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(c.head.size())),
                ElementsAreArray(c.head));
    EXPECT_THAT(std::vector(lines.end() - static_cast<std::ptrdiff_t>(c.tail.size()), lines.end()),
                ElementsAreArray(c.tail));
    EXPECT_EQ(hub::ds::liveObjects(hub::ds::ObjectKind::Request), 0u);
    EXPECT_EQ(heap.outstanding(), 0u);
}

constexpr const char* kCountTo = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ";
// The fourth row overflows an integer.
const std::string kFailsAtFour =
    std::string(kCountTo) + "9) SELECT i AS A, CASE WHEN i = 4 THEN abs(i * 0 - 9223372036854775807 - 1) END AS B FROM n";

INSTANTIATE_TEST_SUITE_P(
    SqlTable, StreamedResults,
    ::testing::Values(
        // Beyond the sample, a provider's column is as wide as its definition
        // allows: ORIGINNODE 32 characters, STATUS a 32-bit number's 11.
        StreamCase{"TableSizesProviderColumnsByDefinition", host::Format::Table,
                   std::string(kCountTo) + "150) SELECT k.ORIGINNODE, k.STATUS FROM n, KQVDWSYS k",
                   host::kExitOk,
                   {"ORIGINNODE" + std::string(29, ' ') + "STATUS", std::string(32, '-') + "  " + std::string(11, '-')},
                   {"(1500 rows)"},
                   1503},
        StreamCase{"TableWritesALaterWiderValueWhole", host::Format::Table,
                   std::string(kCountTo) + "1200) SELECT i AS N, CASE i WHEN 1199 THEN 'wider' ELSE 'w' END AS T FROM n",
                   host::kExitOk,
                   {"   N  T", "----  -", "   1  w"},
                   {"1199  wider", "1200  w", "(1200 rows; 1 value wider than its column, written whole)"},
                   1203},
        StreamCase{"CsvKeepsTheRowsBeforeAFailure", host::Format::Csv, kFailsAtFour, host::kExitBadInput,
                   {"A,B", "1,", "2,", "3,"}, {}, 4, "kqvhost: integer overflow"},
        StreamCase{"JsonLeavesTheArrayOpen", host::Format::Json, kFailsAtFour, host::kExitBadInput,
                   {"[", "  {", "    \"A\": 1,", "    \"B\": null", "  },"}, {"    \"B\": null", "  }"}, 13,
                   "kqvhost: integer overflow"},
        StreamCase{"TableWritesTheHeldRowsWithoutACount", host::Format::Table, kFailsAtFour,
                   host::kExitBadInput, {"A     B", "-  ----", "1  NULL", "2  NULL", "3  NULL"}, {}, 5,
                   "kqvhost: integer overflow"},
        // Entry 2 fails on the fifth row: four rows are out.
        StreamCase{"AnEntryFailingAfterRows", host::Format::Csv, "SELECT DW_NAME FROM KQVDWSYS; SELECT 2",
                   host::kExitQueryFailed, {"DW_NAME", "DWD2", "DWD1", "DWG1", "DWC2"}, {}, 5,
                   "kqvhost: table KQVDWSYS: request processing (entry 2) returned status 60", 6},
        // The output fills in the first row: the scan is given up, the next
        // statement never runs.
        StreamCase{"AnOutputFailingAfterRows", host::Format::Csv, "SELECT DW_NAME FROM KQVDWSYS; SELECT 2",
                   host::kExitOutputFailed, {"DW_NAME", "DW"}, {}, 2, "kqvhost: cannot write the results", 0, 10}),
    [](const auto& info) { return std::string(info.param.name); });
