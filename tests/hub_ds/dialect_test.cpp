// The hub's SQL dialect: how the provider's statements are rewritten, what
// malformed ones are refused, and what they then see and do when they run on
// a scenario.
#include <gmock/gmock.h>

#include "ds_test_support.h"
#include "hub/ds/src/dialect.h"

namespace dstest {
namespace {

using hub::ds::translateStatement;
using ::testing::ElementsAre;

struct TranslationCase {
    const char* name;
    const char* hub;
    const char* sqlite;
    std::optional<std::string> agent;
};

class TranslationTest : public ::testing::TestWithParam<TranslationCase> {};

TEST_P(TranslationTest, RewritesOnlyWhatTheDialectAdds) {
    const TranslationCase& c = GetParam();
    const auto translated = translateStatement(c.hub);
    EXPECT_EQ(translated.sql, c.sqlite);
    EXPECT_EQ(translated.agent, c.agent);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TranslationTest,
    ::testing::Values(
        TranslationCase{"Plain", "SELECT NODE FROM Y6SRV.INODESTS", "SELECT NODE FROM Y6SRV.INODESTS", std::nullopt},
        TranslationCase{"LikeStar", "SELECT 1 WHERE N LIKE 'AB*'", "SELECT 1 WHERE N GLOB 'AB*'", std::nullopt},
        TranslationCase{"PercentAndUnderscoreStayLiteral", "SELECT 1 WHERE N LIKE 'a%b_c*'",
                        "SELECT 1 WHERE N GLOB 'a%b_c*'", std::nullopt},
        TranslationCase{"GlobCharactersAreEscaped", "SELECT 1 WHERE N LIKE '?[x]*'",
                        "SELECT 1 WHERE N GLOB '[?][[]x]*'", std::nullopt},
        TranslationCase{"ApostropheInPattern", "SELECT 1 WHERE N LIKE 'O''B*'", "SELECT 1 WHERE N GLOB 'O''B*'",
                        std::nullopt},
        TranslationCase{"LiteralsAreNotRewritten", "SELECT 'N LIKE ''a*'' AT(''x'')' FROM T",
                        "SELECT 'N LIKE ''a*'' AT(''x'')' FROM T", std::nullopt},
        TranslationCase{"ColumnNamedAt", "SELECT AT FROM T", "SELECT AT FROM T", std::nullopt},
        TranslationCase{"ComparedLiteralsIgnoreTrailingBlanks", "SELECT 1 WHERE N = 'a' AND 'b'<>N AND N >= 'c'",
                        "SELECT 1 WHERE N = 'a' COLLATE RTRIM AND 'b' COLLATE RTRIM<>N AND N >= 'c' COLLATE RTRIM",
                        std::nullopt},
        TranslationCase{"At", "SELECT A FROM KQV.QVALCSYS AT('SYS1:KQV') WHERE B = 1",
                        "SELECT A FROM (SELECT * FROM KQV.QVALCSYS WHERE AGENT = 'SYS1:KQV' COLLATE RTRIM) AS QVALCSYS "
                        "WHERE B = 1",
                        "SYS1:KQV"},
        TranslationCase{"AtWithApostrophe", "SELECT A FROM KQV.QVALCSYS AT('O''BRIEN')",
                        "SELECT A FROM (SELECT * FROM KQV.QVALCSYS WHERE AGENT = 'O''BRIEN' COLLATE RTRIM) AS QVALCSYS",
                        "O'BRIEN"},
        TranslationCase{"AtRightBeforeAKeyword", "SELECT A FROM KQV.QVALCSYS AT('N')WHERE B = 1",
                        "SELECT A FROM (SELECT * FROM KQV.QVALCSYS WHERE AGENT = 'N' COLLATE RTRIM) AS QVALCSYS "
                        "WHERE B = 1",
                        "N"},
        TranslationCase{"AtLowerCaseAndSpaced", "select a from kqv . qvalcsys\tat ( 'N' )--x\nwhere b = 1",
                        "select a from (SELECT * FROM kqv.qvalcsys WHERE AGENT = 'N' COLLATE RTRIM) AS qvalcsys--x\n"
                        "where b = 1",
                        "N"},
        TranslationCase{"AtOnQuotedNames", "SELECT A FROM \"KQV\".[QVALCSYS] AT('N') q",
                        "SELECT A FROM (SELECT * FROM \"KQV\".[QVALCSYS] WHERE AGENT = 'N' COLLATE RTRIM) q", "N"}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusalCase {
    const char* name;
    const char* hub;
    const char* message;
};

class DialectRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(DialectRefusalTest, SaysWhatIsWrong) {
    const RefusalCase& c = GetParam();
    try {
        translateStatement(c.hub);
        FAIL() << "accepted: " << c.hub;
    } catch (const hub::ds::DialectError& error) {
        EXPECT_THAT(error.what(), ::testing::HasSubstr(c.message));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DialectRefusalTest,
    ::testing::Values(RefusalCase{"AtOnACatalogTable", "SELECT 1 FROM Y6SRV.INODESTS AT('N')", "schema KQV"},
                      RefusalCase{"AtWithAColumn", "SELECT 1 FROM KQV.QVALCSYS AT(NODE)", "AT('node')"},
                      RefusalCase{"AtUnterminated", "SELECT 1 FROM KQV.QVALCSYS AT('N)", "AT('node')"},
                      RefusalCase{"AgentsTableOnceWithoutAt",
                                  "SELECT 1 FROM KQV.QVALCSYS AT('N') UNION SELECT 1 FROM \"kqv\".QVALCSYS",
                                  "kqv.QVALCSYS is an agent's table"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- The same rules seen through the SQL service ---------------------------------

class RoutingTest : public DataServerTest {};

std::vector<std::string> firstColumn(const QueryResult& result) {
    std::vector<std::string> values;
    for (const Row& row : result.rows) values.push_back(row.at(0).value_or("<null>"));
    return values;
}

TEST_F(RoutingTest, LikeMatchesWithStarOnlyAndCaseCounts) {
    const auto nodes = [](const char* pattern) {
        return firstColumn(runQuery(std::string("SELECT NODE FROM Y6SRV.INODESTS WHERE NODE LIKE '") + pattern +
                                    "' ORDER BY NODE"));
    };
    EXPECT_THAT(nodes("RTEMS*"), ElementsAre("RTEMS_EAST", "RTEMS_WEST"));
    EXPECT_THAT(nodes("rtems*"), ElementsAre("rtems_lower"));
    EXPECT_THAT(nodes("A%B"), ElementsAre("A%B"));
    EXPECT_THAT(nodes("A_C"), ElementsAre("A_C"));
    EXPECT_THAT(nodes("A*"), ElementsAre("A%B", "A_C", "AxB", "AyC"));
    EXPECT_THAT(nodes("*_*"), ElementsAre("A_C", "HUB_MAIN", "RTEMS_EAST", "RTEMS_WEST", "rtems_lower"));
    EXPECT_THAT(nodes("RTEMS"), ElementsAre());
}

TEST_F(RoutingTest, AStatementAtAnAgentSeesOnlyThatAgentsRows) {
    const QueryResult result = runQuery("SELECT ORIGINNODE, DW_NAME FROM KQV.QVALCSYS AT('SYS1:KQV') ORDER BY DW_NAME");
    ASSERT_EQ(result.status, st::kEndOfData);
    ASSERT_EQ(result.rows.size(), 2u);
    EXPECT_EQ(result.rows[0][1], "DWA     ");
    EXPECT_EQ(result.rows[1][1], "DWB     ");
    EXPECT_EQ(result.rows[0][0], std::string("SYS1:KQV").append(24, ' ')) << "CHAR(32) survives the routing";

    EXPECT_EQ(runQuery("SELECT DW_NAME FROM KQV.QVALCSYS AT('SYS2:KQV')").rows.size(), 1u);
}

TEST_F(RoutingTest, AnAgentNameMayHoldAnApostrophe) {
    const QueryResult result = runQuery("SELECT SYSNAME FROM KQV.QVALCSYS AT('O''BRIEN:KQV')");
    ASSERT_EQ(result.status, st::kEndOfData);
    EXPECT_THAT(result.rows, ElementsAre(Row{"SYS3    "}));
}

// Names and values stored blank-padded, as fixed-width columns hold them,
// match the same statements as those stored without the blanks.
struct PaddedCase {
    const char* name;
    const char* statement;  // {} stands for a name, once as it is and once blank-padded
    const char* value;
};

class PaddedValuesTest : public RoutingTest, public ::testing::WithParamInterface<PaddedCase> {};

std::string withValue(std::string statement, const std::string& value) {
    return statement.replace(statement.find("{}"), 2, value);
}

std::vector<Row> withoutTrailingBlanks(std::vector<Row> rows) {
    for (Row& row : rows) {
        for (Value& value : row) {
            if (value) value->erase(value->find_last_not_of(' ') + 1);
        }
    }
    return rows;
}

TEST_P(PaddedValuesTest, MatchAsFixedWidthColumnsCompare) {
    const PaddedCase& c = GetParam();
    const std::string padding =
        "UPDATE Y6SRV.INODESTS SET NODE = printf('%-32s', NODE);\n"
        "UPDATE Y6SRV.TNODELST SET NODE = printf('%-32s', NODE), NODELIST = printf('%-32s', NODELIST);\n"
        "UPDATE HUB.AGENTS SET NODE = printf('%-32s', NODE);\n"
        "UPDATE KQV.QVALCSYS SET AGENT = printf('%-32s', AGENT), ORIGINNODE = printf('%-32s', ORIGINNODE);\n";
    std::optional<std::vector<Row>> expected;
    for (const bool paddedScenario : {false, true}) {
        use(standardScript() + (paddedScenario ? padding : ""));
        for (const std::string& value : {std::string(c.value), std::string(c.value) + std::string(7, ' ')}) {
            const QueryResult result = runQuery(withValue(c.statement, value));
            ASSERT_EQ(result.status, st::kEndOfData) << "'" << value << "', padded scenario: " << paddedScenario;
            const std::vector<Row> rows = withoutTrailingBlanks(result.rows);
            if (!expected) expected = rows;
            EXPECT_EQ(rows, *expected) << "'" << value << "', padded scenario: " << paddedScenario;
        }
    }
    EXPECT_FALSE(expected->empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PaddedValuesTest,
    ::testing::Values(
        PaddedCase{"Catalog", "SELECT NODE FROM Y6SRV.INODESTS WHERE NODETYPE = 'V' AND NODE = '{}'", "RTEMS_EAST"},
        PaddedCase{"NodeList", "SELECT NODE FROM Y6SRV.TNODELST WHERE NODETYPE = 'V' AND NODELIST = '{}' ORDER BY NODE",
                   "*KQV"},
        PaddedCase{"Routed",
                   "SELECT ORIGINNODE, DW_NAME FROM KQV.QVALCSYS AT('SYS1:KQV') WHERE ORIGINNODE ='{}' "
                   "ORDER BY DW_NAME",
                   "SYS1:KQV"},
        PaddedCase{"AgentName", "SELECT DW_NAME FROM KQV.QVALCSYS AT('{}') ORDER BY DW_NAME", "SYS1:KQV"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RoutingTest, ARoutedStatementFindsItsAgentsRowsByIndex) {
    const QueryResult plan = runQuery("EXPLAIN QUERY PLAN SELECT DW_NAME FROM KQV.QVALCSYS AT('SYS1:KQV') "
                                      "WHERE ORIGINNODE ='SYS1:KQV'");
    ASSERT_EQ(plan.status, st::kEndOfData);
    std::vector<std::string> steps;
    for (const Row& row : plan.rows) steps.push_back(row.at(3).value_or(""));
    EXPECT_THAT(steps, ::testing::Contains(::testing::ContainsRegex("USING INDEX .*\\(AGENT=\\?\\)")));
}

TEST_F(RoutingTest, AnUnknownAgentFailsTheAccessPlan) {
    DSHandle path{};
    DSHandle plan{};
    ASSERT_EQ(op::openPath(&path), st::kOk);
    EXPECT_EQ(op::createPlan(path, "SELECT 1 FROM KQV.QVALCSYS AT('GHOST:KQV')", &plan), st::kUnknownAgent);
    EXPECT_EQ(plan.object, nullptr);
    EXPECT_TRUE(logged({"CreateAccessPlan", "unknown agent 'GHOST:KQV'"}));
    EXPECT_EQ(op::createPlan(path, "SELECT 1 FROM KQV.QVALCSYS AT(' SYS1:KQV')", &plan), st::kUnknownAgent)
        << "only trailing blanks are ignored";
    EXPECT_EQ(op::createPlan(path, "SELECT 1 FROM Y6SRV.INODESTS AT('SYS1:KQV')", &plan), st::kBadStatement);
    EXPECT_TRUE(logged({"CreateAccessPlan", "schema KQV"}));
    op::drop(path);
}

TEST_F(RoutingTest, AnUnreachableAgentFailsTheOpen) {
    Query query("SELECT DW_NAME FROM KQV.QVALCSYS AT('DOWN:KQV')");
    ASSERT_EQ(query.prepare(), st::kOk);
    EXPECT_EQ(query.open(), st::kAgentUnreachable);
    EXPECT_TRUE(logged({"OpenRequest", "agent 'DOWN:KQV' does not answer"}));
    EXPECT_EQ(query.fetch(), st::kNotOpen);
}

TEST_F(RoutingTest, AnAgentWithFewerColumnsDeliversTheFirstOnes) {
    Query query("SELECT ORIGINNODE, SYSNAME, DW_NAME, CONNHVTCT, STATUS FROM KQV.QVALCSYS AT('NARROW:KQV')");
    ASSERT_EQ(query.prepare(), st::kOk);
    EXPECT_EQ(query.sqlda->columnCount, 3);
    EXPECT_EQ(query.sqlda->allocatedColumns, 3);
    ASSERT_EQ(query.open(), st::kOk);
    ASSERT_EQ(query.fetch(), st::kOk);
    const Row row = query.row();
    ASSERT_EQ(row.size(), 3u);
    EXPECT_EQ(row[1], "SYS5    ");
    EXPECT_EQ(row[2], "DWF     ");
}

TEST_F(RoutingTest, AnAgentWithMoreColumnsAddsEmptyOnes) {
    Query query("SELECT ORIGINNODE, TIMESTAMP, VARNNAME, RQMID, SYSNAME, DW_NAME, CONNHVTCT, STG_ALLOC, STG_USED, "
                "DUMPTBLSZ, DUMPTBLIUS, TOTSTGCTL, STATUS, DWLEVEL FROM KQV.QVALCSYS AT('WIDE:KQV')");
    ASSERT_EQ(query.prepare(), st::kOk);
    EXPECT_EQ(query.sqlda->columnCount, 17);
    ASSERT_EQ(query.open(), st::kOk);
    ASSERT_EQ(query.fetch(), st::kOk);
    const Row row = query.row();
    ASSERT_EQ(row.size(), 17u);
    EXPECT_EQ(intOf(row[13]), 9);
    for (int extra = 14; extra < 17; ++extra) {
        EXPECT_EQ(row[static_cast<std::size_t>(extra)], "") << "column " << extra;
        EXPECT_NE(sqldaColumn(query.sqlda, extra)->dataAddress, nullptr);
    }
}

TEST_F(RoutingTest, AFlakyAgentFailsTheSameFetchAfterEveryOpen) {
    Query query("SELECT DW_NAME FROM KQV.QVALCSYS AT('FLAKY:KQV') ORDER BY DW_NAME");
    ASSERT_EQ(query.prepare(), st::kOk);
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_EQ(query.open(), st::kOk);
        std::vector<int32_t> statuses;
        std::vector<Row> rows;
        for (int i = 0; i < 5; ++i) {
            statuses.push_back(query.fetch());
            if (statuses.back() == st::kOk) rows.push_back(query.row());
        }
        EXPECT_THAT(statuses, ElementsAre(st::kOk, st::kFetchFailed, st::kOk, st::kOk, st::kEndOfData));
        EXPECT_THAT(rows, ElementsAre(Row{"DW1     "}, Row{"DW2     "}, Row{"DW3     "}));
        ASSERT_EQ(query.close(), st::kOk);
    }
    EXPECT_TRUE(logged({"Fetch on output #", "agent 'FLAKY:KQV' fails Fetch 2"}));
}

}  // namespace
}  // namespace dstest
