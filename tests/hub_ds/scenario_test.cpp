// Loading scenarios: what a good script gives and what a bad one says.
#include <gmock/gmock.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "ds_test_support.h"

namespace dstest {
namespace {

using hub::ds::Scenario;
using ::testing::AllOf;
using ::testing::HasSubstr;

std::string loadError(const std::string& script, const std::string& name = "broken.sql") {
    try {
        Scenario::fromScript(script, name);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(loaded)";
}

TEST(ScenarioTest, TellsWhatHubAgentsSaysOfEachAgent) {
    const auto scenario = Scenario::fromScript(standardScript());
    const auto sys1 = scenario->agent("SYS1:KQV");
    ASSERT_TRUE(sys1);
    EXPECT_TRUE(sys1->reachable);
    EXPECT_EQ(sys1->columns, std::nullopt);
    EXPECT_EQ(sys1->failFetch, std::nullopt);
    EXPECT_FALSE(scenario->agent("DOWN:KQV")->reachable);
    EXPECT_EQ(scenario->agent("NARROW:KQV")->columns, 3);
    EXPECT_EQ(scenario->agent("FLAKY:KQV")->failFetch, 2);
    EXPECT_EQ(scenario->agent("O'BRIEN:KQV")->node, "O'BRIEN:KQV");
    EXPECT_FALSE(scenario->agent("sys1:kqv"));
}

// The hub's catalog of provider tables, followed by its rows.
std::string catalogScript(const std::string& rows) {
    return schemaScript() +
           "CREATE TABLE HUB.TABLECOLS (TABLE_NAME, SEQ, COLUMN_NAME, DATA_TYPE, ROW_OFFSET, WIDTH, INDEX_COLUMN);\n"
           "INSERT INTO HUB.TABLECOLS VALUES " +
           rows + ";\n";
}

struct BadScriptCase {
    const char* name;
    std::string script;
    std::vector<std::string> fragments;
};

class BadScriptTest : public ::testing::TestWithParam<BadScriptCase> {};

// Where a script would write a file if it were let.
constexpr char kWritten[] = "scenario_test_written.db";

TEST_P(BadScriptTest, IsRefusedWithTheScenarioAndTheReason) {
    const BadScriptCase& c = GetParam();
    const std::string message = loadError(c.script);
    EXPECT_THAT(message, HasSubstr("scenario broken.sql"));
    for (const std::string& fragment : c.fragments) EXPECT_THAT(message, HasSubstr(fragment));
    EXPECT_FALSE(std::filesystem::exists(kWritten));
}

std::string withSchema(const std::string& statements) { return schemaScript() + statements; }

INSTANTIATE_TEST_SUITE_P(
    Cases, BadScriptTest,
    ::testing::Values(
        BadScriptCase{"SyntaxError",
                      schemaScript() + "\n-- a comment\nINSERT INTO Y6SRV.TNODELST VALUES ('A', 'V', 'x');\n"
                                       "INSERT INTO Y6SRV.TNODELST VALUS ('B', 'V', 'x');\n",
                      {"line 16", "syntax error", "INSERT INTO Y6SRV.TNODELST VALUS ('B'"}},
        BadScriptCase{"ConstraintFails", schemaScript() + "INSERT INTO KQV.QVALCSYS (AGENT) VALUES (NULL);",
                      {"NOT NULL constraint failed", "INSERT INTO KQV.QVALCSYS (AGENT) VALUES (NULL)"}},
        BadScriptCase{"NoSchemas", "CREATE TABLE INODESTS (NODE TEXT);", {"table Y6SRV.INODESTS is missing"}},
        BadScriptCase{"MissingTable",
                      "ATTACH ':memory:' AS Y6SRV; ATTACH ':memory:' AS KQV; ATTACH ':memory:' AS HUB;\n"
                      "CREATE TABLE Y6SRV.INODESTS (NODE, NODETYPE, Y6ONLINE, AFFINITIES);",
                      {"table Y6SRV.TNODELST is missing"}},
        BadScriptCase{"MissingColumn",
                      "ATTACH ':memory:' AS Y6SRV; ATTACH ':memory:' AS KQV; ATTACH ':memory:' AS HUB;\n"
                      "CREATE TABLE Y6SRV.INODESTS (NODE, NODETYPE, Y6ONLINE, AFFINITIES);\n"
                      "CREATE TABLE Y6SRV.TNODELST (NODE, NODETYPE);",
                      {"table Y6SRV.TNODELST has no column NODELIST"}},
        BadScriptCase{"NegativeColumns",
                      schemaScript() + "INSERT INTO HUB.AGENTS (NODE, COLUMNS) VALUES ('BAD:KQV', -1);",
                      {"agent 'BAD:KQV'", "COLUMNS = -1"}},
        BadScriptCase{"CatalogType", catalogScript("('T', 1, 'A', 'TEXT', 0, 4, 0)"),
                      {"HUB.TABLECOLS, table 'T' column 'A'", "DATA_TYPE 'TEXT' is neither CHAR nor INTEGER"}},
        BadScriptCase{"CatalogIntegerWidth", catalogScript("('T', 1, 'A', 'INTEGER', 0, 8, 0)"),
                      {"column 'A'", "4 bytes wide, not 8"}},
        BadScriptCase{"CatalogNegativeOffset", catalogScript("('T', 1, 'A', 'CHAR', -1, 4, 0)"),
                      {"ROW_OFFSET must be a whole number from 0"}},
        BadScriptCase{"CatalogParameterNotIndexed",
                      catalogScript("('T', 1, 'A', 'CHAR', 0, 4, 0), ('T', 2, 'P', 'CHAR', NULL, 8, 0)"),
                      {"column 'P'", "must be an index column"}},
        BadScriptCase{"CatalogIndexColumnName", catalogScript("('T', 1, 'ELEVENCHARS', 'CHAR', 0, 4, 1)"),
                      {"at most 10 characters"}},
        BadScriptCase{"CatalogColumnTwice",
                      catalogScript("('T', 1, 'A', 'CHAR', 0, 4, 0), ('T', 2, 'a', 'CHAR', 4, 4, 0)"),
                      {"column 'a'", "that column twice"}},
        BadScriptCase{"CatalogOnlyParameters", catalogScript("('T', 1, 'P', 'CHAR', NULL, 8, 1)"),
                      {"table 'T' no column of the row"}},
        // The default scenario's catalog gives KQVDWSYS its provider's 108-byte rows.
        BadScriptCase{"CatalogPastTheProvidersRow",
                      catalogScript("('KQVDWSYS', 1, 'A', 'CHAR', 0, 8, 1), ('KQVDWSYS', 2, 'B', 'CHAR', 104, 5, 0)"),
                      {"table 'KQVDWSYS' column 'B'", "end at byte 109, past the end of the 108-byte rows"}},
        // The engine would stop reading at the NUL, and the script there.
        BadScriptCase{"NulByte", withSchema(std::string("SELECT 1;\n  ") + '\0' + "SELECT 2;"),
                      {"line 14, column 3: a NUL byte"}},
        BadScriptCase{"AttachesAFile", withSchema("ATTACH 'scenario_test_written.db' AS W;"),
                      {"line 13", "the file 'scenario_test_written.db' is refused",
                       "in: ATTACH 'scenario_test_written.db' AS W"}},
        BadScriptCase{"AttachesAFileUri", withSchema("ATTACH 'file:scenario_test_written.db?mode=rwc' AS W;"),
                      {"is refused: a scenario keeps its databases in memory"}},
        BadScriptCase{"AttachesAComputedName", withSchema("ATTACH 'scenario_test_written' || '.db' AS W;"),
                      {"a computed file name is refused"}},
        BadScriptCase{"VacuumsIntoAFile", withSchema("VACUUM INTO 'scenario_test_written.db';"),
                      {"is refused", "in: VACUUM INTO 'scenario_test_written.db'"}},
        BadScriptCase{"NamesATemporaryDirectory", withSchema("PRAGMA temp_store_directory = '.';"),
                      {"PRAGMA temp_store_directory: a scenario names no directory"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A table the scenario's catalog does not define keeps the default
// scenario's definition.
TEST(ScenarioTest, DefinesTablesFromItsCatalogOrTheDefaultScenarios) {
    const auto scenario = Scenario::fromScript(
        catalogScript("('T', 2, 'N', 'INTEGER', 8, 4, 0), ('T', 1, 'C', 'char', 0, 6, 1), ('T', 3, 'P', 'CHAR', NULL, 3, 1)"));
    const auto own = scenario->tableDefinition("T");
    ASSERT_TRUE(own);
    ASSERT_EQ(own->columns.size(), 3u);
    EXPECT_EQ(own->columns[0].name, "C");
    EXPECT_EQ(own->columns[0].type, hub::ds::ColumnType::Char);
    EXPECT_TRUE(own->columns[0].indexColumn);
    EXPECT_EQ(own->columns[1].offset, 8u);
    EXPECT_TRUE(own->columns[2].isParameter());
    EXPECT_EQ(own->rowWidth(), 12u);

    const auto standard = scenario->tableDefinition("KQVDWSYS");
    ASSERT_TRUE(standard);
    EXPECT_EQ(standard->rowWidth(), sizeof(DWSysRecord));
    ASSERT_EQ(standard->columns.size(), 15u);
    EXPECT_EQ(standard->columns[12].name, "STATUS");
    EXPECT_EQ(standard->columns[12].offset, offsetof(DWSysRecord, STATUS));
    EXPECT_TRUE(standard->columns[14].isParameter());

    EXPECT_FALSE(scenario->tableDefinition("NONE"));
}

TEST(ScenarioTest, ExtraTablesAndColumnsAreWelcome) {
    EXPECT_NO_THROW(Scenario::fromScript(schemaScript() + "CREATE TABLE HUB.NOTES (TEXT);\n"
                                                          "ALTER TABLE KQV.QVALCSYS ADD COLUMN EXTRA INTEGER;"));
}

// Tests run in parallel processes: each gets a file of its own.
class ScenarioFileTest : public ::testing::Test {
  protected:
    void TearDown() override { std::filesystem::remove(file_); }
    std::filesystem::path file_ =
        std::filesystem::temp_directory_path() /
        ("hub_ds_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
         std::to_string(std::random_device()()) + ".sql");
};

TEST_F(ScenarioFileTest, LoadsFromAFileAndNamesItInErrors) {
    std::ofstream(file_) << standardScript();
    const auto scenario = Scenario::fromFile(file_);
    EXPECT_EQ(scenario->name(), file_.string());
    EXPECT_TRUE(scenario->agent("SYS1:KQV"));

    std::ofstream(file_) << "ATTACH ':memory:' AS Y6SRV;\nSELEKT 1;\n";
    try {
        Scenario::fromFile(file_);
        FAIL() << "a bad file loaded";
    } catch (const std::runtime_error& error) {
        EXPECT_THAT(error.what(), AllOf(HasSubstr(file_.string()), HasSubstr("line 2"), HasSubstr("SELEKT 1")));
    }
}

TEST_F(ScenarioFileTest, AMissingFileOrADirectoryIsNamed) {
    for (const char* reason : {"cannot open the file: No such file or directory", "is a directory"}) {
        try {
            Scenario::fromFile(file_);
            FAIL() << "loaded: " << file_;
        } catch (const std::runtime_error& error) {
            EXPECT_THAT(error.what(), HasSubstr("scenario " + file_.string() + ": " + reason));
        }
        std::filesystem::create_directory(file_);
    }
}

class ScenarioUseTest : public DataServerTest {};

TEST_F(ScenarioUseTest, StatementsCannotChangeTheScenario) {
    DSHandle path{};
    DSHandle plan{};
    ASSERT_EQ(op::openPath(&path), st::kOk);
    for (const char* statement : {"UPDATE HUB.AGENTS SET REACHABLE = 0", "INSERT INTO Y6SRV.TNODELST VALUES (1,2,3)",
                                  "DROP TABLE KQV.QVALCSYS", "BEGIN", "PRAGMA query_only = OFF",
                                  "PRAGMA case_sensitive_like = OFF", "DETACH HUB", "ATTACH ':memory:' AS M",
                                  "ATTACH 'scenario_test_written.db' AS W"}) {
        EXPECT_EQ(op::createPlan(path, statement, &plan), st::kBadStatement) << statement;
    }
    op::drop(path);
    EXPECT_EQ(runQuery("SELECT NODE FROM HUB.AGENTS WHERE REACHABLE = 0").rows.size(), 1u);
}

TEST_F(ScenarioUseTest, TheCurrentScenarioIsTheLastOneUsed) {
    const auto first = hub::ds::currentScenario();
    ASSERT_TRUE(first);
    const auto second = Scenario::fromScript(schemaScript(), "second");
    hub::ds::useScenario(second);
    EXPECT_EQ(hub::ds::currentScenario(), second);
    EXPECT_EQ(runQuery("SELECT COUNT(*) FROM HUB.AGENTS").rows.at(0).at(0), std::string(4, '\0'));
}

}  // namespace
}  // namespace dstest
