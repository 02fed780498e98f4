// The statement sent to each real node, byte for byte, as the hub receives it
// and as the detail trace shows it.
#include <gmock/gmock.h>

#include "query_support.h"

namespace querytest {
namespace {

using ::testing::ElementsAre;
using kqvtest::ScenarioBuilder;

// The agent name that an AT literal routes to.
std::string undoubled(std::string_view literal) {
    std::string text;
    for (std::size_t i = 0; i < literal.size(); ++i) {
        text += literal[i];
        if (literal[i] == '\'') ++i;
    }
    return text;
}

class StatementTest : public QueryTest {};

TEST_F(StatementTest, ReadsAsTheExampleForRNODE1BehindONODE1) {
    useScenario(ScenarioBuilder().agent("RNODE1").script());
    RealNodeList nodes;
    nodes.add("RNODE1", "ONODE1", "PLX1");
    OwnWorkArea area;
    traceAll(kTraceDetail);

    EXPECT_EQ(collectQVStatusdata(&area.work(), &nodes.api()), 1);

    const std::string expected =
        "SELECT ORIGINNODE, TIMESTAMP, VARNNAME, RQMID, SYSNAME, DW_NAME, CONNHVTCT, STG_ALLOC, "
        "STG_USED, DUMPTBLSZ, DUMPTBLIUS, TOTSTGCTL, STATUS, DWLEVEL  FROM KQV.QVALCSYS "
        "AT('RNODE1') WHERE ORIGINNODE ='ONODE1';";
    EXPECT_THAT(nodeStatements(), ElementsAre(expected));
    EXPECT_THAT(linesStartingWith(lines("kqvdwsys", "collectQVStatusdata"), "SQL= "),
                ElementsAre("SQL= " + expected + "\n"));
}

// Node names as the real node element holds them, called directly so that
// any bytes can be given.
struct ElementCase {
    const char* name;
    std::string realNode;    // RealNode, zero-filled to 32
    std::string originNode;  // RealNodeOrigNode, zero-filled to 33
    std::string atLiteral;
    std::string originLiteral;
};

class ElementStatementTest : public StatementTest,
                             public ::testing::WithParamInterface<ElementCase> {};

TEST_P(ElementStatementTest, IsBuiltFromTheNodeNames) {
    const ElementCase& c = GetParam();
    useScenario(ScenarioBuilder().agent(undoubled(c.atLiteral)).script());
    RealNodeList nodes;
    nodes.add(c.realNode, c.originNode, "PLX1");
    OwnWorkArea area;
    traceAll(kTraceDetail);

    EXPECT_EQ(collectQVStatusdata(&area.work(), &nodes.api()), 1);

    const std::string expected = nodeStatement(c.atLiteral, c.originLiteral);
    const auto calls = nodeStatementCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].text, expected);
    EXPECT_EQ(calls[0].status, 0) << "the hub accepts the statement";
    EXPECT_THAT(linesStartingWith(lines("kqvdwsys", "collectQVStatusdata"), "SQL= "),
                ElementsAre("SQL= " + expected + "\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Names, ElementStatementTest,
    ::testing::Values(
        ElementCase{"RealNodeOf32CharactersWithoutBlank", "ABCDEFGHIJKLMNOPQRSTUVWXYZ:12345",
                    "ONODE1", "ABCDEFGHIJKLMNOPQRSTUVWXYZ:12345", "ONODE1"},
        ElementCase{"RealNodeCutAtItsFirstBlank", "QV:SYS1 PLX1", "ONODE1", "QV:SYS1", "ONODE1"},
        ElementCase{"RealNodeBlankPadded", padded("QV:SYS1", 32), "ONODE1", "QV:SYS1", "ONODE1"},
        ElementCase{"RealNodeBeginningWithBlankKeepsIt", " QV:SYS1", "ONODE1", " QV:SYS1",
                    "ONODE1"},
        ElementCase{"RealNodeOfBlanksKeepsOnlyTheFirst", "  QV", "ONODE1", " ", "ONODE1"},
        ElementCase{"OriginNodeEmpty", "RNODE1", "", "RNODE1", ""},
        ElementCase{"OriginNodeAllBlank", "RNODE1", std::string(32, ' '), "RNODE1", ""},
        ElementCase{"OriginNodeKeepsInnerBlankDropsTrailingOnes", "RNODE1",
                    "ZAVRIN:PLX1.SYS A:vRK    ", "RNODE1", "ZAVRIN:PLX1.SYS A:vRK"},
        ElementCase{"OriginNodeKeepsLeadingBlank", "RNODE1", " ONODE1", "RNODE1", " ONODE1"},
        ElementCase{"OriginNodeOf33CharactersWithoutTerminator", "RNODE1",
                    "ZAVRIN:ABCDEFGH.SYS1:vRK:XXXXXXXX", "RNODE1",
                    "ZAVRIN:ABCDEFGH.SYS1:vRK:XXXXXXXX"},
        ElementCase{"ApostrophesDoubledInBothLiterals", "O'NODE'", "ZAVRIN:O'G.SYS1:vRK",
                    "O''NODE''", "ZAVRIN:O''G.SYS1:vRK"}),
    [](const auto& info) { return std::string(info.param.name); });

// Names as discovery delivers them from the catalog, through a whole query:
// the statement must also select the node's rows.
struct CatalogCase {
    const char* name;
    std::string originNode;  // Y6SRV.INODESTS NODE
    std::string realNode;    // Y6SRV.TNODELST NODE
    std::string atLiteral;
    std::string originLiteral;
};

class CatalogStatementTest : public StatementTest,
                             public ::testing::WithParamInterface<CatalogCase> {};

TEST_P(CatalogStatementTest, SelectsTheNodesRows) {
    const CatalogCase& c = GetParam();
    kqvtest::StatusRow row;
    row.agent = undoubled(c.atLiteral);
    row.originNode = undoubled(c.originLiteral);
    row.dwName = "DW1";
    row.varnex = "PLX1";
    useScenario(ScenarioBuilder()
                    .originNode(c.originNode)
                    .realNode(c.realNode, c.originNode)
                    .agent(row.agent)
                    .row(row)
                    .script());
    traceAll(kTraceDetail);

    DrivenRequest query;
    ASSERT_EQ(query.start(), 0);
    EXPECT_THAT(query.drain(), ElementsAre(0, kNoMoreRows));

    const std::string expected = nodeStatement(c.atLiteral, c.originLiteral);
    EXPECT_THAT(nodeStatements(), ElementsAre(expected));
    EXPECT_THAT(linesStartingWith(lines("kqvdwsys", "collectQVStatusdata"), "SQL= "),
                ElementsAre("SQL= " + expected + "\n"));
    ASSERT_EQ(query.rows().size(), 1u);
    EXPECT_EQ(field(query.rows()[0].DW_NAME), padded("DW1", 8));
}

INSTANTIATE_TEST_SUITE_P(
    Names, CatalogStatementTest,
    ::testing::Values(
        CatalogCase{"AgentFormOriginNode", "ZAVRIN:ONODE1.SYS1:vRK", "RNODE1", "RNODE1",
                    "ZAVRIN:ONODE1.SYS1:vRK"},
        CatalogCase{"RealNodeOf32Characters", "ZAVRIN:PLX1.SYSA:vRK",
                    "QV:SYSTEMA:PLX1:ABCDEFGHIJKLMNOP", "QV:SYSTEMA:PLX1:ABCDEFGHIJKLMNOP",
                    "ZAVRIN:PLX1.SYSA:vRK"},
        CatalogCase{"RealNodeBeginningWithBlank", "ZAVRIN:PLX1.SYSA:vRK", " QV:SYSA:PLX1",
                    " QV:SYSA:PLX1", "ZAVRIN:PLX1.SYSA:vRK"},
        CatalogCase{"RealNodeWithTrailingBlanks", "ZAVRIN:PLX1.SYSA:vRK", "QV:SYSA:PLX1   ",
                    "QV:SYSA:PLX1", "ZAVRIN:PLX1.SYSA:vRK"},
        CatalogCase{"OriginNodeWithInnerAndTrailingBlanks", "ZAVRIN:PLX1.SYSA:vRK EXTRA   ",
                    "QV:SYSA:PLX1", "QV:SYSA:PLX1", "ZAVRIN:PLX1.SYSA:vRK EXTRA"},
        CatalogCase{"ApostrophesInBothNames", "ZAVRIN:O'K.SYSA:vRK", "QV'A", "QV''A",
                    "ZAVRIN:O''K.SYSA:vRK"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace querytest
