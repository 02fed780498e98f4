// Summarisation: one row per DW_NAME and VARNNAME, newest identity first,
// and the STATUS rule of the linked build (first row's, or highest signed).
#include <gmock/gmock.h>

#include <cstring>

#include "heap_seam.h"
#include "query_support.h"

namespace querytest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using kqvtest::ScenarioBuilder;

std::string bytesOf(const DWSysRecord& record) {
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

// A merged row: the input whose values it keeps, and its STATUS under each rule.
struct ExpectedRow {
    std::size_t input;
    int32_t statusFirst;
    int32_t statusHighest;
};

struct MergeCase {
    const char* name;
    std::vector<RowValues> inputs;
    std::vector<ExpectedRow> rows;        // newest first
    std::vector<int32_t> statusUpdates;   // under the highest rule
};

RowValues row(std::string dw, std::string varnex, int32_t status) {
    RowValues values;
    values.dwName = std::move(dw);
    values.varnex = std::move(varnex);
    values.status = status;
    return values;
}

// Same identity as `row(dw, varnex, status)` but every other field different.
RowValues otherNodesRow(std::string dw, std::string varnex, int32_t status) {
    RowValues values = row(std::move(dw), std::move(varnex), status);
    values.sysname = "SYSB";
    values.timestamp = "1261208093000500";
    values.rqmid = "RQM2";
    values.originNode = "ZAVRIN:PLX1.SYSB:vRK";
    values.numbers[0] = 29;
    values.numbers[5] = 16384;
    values.dwlevel = 720;
    return values;
}

class SummarizeTest : public QueryTest, public ::testing::WithParamInterface<MergeCase> {};
class SummaryTest : public QueryTest {};

TEST_P(SummarizeTest, MergesByDwNameAndVarnex) {
    const MergeCase& c = GetParam();
    OwnWorkArea area;
    traceAll(kTraceAll);

    for (const auto& input : c.inputs) {
        const DWSysRecord record = makeRecord(input);
        summarizeQVStatusData(&area.work(), &record);
        EXPECT_EQ(bytesOf(record), bytesOf(makeRecord(input))) << "the input is only read";
    }

    std::vector<std::string> expected;
    for (const auto& row : c.rows) {
        DWSysRecord record = makeRecord(c.inputs[row.input]);
        record.STATUS = kKeepsHighestStatus ? row.statusHighest : row.statusFirst;
        expected.push_back(bytesOf(record));
    }
    std::vector<std::string> actual;
    for (const auto& record : area.results()) actual.push_back(bytesOf(record));
    EXPECT_THAT(actual, ElementsAreArray(expected));

    const auto summary = lines("kqvdwsys", "summarizeQVStatusData");
    EXPECT_EQ(linesStartingWith(summary, "Added new entry to results table.\n").size(), c.rows.size());
    EXPECT_EQ(linesStartingWith(summary, "Duplicate DW Systems record found.\n").size(),
              c.inputs.size() - c.rows.size());
    std::vector<std::string> updates;
    if (kKeepsHighestStatus) {
        for (int32_t status : c.statusUpdates) updates.push_back("Status updated with " + std::to_string(status) + ".\n");
    }
    EXPECT_THAT(linesStartingWith(summary, "Status updated with "), ElementsAreArray(updates));
}

const std::string kVarnexWithZeros("AB\0\0\0\0\0\0", 8);
const std::string kVarnexWithZerosThenX("AB\0\0\0\0\0X", 8);
const std::string kDwWithZeros("DW1\0\0\0\0\0", 8);
const std::string kDwWithZerosThenX("DW1\0\0\0\0X", 8);

// Duplicates: the STATUS rule decides.
INSTANTIATE_TEST_SUITE_P(
    Duplicates, SummarizeTest,
    ::testing::Values(
        MergeCase{"DuplicateKeepsTheFirstRowsValues",
                  {row("PLXQSH", "PLX1", 1), otherNodesRow("PLXQSH", "PLX1", 8)},
                  {{0, 1, 8}},
                  {8}},
        MergeCase{"NegativeStatusReplacedByZero",
                  {row("DW1", "PLX1", -1), otherNodesRow("DW1", "PLX1", 0)},
                  {{0, -1, 0}},
                  {0}},
        MergeCase{"PositiveStatusNotReplacedByNegative",
                  {row("DW1", "PLX1", 5), otherNodesRow("DW1", "PLX1", -3)},
                  {{0, 5, 5}},
                  {}},
        MergeCase{"EqualStatusChangesNothing",
                  {row("DW1", "PLX1", 4), otherNodesRow("DW1", "PLX1", 4)},
                  {{0, 4, 4}},
                  {}},
        MergeCase{"HighestOfSeveralReports",
                  {row("DW1", "PLX1", 2), otherNodesRow("DW1", "PLX1", 7), row("DW1", "PLX1", 4)},
                  {{0, 2, 7}},
                  {7}},
        MergeCase{"NewestIdentityFirstAndADuplicateKeepsItsPlace",
                  {row("DW1", "PLX1", 1), row("DW2", "PLX1", 2), row("DW3", "PLX1", 3),
                   otherNodesRow("DW1", "PLX1", 9)},
                  {{2, 3, 3}, {1, 2, 2}, {0, 1, 9}},
                  {9}}),
    [](const auto& info) { return std::string(info.param.name); });

#if !KQV_TEST_KEEPS_HIGHEST_STATUS
// Distinct identities: no rule applies, so they run under one build only.
INSTANTIATE_TEST_SUITE_P(
    DistinctIdentities, SummarizeTest,
    ::testing::Values(
        MergeCase{"SameDwOtherVarnexIsAnotherRow",
                  {row("DW1", "PLX1", 1), row("DW1", "PLX2", 2)},
                  {{1, 2, 2}, {0, 1, 1}},
                  {}},
        MergeCase{"SameVarnexOtherDwIsAnotherRow",
                  {row("DW1", "PLX1", 1), row("DW2", "PLX1", 2)},
                  {{1, 2, 2}, {0, 1, 1}},
                  {}},
        MergeCase{"VarnexBlanksAgainstZeroBytesDiffer",
                  {row("DW1", "AB", 1), row("DW1", kVarnexWithZeros, 2)},
                  {{1, 2, 2}, {0, 1, 1}},
                  {}},
        MergeCase{"DwNameBlanksAgainstZeroBytesDiffer",
                  {row("DW1", "PLX1", 1), row(kDwWithZeros, "PLX1", 2)},
                  {{1, 2, 2}, {0, 1, 1}},
                  {}},
        MergeCase{"VarnexDiffersOnlyAfterAZeroByte",
                  {row("DW1", kVarnexWithZeros, 1), row("DW1", kVarnexWithZerosThenX, 2)},
                  {{1, 2, 2}, {0, 1, 1}},
                  {}},
        MergeCase{"DwNameDiffersOnlyAfterAZeroByte",
                  {row(kDwWithZeros, "PLX1", 1), row(kDwWithZerosThenX, "PLX1", 2)},
                  {{1, 2, 2}, {0, 1, 1}},
                  {}}),
    [](const auto& info) { return std::string(info.param.name); });
#endif

TEST_F(SummaryTest, SummarisationTracesEachRowAndEachMerge) {
    RowValues first = row("PLXQSH", "PLX1", 1);
    first.rqmid = "SYSA";
    const RowValues second = otherNodesRow("PLXQSH", "PLX1", 8);
    const auto run = [&] {
        OwnWorkArea area;
        for (const auto& input : {first, second}) {
            const DWSysRecord record = makeRecord(input);
            summarizeQVStatusData(&area.work(), &record);
        }
    };

    std::vector<std::string> detail;
    for (const auto& input : {first, second}) {
        detail.push_back("New DW to be added\n");
        detail.push_back("ORIGINNODE: \t\t\t" + padded(input.originNode, 32) + "\n");
        detail.push_back("VARNEX: \t\t\tPLX1    \n");
        detail.push_back("RQMID:      \t\t\t" + input.rqmid + "\n");
        detail.push_back("DW_NAME:    \t\t\tPLXQ\n");
        if (kKeepsHighestStatus) detail.push_back("STATUS:     \t\t\t" + std::to_string(input.status) + "\n");
    }
    std::vector<std::string> state = {"Added new entry to results table.\n",
                                      "Duplicate DW Systems record found.\n"};
    if (kKeepsHighestStatus) state.push_back("Status updated with 8.\n");

    const auto detailGated = linesGatedBy(kTraceDetail, "kqvdwsys", "summarizeQVStatusData", run);
    EXPECT_THAT(detailGated.classOn, ElementsAreArray(detail));
    EXPECT_THAT(detailGated.classOff, ElementsAreArray(state));
    const auto stateGated = linesGatedBy(kTraceState, "kqvdwsys", "summarizeQVStatusData", run);
    EXPECT_THAT(stateGated.classOn, ElementsAreArray(state));
    EXPECT_THAT(stateGated.classOff, ElementsAreArray(detail));
}

// The same rules over a whole query: two agents report overlapping DWs.
TEST_F(SummaryTest, DuplicatesFromTwoAgentsMergeUnderTheBuildsRule) {
    constexpr std::string_view kOrigin = "ZAVRIN:PLX1.SYSA:vRK";
    ScenarioBuilder hub;
    // The second catalog row is walked first.
    hub.originNode(kOrigin).realNode("QV:TWO", kOrigin).realNode("QV:ONE", kOrigin).agent("QV:ONE").agent("QV:TWO");
    const struct {
        const char* agent;
        const char* dw;
        int status;
        const char* sysname;
    } reports[] = {
        {"QV:ONE", "SHARED", 1, "SYSA"}, {"QV:ONE", "NEG", -1, "SYSA"}, {"QV:ONE", "POS", 5, "SYSA"},
        {"QV:TWO", "SHARED", 8, "SYSB"}, {"QV:TWO", "NEG", 0, "SYSB"},  {"QV:TWO", "POS", -3, "SYSB"},
        {"QV:TWO", "ONLY2", 2, "SYSB"},
    };
    for (const auto& report : reports) {
        kqvtest::StatusRow status;
        status.agent = report.agent;
        status.originNode = kOrigin;
        status.dwName = report.dw;
        status.varnex = "PLX1";
        status.status = report.status;
        status.sysname = report.sysname;
        hub.row(status);
    }
    useScenario(hub.script());
    DrivenRequest query;
    ASSERT_EQ(query.start(), 0);
    query.drain();

    std::vector<std::string> rows;
    for (const auto& record : query.rows()) {
        rows.push_back(field(record.DW_NAME) + "/" + field(record.SYSNAME) + "/" + std::to_string(record.STATUS));
    }
    if (kKeepsHighestStatus) {
        EXPECT_THAT(rows, ElementsAre("ONLY2   /SYSB    /2", "POS     /SYSA    /5", "NEG     /SYSA    /0",
                                      "SHARED  /SYSA    /8"));
    } else {
        EXPECT_THAT(rows, ElementsAre("ONLY2   /SYSB    /2", "POS     /SYSA    /5", "NEG     /SYSA    /-1",
                                      "SHARED  /SYSA    /1"));
    }
}

#if !KQV_TEST_KEEPS_HIGHEST_STATUS
// No duplicate: the same under either rule.
TEST_F(SummaryTest, AResultBlockThatCannotBeHadLosesOnlyItsRow) {
    constexpr std::string_view kOrigin = "ZAVRIN:PLX1.SYSA:vRK";
    ScenarioBuilder hub;
    hub.originNode(kOrigin).realNode("QV:ONE", kOrigin).agent("QV:ONE");
    for (const char* dw : {"DW1", "DW2", "DW3"}) {
        hub.row({.agent = "QV:ONE", .originNode = std::string(kOrigin), .dwName = dw, .varnex = "PLX1"});
    }
    useScenario(hub.script());
    kqvtest::HeapSeam heap;
    traceAll(kTraceError | kTraceState);
    DrivenRequest query;
    ASSERT_EQ(query.start(), 0);
    // 1 to 4: the node tables' anchors and first blocks; 5: the results
    // anchor; 6: the results table's first block, wanted for DW1.
    heap.failAllocation(6);

    EXPECT_THAT(query.drain(), ElementsAre(0, 0, kNoMoreRows));
    std::vector<std::string> rows;
    for (const auto& record : query.rows()) rows.push_back(field(record.DW_NAME));
    EXPECT_THAT(rows, ElementsAre(padded("DW3", 8), padded("DW2", 8)));
    EXPECT_THAT(lines("kqvmutl", "RSLTget"), ElementsAre("KQVUTL08E RSLT BLOCK ALLOCATION FAILED"));
    EXPECT_THAT(lines("kqvdwsys", "summarizeQVStatusData"),
                ElementsAre("Added new entry to results table.\n", "Added new entry to results table.\n"));
    EXPECT_EQ(query.terminate(), 0);
    EXPECT_EQ(heap.outstanding(), 0u);
}
#endif

}  // namespace
}  // namespace querytest
