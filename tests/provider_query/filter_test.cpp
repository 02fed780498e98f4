// Index filters: which are understood, what they set, which real nodes they
// leave to be queried and what ORIGINNODE the rows then carry.
#include <gmock/gmock.h>

#include "query_support.h"

namespace querytest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using hub::ds::Filter;
using kqvtest::ScenarioBuilder;

const std::string kPlx1Panel = "PLX1:vRK:HarborStatusPanel";
const std::string kPlx2Panel = "PLX2:vRK:HarborStatusPanel";

// Five agents, walked A, B, C, L, M: two of varnex PLX1 (B also reports a row
// of varnex PLX9), one of PLX2 and two of 8-character varnexes that differ in
// their last character.
std::string fiveAgentHub() {
    struct Agent {
        const char* origin;
        const char* node;
        std::vector<std::pair<const char*, const char*>> rows;  // DW, varnex
    };
    // Discovery walks the origin nodes and their agents in reverse order of
    // the catalog's rows.
    const std::vector<Agent> agents = {
        {"ZAVRIN:LONGVARX.SYSM:vRK", "QV:SYSM", {{"DWM", "LONGVARX"}}},
        {"ZAVRIN:LONGVARN.SYSL:vRK", "QV:SYSL", {{"DWL", "LONGVARN"}}},
        {"ZAVRIN:PLX2.SYSC:vRK", "QV:SYSC", {{"DWC", "PLX2"}}},
        {"ZAVRIN:PLX1.SYSB:vRK", "QV:SYSB", {{"DWB", "PLX1"}, {"DWX", "PLX9"}}},
        {"ZAVRIN:PLX1.SYSA:vRK", "QV:SYSA", {{"DWA", "PLX1"}}},
    };
    ScenarioBuilder hub;
    for (auto it = agents.rbegin(); it != agents.rend(); ++it) hub.originNode(it->origin);
    for (const auto& agent : agents) {
        hub.realNode(agent.node, agent.origin).agent(agent.node);
        for (const auto& [dw, varnex] : agent.rows) {
            kqvtest::StatusRow row;
            row.agent = agent.node;
            row.originNode = agent.origin;
            row.dwName = dw;
            row.varnex = varnex;
            hub.row(row);
        }
    }
    return hub.script();
}

const std::vector<std::string> kAllAgents = {"QV:SYSA", "QV:SYSB", "QV:SYSC", "QV:SYSL", "QV:SYSM"};
const std::vector<std::string> kAllRows = {"DWM", "DWL", "DWC", "DWX", "DWB", "DWA"};

std::string indexLine(int op, std::string_view column, std::string_view value) {
    return "Index Filter " + std::to_string(op) + " " + padded(column, 10) + " " + std::string(value) + "\n";
}
std::string idnameLine(std::string_view value) { return "Filter for IDNAME set to " + padded(value, 8) + "\n"; }
std::string originLine(std::string_view value) {
    return "Filter for ORIGINNODE set to " + padded(value, 32) + "\n";
}
std::string skipping(std::string_view varnex) { return "Skipping varnex " + padded(varnex, 8); }
std::string invalid(std::string_view value) { return "Invalid Origin Node in Predicate " + padded(value, 32); }

struct FilterCase {
    const char* name;
    std::vector<Filter> filters;
    std::vector<std::string> requestLines;  // every line of the processing entry
    std::vector<std::string> agents;        // queried, in order
    std::vector<std::string> passedOver;    // the collection's filter lines
    std::vector<std::string> rows;          // DW names handed back, in order
    std::string originNode;                 // of every row; empty: the row's own varnex panel
};

class FilterTest : public QueryTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(FilterTest, ChoosesTheNodesAndTheRowsOriginNode) {
    const FilterCase& c = GetParam();
    useScenario(fiveAgentHub());
    traceAll(kTraceDetail);
    DrivenRequest query(c.filters);
    ASSERT_EQ(query.start(), 0);

    const auto statuses = query.drain();

    std::vector<int32_t> expectedStatuses(c.rows.size(), 0);
    expectedStatuses.push_back(kNoMoreRows);
    EXPECT_THAT(statuses, ElementsAreArray(expectedStatuses));
    EXPECT_THAT(lines("kqvdwsys", "qvdwsypr"), ElementsAreArray(c.requestLines));
    EXPECT_THAT(queriedAgents(), ElementsAreArray(c.agents));

    std::vector<std::string> passedOver;
    for (const auto& line : lines("kqvdwsys", "collectQVStatusdata")) {
        if (line.starts_with("Skipping varnex ") || line.starts_with("Invalid Origin Node")) {
            passedOver.push_back(line);
        }
    }
    EXPECT_THAT(passedOver, ElementsAreArray(c.passedOver));
    EXPECT_THAT(linesStartingWith(lines("kqvdwsys", "collectQVStatusdata"), "Processed "),
                ElementsAre("Processed " + std::to_string(c.agents.size()) + " nodes\n"))
        << "only the nodes that pass the filter count";

    std::vector<std::string> dwNames;
    for (const auto& row : query.rows()) {
        dwNames.push_back(field(row.DW_NAME));
        std::string varnex = field(row.VARNNAME);
        varnex.erase(varnex.find_last_not_of(' ') + 1);
        const std::string expected =
            c.originNode.empty() ? padded(varnex + std::string(kPanelSuffix), 32) : padded(c.originNode, 32);
        EXPECT_EQ(field(row.ORIGINNODE), expected) << "row " << field(row.DW_NAME);
    }
    std::vector<std::string> expectedNames;
    for (const auto& name : c.rows) expectedNames.push_back(padded(name, 8));
    EXPECT_THAT(dwNames, ElementsAreArray(expectedNames));

    // With a filter each fetched row reports the filter's value.
    const auto vok1 = linesStartingWith(lines("kqvdwsys", "collectQVStatusdata"), "Origin Node (vok1) ");
    const std::vector<std::string> expectedVok1(
        c.originNode.empty() ? 0 : c.rows.size(), "Origin Node (vok1) " + padded(c.originNode, 32));
    EXPECT_THAT(vok1, ElementsAreArray(expectedVok1));
}

INSTANTIATE_TEST_SUITE_P(
    Filters, FilterTest,
    ::testing::Values(
        FilterCase{"None", {}, {}, kAllAgents, {}, kAllRows, ""},
        FilterCase{"OriginNodeNarrowsToItsVarnexAndDerivesIdname",
                   {{1, "ORIGINNODE", kPlx1Panel}},
                   {indexLine(1, "ORIGINNODE", kPlx1Panel), idnameLine("PLX1"), originLine(kPlx1Panel)},
                   {"QV:SYSA", "QV:SYSB"},
                   {skipping("PLX2"), skipping("LONGVARN"), skipping("LONGVARX")},
                   {"DWX", "DWB", "DWA"},
                   kPlx1Panel},
        FilterCase{"IdnameThenOriginNodeKeepsTheIdname",
                   {{1, "IDNAME", "ABC"}, {1, "ORIGINNODE", kPlx2Panel}},
                   {indexLine(1, "IDNAME", "ABC"), indexLine(1, "ORIGINNODE", kPlx2Panel),
                    idnameLine("ABC"), originLine(kPlx2Panel)},
                   {"QV:SYSC"},
                   {skipping("PLX1"), skipping("PLX1"), skipping("LONGVARN"), skipping("LONGVARX")},
                   {"DWC"},
                   kPlx2Panel},
        FilterCase{"OriginNodeThenIdnameKeepsTheIdname",
                   {{1, "ORIGINNODE", kPlx2Panel}, {1, "IDNAME", "ABC"}},
                   {indexLine(1, "ORIGINNODE", kPlx2Panel), indexLine(1, "IDNAME", "ABC"),
                    idnameLine("ABC"), originLine(kPlx2Panel)},
                   {"QV:SYSC"},
                   {skipping("PLX1"), skipping("PLX1"), skipping("LONGVARN"), skipping("LONGVARX")},
                   {"DWC"},
                   kPlx2Panel},
        FilterCase{"IdnameAloneIsOnlyReported",
                   {{1, "IDNAME", "ABC"}},
                   {indexLine(1, "IDNAME", "ABC"), idnameLine("ABC")},
                   kAllAgents, {}, kAllRows, ""},
        FilterCase{"OriginNodeWithAnotherOperatorIgnored",
                   {{2, "ORIGINNODE", kPlx1Panel}},
                   {indexLine(2, "ORIGINNODE", kPlx1Panel)},
                   kAllAgents, {}, kAllRows, ""},
        FilterCase{"OtherColumnIgnored",
                   {{1, "SYSNAME", "SYSA"}},
                   {indexLine(1, "SYSNAME", "SYSA")},
                   kAllAgents, {}, kAllRows, ""},
        FilterCase{"OriginNodeWithoutColonQueriesNoNode",
                   {{1, "ORIGINNODE", "PLX1"}},
                   {indexLine(1, "ORIGINNODE", "PLX1"), idnameLine("PLX1"), originLine("PLX1")},
                   {},
                   std::vector<std::string>(5, invalid("PLX1")),
                   {},
                   "PLX1"},
        FilterCase{"OriginNodeCutTo32AndVarnexKeyTo8",
                   {{1, "ORIGINNODE", "LONGVARNEXTRA:vRK:HarborStatusPanel"}},
                   {indexLine(1, "ORIGINNODE", "LONGVARNEXTRA:vRK:HarborStatusPanel"),
                    idnameLine("LONGVARN"), originLine("LONGVARNEXTRA:vRK:HarborStatusPa")},
                   {"QV:SYSL"},
                   {skipping("PLX1"), skipping("PLX1"), skipping("PLX2"), skipping("LONGVARX")},
                   {"DWL"},
                   "LONGVARNEXTRA:vRK:HarborStatusPa"},
        FilterCase{"ShorterVarnexComparedBlankPadded",
                   {{1, "ORIGINNODE", "PLX:vRK:HarborStatusPanel"}},
                   {indexLine(1, "ORIGINNODE", "PLX:vRK:HarborStatusPanel"), idnameLine("PLX"),
                    originLine("PLX:vRK:HarborStatusPanel")},
                   {},
                   {skipping("PLX1"), skipping("PLX1"), skipping("PLX2"), skipping("LONGVARN"),
                    skipping("LONGVARX")},
                   {},
                   "PLX:vRK:HarborStatusPanel"},
        FilterCase{"SevenCharacterVarnexEndsAtItsColon",
                   {{1, "ORIGINNODE", "ABCDEFG:vRK:HarborStatusPanel"}},
                   {indexLine(1, "ORIGINNODE", "ABCDEFG:vRK:HarborStatusPanel"), idnameLine("ABCDEFG"),
                    originLine("ABCDEFG:vRK:HarborStatusPanel")},
                   {},
                   {skipping("PLX1"), skipping("PLX1"), skipping("PLX2"), skipping("LONGVARN"),
                    skipping("LONGVARX")},
                   {},
                   "ABCDEFG:vRK:HarborStatusPanel"},
        FilterCase{"IdnameCutTo8",
                   {{1, "IDNAME", "ABCDEFGHIJK"}},
                   {indexLine(1, "IDNAME", "ABCDEFGHIJK"), idnameLine("ABCDEFGH")},
                   kAllAgents, {}, kAllRows, ""},
        FilterCase{"OriginNodeOfNegativeLengthCopiesNothing",
                   {{1, "ORIGINNODE", kPlx1Panel, -1}},
                   {indexLine(1, "ORIGINNODE", ""), idnameLine(""), originLine("")},
                   {},
                   std::vector<std::string>(5, invalid("")),
                   {},
                   ""},
        FilterCase{"IdnameOfNegativeLengthCopiesNothing",
                   {{1, "IDNAME", "ABC", -5}},
                   {indexLine(1, "IDNAME", ""), idnameLine("")},
                   kAllAgents, {}, kAllRows, ""},
        FilterCase{"UnterminatedValueReadToItsLengthOnly",
                   {{1, "ORIGINNODE", kPlx2Panel + "XYZ", static_cast<int16_t>(kPlx2Panel.size())}},
                   {indexLine(1, "ORIGINNODE", kPlx2Panel), idnameLine("PLX2"), originLine(kPlx2Panel)},
                   {"QV:SYSC"},
                   {skipping("PLX1"), skipping("PLX1"), skipping("LONGVARN"), skipping("LONGVARX")},
                   {"DWC"},
                   kPlx2Panel},
        FilterCase{"LaterOriginNodeReplacesEarlierWholly",
                   {{1, "ORIGINNODE", "PLX2:vRK:HarborStatusPanelXXXXXX"}, {1, "ORIGINNODE", "PLX1:B"}},
                   {indexLine(1, "ORIGINNODE", "PLX2:vRK:HarborStatusPanelXXXXXX"),
                    indexLine(1, "ORIGINNODE", "PLX1:B"), idnameLine("PLX1"), originLine("PLX1:B")},
                   {"QV:SYSA", "QV:SYSB"},
                   {skipping("PLX2"), skipping("LONGVARN"), skipping("LONGVARX")},
                   {"DWX", "DWB", "DWA"},
                   "PLX1:B"},
        FilterCase{"LaterIdnameOverwritesItsLeadingCharacters",
                   {{1, "IDNAME", "ABCDEFGH"}, {1, "IDNAME", "XY"}},
                   {indexLine(1, "IDNAME", "ABCDEFGH"), indexLine(1, "IDNAME", "XY"), idnameLine("XYCDEFGH")},
                   kAllAgents, {}, kAllRows, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A data server that answers 0 but hands out no filter has none left: the
// provider must not ask again, which could go on for ever.
TEST_F(QueryTest, AnAnswerWithoutAFilterEndsTheReadingOfFilters) {
    useScenario(fiveAgentHub());
    traceAll(kTraceDetail);
    DrivenRequest query({{1, "ORIGINNODE", kPlx1Panel}});
    ASSERT_EQ(query.start(), 0);
    hub::ds::failNthCall(hub::ds::Op::GetItem, 1, 0, ::ds::kItemIndexFilter);

    EXPECT_EQ(query.drain().back(), kNoMoreRows);
    std::size_t filterCalls = 0;
    for (const auto& call : hub::ds::recordedCalls()) {
        if (call.op == hub::ds::Op::GetItem && call.item == ::ds::kItemIndexFilter) ++filterCalls;
    }
    EXPECT_EQ(filterCalls, 1u);
    EXPECT_THAT(lines("kqvdwsys", "qvdwsypr"), ::testing::IsEmpty()) << "no filter was read";
    EXPECT_THAT(queriedAgents(), ElementsAreArray(kAllAgents));
}

// Each pass reads the filters afresh: a filter of an earlier pass, or the
// ORIGINNODE it set, does not outlive it.
TEST_F(QueryTest, FiltersThatChangeBetweenPassesApplyFromTheNextPass) {
    useScenario(fiveAgentHub());
    DrivenRequest query({{1, "ORIGINNODE", kPlx1Panel}});
    ASSERT_EQ(query.start(), 0);
    const auto passWith = [&](std::vector<Filter> filters) {
        query.request().setFilters(filters);
        std::vector<std::string> rows;
        for (const auto& row : query.pass()) rows.push_back(field(row.DW_NAME) + " " + field(row.ORIGINNODE));
        return rows;
    };
    const auto row = [](std::string_view dw, std::string_view origin) {
        return padded(dw, 8) + " " + padded(origin, 32);
    };
    const std::vector<std::string> everyRow = {
        row("DWM", "LONGVARX:vRK:HarborStatusPanel"), row("DWL", "LONGVARN:vRK:HarborStatusPanel"),
        row("DWC", kPlx2Panel), row("DWX", "PLX9:vRK:HarborStatusPanel"), row("DWB", kPlx1Panel),
        row("DWA", kPlx1Panel)};

    EXPECT_THAT(passWith({{1, "ORIGINNODE", kPlx1Panel}}),
                ElementsAre(row("DWX", kPlx1Panel), row("DWB", kPlx1Panel), row("DWA", kPlx1Panel)));
    EXPECT_THAT(passWith({}), ElementsAreArray(everyRow));
    EXPECT_THAT(passWith({{1, "ORIGINNODE", kPlx2Panel}}), ElementsAre(row("DWC", kPlx2Panel)));
    EXPECT_THAT(passWith({{1, "IDNAME", "PLX2"}}), ElementsAreArray(everyRow));
    EXPECT_EQ(query.terminate(), 0);
}

}  // namespace
}  // namespace querytest
