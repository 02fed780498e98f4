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

// Each value of a result row as text, the columns joined by '|'.
std::string rowText(const std::vector<hub::ds::Value>& row) {
    std::string text;
    for (const hub::ds::Value& value : row) {
        if (!text.empty()) text += '|';
        if (const auto* number = std::get_if<int64_t>(&value)) {
            text += std::to_string(*number);
        } else if (const auto* string = std::get_if<std::string>(&value)) {
            text += *string;
        } else if (const auto* real = std::get_if<double>(&value)) {
            std::ostringstream out;
            out.precision(17);
            out << *real;
            text += out.str();
        } else if (const auto* blob = std::get_if<hub::ds::Blob>(&value)) {
            text += "x'";
            for (const char c : blob->bytes) {
                text += "0123456789abcdef"[static_cast<unsigned char>(c) >> 4];
                text += "0123456789abcdef"[c & 15];
            }
            text += "'";
        } else {
            text += "NULL";
        }
    }
    return text;
}

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

    // Every row, as rowText gives it.
    std::vector<std::string> rows(const std::string& statement) {
        std::vector<std::string> texts;
        hub::ds::runStatements(*scenario_, statement, [&](const hub::ds::ResultSet& result) {
            for (const auto& row : result.rows) texts.push_back(rowText(row));
        });
        return texts;
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
    std::string statement;
    std::vector<std::string> filterLines;  // the provider's "Index Filter" lines
    std::vector<std::string> rows;         // as rowText gives them, in order
    // The same question with nothing handed over to the provider (a column
    // the engine cannot pass on: CAST(ORIGINNODE AS TEXT) keeps the column's
    // affinity, where +ORIGINNODE would lose it); it must give the same rows.
    // A parameter's references become the value it takes, and where the
    // provider writes an ORIGINNODE equality's value into its rows, the
    // statement says so.
    std::string hintFree;
};

void PrintTo(const FilterCase& c, std::ostream* out) { *out << c.statement.substr(0, 200); }

class QueryConditions : public SqlTable, public ::testing::WithParamInterface<FilterCase> {
  protected:
    std::vector<std::string> filterLines() {
        std::vector<std::string> found;
        for (const std::string& line : lines("kqvdwsys", "qvdwsypr")) {
            if (line.rfind("Index Filter", 0) == 0) found.push_back(line);
        }
        capture().clear();
        return found;
    }
};

// What reaches the provider from a statement, in the statement's order, and
// what the statement answers: the same as with nothing handed over.
TEST_P(QueryConditions, ReachTheProviderAndAnswerAsWithoutThem) {
    const FilterCase& c = GetParam();
    traceAll(kTraceDetail);
    EXPECT_THAT(rows(c.statement), ElementsAreArray(c.rows)) << c.statement;
    EXPECT_THAT(filterLines(), ElementsAreArray(c.filterLines));
    EXPECT_THAT(rows(c.hintFree), ElementsAreArray(c.rows)) << c.hintFree;
    EXPECT_THAT(filterLines(), ElementsAreArray(std::vector<std::string>{})) << "the hint-free form hands over nothing";
}

const std::vector<std::string> kAll{"PLX3", "PLX3", "PLX2", "PLX2", "PLX2", "PLX2", "PLX1", "PLX1", "PLX1", "PLX1"};
const std::vector<std::string> kPlx2Rows{"PLX2", "PLX2", "PLX2", "PLX2"};
const std::vector<std::string> kPlx2AndPlx3{"PLX3", "PLX3", "PLX2", "PLX2", "PLX2", "PLX2"};
const std::string kVarnexes = "SELECT VARNNAME FROM KQVDWSYS WHERE ";

std::string filterLine(int op, const std::string& column, const std::string& value) {
    return "Index Filter " + std::to_string(op) + " " + column + std::string(11 - column.size(), ' ') + value + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    SqlTable, QueryConditions,
    ::testing::Values(
        FilterCase{"VarnexIsNoIndexColumn", kVarnexes + "VARNNAME = 'PLX2'", {}, kPlx2Rows,
                   kVarnexes + "VARNNAME = 'PLX2'"},
        FilterCase{"StatusRange", kVarnexes + "STATUS BETWEEN 1 AND 12", {}, {"PLX2", "PLX1", "PLX1"},
                   kVarnexes + "STATUS BETWEEN 1 AND 12"},
        FilterCase{"OriginNode", kVarnexes + "ORIGINNODE = 'PLX2:vRK:HarborStatusPanel'",
                   {filterLine(1, "ORIGINNODE", kPlx2)}, kPlx2Rows,
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) = 'PLX2:vRK:HarborStatusPanel'"},
        // The provider only reports IDNAME; as a parameter it holds in every row.
        FilterCase{"IdnameOnly", kVarnexes + "IDNAME = 'PLX2'", {filterLine(1, "IDNAME", "PLX2")}, kAll,
                   kVarnexes + "'PLX2' = 'PLX2'"},
        FilterCase{"IdnameThenOriginNode",
                   kVarnexes + "IDNAME = 'PLX1' AND ORIGINNODE = 'PLX2:vRK:HarborStatusPanel' AND STATUS >= 0",
                   {filterLine(1, "IDNAME", "PLX1"), filterLine(1, "ORIGINNODE", kPlx2)}, kPlx2Rows,
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) = 'PLX2:vRK:HarborStatusPanel' AND STATUS >= 0"},
        // Other comparisons are handed over with codes of their own, and
        // applied by the engine, not by the provider.
        FilterCase{"OriginNodeRange", kVarnexes + "ORIGINNODE >= 'PLX2' AND ORIGINNODE < 'PLX3'",
                   {filterLine(6, "ORIGINNODE", "PLX2"), filterLine(3, "ORIGINNODE", "PLX3")}, kPlx2Rows,
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) >= 'PLX2' AND CAST(ORIGINNODE AS TEXT) < 'PLX3'"},
        FilterCase{"OriginNodeIsNot", kVarnexes + "ORIGINNODE IS NOT 'PLX1:vRK:HarborStatusPanel'",
                   {filterLine(12, "ORIGINNODE", "PLX1:vRK:HarborStatusPanel")}, kPlx2AndPlx3,
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) IS NOT 'PLX1:vRK:HarborStatusPanel'"},
        FilterCase{"OriginNodeNullMatchesNothing", kVarnexes + "ORIGINNODE = NULL", {}, {},
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) = NULL"},
        // An OR is applied to one scan, not answered by a scan per branch
        // (whose rows the engine would tell apart by rowid).
        FilterCase{"OrOfAnEqualityAndARange",
                   kVarnexes + "ORIGINNODE = 'PLX2:vRK:HarborStatusPanel' OR ORIGINNODE >= 'PLX3'", {},
                   kPlx2AndPlx3,
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) = 'PLX2:vRK:HarborStatusPanel' OR "
                               "CAST(ORIGINNODE AS TEXT) >= 'PLX3'"},
        // A rowid names the same row in every scan, however narrowed.
        FilterCase{"RowidsOfDifferentScans",
                   "SELECT VARNNAME, DW_NAME FROM KQVDWSYS WHERE rowid IN "
                   "(SELECT rowid FROM KQVDWSYS WHERE ORIGINNODE = 'PLX1:vRK:HarborStatusPanel')",
                   {filterLine(1, "ORIGINNODE", "PLX1:vRK:HarborStatusPanel")},
                   {"PLX1|PLXQB1", "PLX1|PLXQSH", "PLX1|PLXQA2", "PLX1|PLXQA1"},
                   "SELECT VARNNAME, DW_NAME FROM KQVDWSYS WHERE rowid IN "
                   "(SELECT rowid FROM KQVDWSYS WHERE CAST(ORIGINNODE AS TEXT) = 'PLX1:vRK:HarborStatusPanel')"},
        // The provider compares bytes: another collation is the engine's to apply.
        FilterCase{"CollateNocase", kVarnexes + "ORIGINNODE = 'plx2:vrk:harborstatuspanel' COLLATE NOCASE", {},
                   kPlx2Rows, kVarnexes + "CAST(ORIGINNODE AS TEXT) = 'plx2:vrk:harborstatuspanel' COLLATE NOCASE"},
        // An IN list is not handed over: each value would be a request.
        FilterCase{"InList", kVarnexes + "ORIGINNODE IN ('PLX2:vRK:HarborStatusPanel', 'PLX3:vRK:HarborStatusPanel')",
                   {}, kPlx2AndPlx3,
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) IN "
                               "('PLX2:vRK:HarborStatusPanel', 'PLX3:vRK:HarborStatusPanel')"},
        FilterCase{"InListCollateNocase",
                   kVarnexes + "ORIGINNODE COLLATE NOCASE IN ('plx2:vrk:harborstatuspanel', 'x')", {}, kPlx2Rows,
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) COLLATE NOCASE IN ('plx2:vrk:harborstatuspanel', 'x')"},
        // A value longer than the column equals none of its values, and is
        // more than a filter can carry: the engine compares it.
        FilterCase{"ValueLongerThanAFilterCarries", kVarnexes + "ORIGINNODE <> '" + std::string(40000, 'x') + "'",
                   {}, kAll, kVarnexes + "CAST(ORIGINNODE AS TEXT) <> '" + std::string(40000, 'x') + "'"},
        FilterCase{"ValueLongerThanTheColumn", kVarnexes + "ORIGINNODE = '" + kPlx2 + "ABCDEFG'", {}, {},
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) = '" + kPlx2 + "ABCDEFG'"},
        // The provider writes an ORIGINNODE equality's value into the rows
        // of the varnex it names, whatever follows the colon.
        FilterCase{"OriginNodeWrittenIntoTheRows", "SELECT ORIGINNODE, VARNNAME FROM KQVDWSYS WHERE ORIGINNODE = 'PLX2:x'",
                   {filterLine(1, "ORIGINNODE", "PLX2:x")}, {"PLX2:x|PLX2", "PLX2:x|PLX2", "PLX2:x|PLX2", "PLX2:x|PLX2"},
                   "SELECT 'PLX2:x', VARNNAME FROM KQVDWSYS WHERE VARNNAME = 'PLX2'"},
        // IDNAME: text of at most 8 bytes, the value of an equality (= or
        // IS) with a constant; NULL otherwise, whatever the plan.
        FilterCase{"IdnameIs", kVarnexes + "IDNAME IS 'PLX2'", {filterLine(1, "IDNAME", "PLX2")}, kAll,
                   kVarnexes + "'PLX2' IS 'PLX2'"},
        FilterCase{"IdnameOfANumber", "SELECT typeof(IDNAME), IDNAME FROM KQVDWSYS WHERE IDNAME = 5 LIMIT 1",
                   {filterLine(1, "IDNAME", "5")}, {"text|5"},
                   "SELECT typeof(CAST(5 AS TEXT)), CAST(5 AS TEXT) FROM KQVDWSYS LIMIT 1"},
        FilterCase{"IdnameLongerThanEight", "SELECT IDNAME FROM KQVDWSYS WHERE IDNAME = 'ABCDEFGHIJKL'", {}, {},
                   "SELECT NULL FROM KQVDWSYS WHERE NULL = 'ABCDEFGHIJKL'"},
        FilterCase{"IdnameFromAnotherScan",
                   "SELECT COUNT(*) FROM KQVDWSYS a JOIN KQVDWSYS b ON a.IDNAME = b.IDNAME", {}, {"0"},
                   "SELECT COUNT(*) FROM KQVDWSYS a JOIN KQVDWSYS b ON NULL = NULL"},
        FilterCase{"IdnameInABranchOfAnOr",
                   kVarnexes + "IDNAME = 'PLX1' OR ORIGINNODE = 'PLX3:vRK:HarborStatusPanel'", {}, {"PLX3", "PLX3"},
                   kVarnexes + "NULL = 'PLX1' OR CAST(ORIGINNODE AS TEXT) = 'PLX3:vRK:HarborStatusPanel'"}),
    [](const auto& info) { return std::string(info.param.name); });

// Two scans open at once are two requests at once on this thread: rows of
// both come back interleaved, and every request is terminated.
TEST_F(SqlTable, ScansOpenAtOnceAreSeparateRequests) {
    kqvtest::HeapSeam heap;
    hub::ds::startRecording();
    const auto found = rows(
        "SELECT a.DW_NAME FROM KQVDWSYS a JOIN KQVDWSYS b ON b.VARNNAME = a.VARNNAME AND b.DW_NAME = a.DW_NAME");
    EXPECT_EQ(found.size(), 10u);

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
    const auto found = rows(
        "SELECT DW_NAME FROM KQVDWSYS a WHERE STATUS = "
        "(SELECT MAX(STATUS) FROM KQVDWSYS b WHERE b.VARNNAME = a.VARNNAME)");
    EXPECT_THAT(found, ElementsAreArray({"DWD2", "DWC2", "PLXQA2"}));
    EXPECT_EQ(calls(hub::ds::Op::GetViewStorage).size(), 11u);
    EXPECT_EQ(hub::ds::liveObjects(hub::ds::ObjectKind::Request), 0u);
    EXPECT_EQ(heap.outstanding(), 0u);
}

TEST_F(SqlTable, ALimitEndsTheRequestEarly) {
    kqvtest::HeapSeam heap;
    hub::ds::startRecording();
    EXPECT_EQ(rows("SELECT DW_NAME FROM KQVDWSYS LIMIT 2").size(), 2u);
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
