// Collection from the real nodes: a failure touches only its node or row,
// each node's request is prepared, opened, closed and dropped as far as it
// got, fetched columns stay within their fields, and ORIGINNODE is rebuilt
// from VARNNAME.
#include <gmock/gmock.h>

#include <cstring>
#include <map>
#include <optional>

#include "query_support.h"

namespace querytest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using kqvtest::ScenarioBuilder;

constexpr std::string_view kOrigin = "ZAVRIN:PLX1.SYSA:vRK";

std::string rightAligned(std::string_view text, std::size_t width) {
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + std::string(text);
}

// One origin node whose agents are walked in the order given.
class AgentsHub {
  public:
    struct Agent {
        std::string node;
        bool known = true;
        bool reachable = true;
        int columns = 0;
        int failFetch = 0;
        std::vector<std::string> dwNames;
    };

    explicit AgentsHub(std::vector<Agent> agents) : agents_(std::move(agents)) {}

    std::string script() const {
        ScenarioBuilder hub;
        hub.originNode(kOrigin);
        // Each agent found goes to the front of the real node list.
        for (auto it = agents_.rbegin(); it != agents_.rend(); ++it) hub.realNode(it->node, kOrigin);
        for (const auto& agent : agents_) {
            if (agent.known) hub.agent(agent.node, agent.reachable, agent.columns, agent.failFetch);
            for (const auto& dw : agent.dwNames) {
                kqvtest::StatusRow row;
                row.agent = agent.node;
                row.originNode = kOrigin;
                row.dwName = dw;
                row.varnex = "PLX1";
                hub.row(row);
            }
        }
        return hub.script();
    }

  private:
    std::vector<Agent> agents_;
};

std::vector<std::string> dwNames(const std::vector<DWSysRecord>& rows) {
    std::vector<std::string> names;
    for (const auto& row : rows) {
        std::string name = field(row.DW_NAME);
        names.push_back(name.erase(name.find_last_not_of(' ') + 1));
    }
    return names;
}

// The SQL layer operations called for each node, between the node's
// statement line and its end line: "p i f c d" for prepare, open, fetch,
// close, drop.
std::map<std::string, std::string> operationsPerNode(const std::vector<hub::trace::Record>& records) {
    static const std::map<std::string, std::string> letters = {
        {"kqvsqlp", "p"}, {"kqvsqli", "i"}, {"kqvsqlf", "f"}, {"kqvsqlc", "c"}, {"kqvsqld", "d"},
        {"kqvsqlo", "o"}};
    std::map<std::string, std::string> operations;
    std::string node;
    for (const auto& record : records) {
        if (record.kind == hub::trace::Kind::Line && record.function == "collectQVStatusdata") {
            if (record.text.starts_with("SQL= ")) {
                const auto open = record.text.find("AT('") + 4;
                node = record.text.substr(open, record.text.find('\'', open) - open);
                operations[node];
            } else if (record.text.starts_with("End getting data")) {
                node.clear();
            }
        } else if (!node.empty() && record.kind == hub::trace::Kind::Entry && record.unit == "kqvmsql") {
            std::string& sequence = operations[node];
            if (!sequence.empty()) sequence += ' ';
            sequence += letters.count(record.function) ? letters.at(record.function) : record.function;
        }
    }
    return operations;
}

class CollectionTest : public QueryTest {};

TEST_F(CollectionTest, AFailingNodeOrRowStopsNothingElse) {
    useScenario(AgentsHub({
                              {"QV:GOOD1", true, true, 0, 0, {"G1A", "G1B"}},
                              {"QV:COLS13", true, true, 13, 0, {"C13A", "C13B"}},
                              {"QV:COLS15", true, true, 15, 0, {"C15A"}},
                              {"QV:DOWN", true, false, 0, 0, {"DOWN"}},
                              {"QV:UNKNOWN", false, true, 0, 0, {"UNKN"}},
                              {"QV:FETCH2", true, true, 0, 2, {"F1", "F2", "F3"}},
                              {"QV:EMPTY", true, true, 0, 0, {}},
                              {"QV:GOOD8", true, true, 0, 0, {"G8"}},
                          })
                    .script());
    traceAll(kTraceAll);
    DrivenRequest query;
    ASSERT_EQ(query.start(), 0);

    EXPECT_THAT(query.drain(), ElementsAre(0, 0, 0, 0, kNoMoreRows));
    EXPECT_THAT(dwNames(query.rows()), ElementsAre("G8", "F1", "G1B", "G1A"));
    EXPECT_EQ(lastExitValue("kqvdwsys", "collectQVStatusdata"), 0);

    const auto collection = lines("kqvdwsys", "collectQVStatusdata");
    std::vector<std::string> errors;
    for (const auto& line : collection) {
        if (line.starts_with("Count of colums") || line.starts_with("Unable to")) errors.push_back(line);
    }
    EXPECT_THAT(errors, ElementsAre("Count of colums (14) are not equal to SQLDA columns (13)",
                                    "Count of colums (14) are not equal to SQLDA columns (13)",
                                    "Count of colums (14) are not equal to SQLDA columns (15)",
                                    "Unable to open request for input 64\n"));
    EXPECT_THAT(linesStartingWith(collection, "Processed "), ElementsAre("Processed 8 nodes\n"));

    const std::vector<std::string> nodes = {"QV:GOOD1", "QV:COLS13", "QV:COLS15", "QV:DOWN",
                                            "QV:UNKNOWN", "QV:FETCH2", "QV:EMPTY", "QV:GOOD8"};
    std::vector<std::string> nodeLines;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        nodeLines.push_back("Thrunode=\\" + rightAligned(nodes[i], 32) + "\\ \nOriginnode=\\" +
                            rightAligned(kOrigin, 32) + "\\ \nVarnname=\\PLX1    \\ \nNode number " +
                            std::to_string(i + 1) + "\n");
    }
    EXPECT_THAT(linesStartingWith(collection, "Thrunode="), ElementsAreArray(nodeLines));

    // A node is closed only when opened, and dropped only when prepared.
    const auto operations = operationsPerNode(capture().records());
    EXPECT_EQ(operations.at("QV:GOOD1"), "p i f f f c d");
    EXPECT_EQ(operations.at("QV:COLS13"), "p i f f f c d");
    EXPECT_EQ(operations.at("QV:COLS15"), "p i f f c d");
    EXPECT_EQ(operations.at("QV:DOWN"), "p i d");
    EXPECT_EQ(operations.at("QV:UNKNOWN"), "p");
    EXPECT_EQ(operations.at("QV:FETCH2"), "p i f f c d");
    EXPECT_EQ(operations.at("QV:EMPTY"), "p i f c d");
    EXPECT_EQ(operations.at("QV:GOOD8"), "p i f f c d");
    EXPECT_THAT(lines("kqvmsql", "kqvsqld"), ElementsAre()) << "no drop of an unprepared request";

    EXPECT_EQ(query.terminate(), 0);
    for (auto kind : {hub::ds::ObjectKind::Path, hub::ds::ObjectKind::AccessPlan,
                      hub::ds::ObjectKind::SqlRequest, hub::ds::ObjectKind::Output}) {
        EXPECT_EQ(hub::ds::liveObjects(kind), 0u) << hub::ds::kindName(kind) << " left behind";
    }
}

// A failure on the first of two agents, beyond what the fault matrix sees: the
// collection's result (only its exit event shows it), its error lines, and an
// agent with more columns than the table.
struct NodeFaultCase {
    const char* name;
    std::optional<hub::ds::Op> op;
    int columns;  // of the first agent's rows; 0: as selected
    const char* line;
    int32_t result;
    std::vector<std::string> rows;
};

class NodeFaultTest : public CollectionTest, public ::testing::WithParamInterface<NodeFaultCase> {};

TEST_P(NodeFaultTest, IsReportedAndTheNextNodeStillMerged) {
    const NodeFaultCase& c = GetParam();
    useScenario(
        AgentsHub({{"QV:ONE", true, true, c.columns, 0, {"DW1"}}, {"QV:TWO", true, true, 0, 0, {"DW2"}}})
            .script());
    std::vector<std::string> rows;
    const auto run = [&] {
        // The third call: the origin node query and the node list query come first.
        if (c.op) hub::ds::failNthCall(*c.op, 3, 48);
        DrivenRequest query;
        ASSERT_EQ(query.start(), 0);
        query.drain();
        rows = dwNames(query.rows());
    };

    const auto gated = linesGatedBy(kTraceError, "kqvdwsys", "collectQVStatusdata", run);
    EXPECT_THAT(gated.classOn, ElementsAre(c.line));
    EXPECT_THAT(gated.classOff, ::testing::Not(::testing::Contains(c.line)));

    hub::ds::reset();
    capture().clear();
    traceAll(kTraceFlow);
    run();
    EXPECT_EQ(lastExitValue("kqvdwsys", "collectQVStatusdata"), c.result);
    EXPECT_THAT(rows, ElementsAreArray(c.rows));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, NodeFaultTest,
    ::testing::Values(
        NodeFaultCase{"Drop", hub::ds::Op::DropRequest, 0, "Unable to drop request 48\n", 1,
                      {"DW2", "DW1"}},
        NodeFaultCase{"Open", hub::ds::Op::OpenRequest, 0, "Unable to open request for input 64\n", 0,
                      {"DW2"}},
        NodeFaultCase{"FifteenColumns", std::nullopt, 15,
                      "Count of colums (14) are not equal to SQLDA columns (15)", 0, {"DW2"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CollectionTest, AnEmptyRealNodeListQueriesNothingAndSucceeds) {
    RealNodeList nodes;
    OwnWorkArea area;
    traceAll(kTraceAll);

    EXPECT_EQ(collectQVStatusdata(&area.work(), &nodes.api()), 1);
    EXPECT_THAT(lines("kqvdwsys", "collectQVStatusdata"), ElementsAre("Processed 0 nodes\n"));
    EXPECT_TRUE(nodeStatements().empty());
    EXPECT_EQ(lastExitValue("kqvdwsys", "collectQVStatusdata"), 1);
}

// Request processing keeps a real node once per origin node that lists it,
// even of the same varnex: each origin node's rows are asked for.
TEST_F(CollectionTest, AnAgentBehindTwoOriginNodesIsQueriedForEach) {
    constexpr std::string_view kOther = "ZAVRIN:PLX1.SYSB:vRK";
    ScenarioBuilder hub;
    hub.originNode(kOrigin).originNode(kOther).realNode("QV:BOTH", kOrigin).realNode("QV:BOTH", kOther).agent("QV:BOTH");
    hub.row({.agent = "QV:BOTH", .originNode = std::string(kOrigin), .dwName = "DWA", .varnex = "PLX1"});
    hub.row({.agent = "QV:BOTH", .originNode = std::string(kOther), .dwName = "DWB", .varnex = "PLX1"});
    useScenario(hub.script());
    DrivenRequest query;
    ASSERT_EQ(query.start(), 0);
    EXPECT_THAT(query.drain(), ElementsAre(0, 0, kNoMoreRows));
    EXPECT_THAT(queriedAgents(), ElementsAre("QV:BOTH", "QV:BOTH"));
    EXPECT_THAT(dwNames(query.rows()), ::testing::UnorderedElementsAre("DWA", "DWB"));
}

TEST_F(CollectionTest, ALaterCollectionStartsAgainAtTheFirstNode) {
    useScenario(ScenarioBuilder().agent("RNODE1").agent("RNODE2").script());
    RealNodeList nodes;
    nodes.add("RNODE1", "ONODE1", "PLX1");
    nodes.add("RNODE2", "ONODE1", "PLX1");
    OwnWorkArea area;

    EXPECT_EQ(collectQVStatusdata(&area.work(), &nodes.api()), 1);
    EXPECT_EQ(area.work().realNodeCursor, nullptr);
    EXPECT_EQ(collectQVStatusdata(&area.work(), &nodes.api()), 1);
    EXPECT_THAT(queriedAgents(), ElementsAre("RNODE1", "RNODE2", "RNODE1", "RNODE2"));
}

// Fetched values copied column by column into a buffer reused between rows:
// a NULL leaves the field as the previous row left it, a longer value is cut
// to its field, a shorter one overwrites only its own length.
TEST_F(CollectionTest, FetchedColumnsStayWithinTheirFields) {
    useScenario(ScenarioBuilder()
                    .originNode(kOrigin)
                    .realNode("QV:SHAPE", kOrigin)
                    .agent("QV:SHAPE")
                    .sql("INSERT INTO KQV.QVALCSYS VALUES "
                         "('QV:SHAPE', 'ZAVRIN:PLX1.SYSA:vRK', '1111111111111111', 'PLX1', 'RQM1', "
                         "'SYSONE', 'DW1', 11, 12, 13, 14, 15, 16, 3, 700),"
                         "('QV:SHAPE', 'ZAVRIN:PLX1.SYSA:vRK', NULL, 'PLX1', 'RQM2', NULL, 'DW2', NULL, "
                         "22, 23, 24, 25, 26, NULL, NULL),"
                         "('QV:SHAPE', 'ZAVRIN:PLX1.SYSA:vRK', 'TTTTTTTTTTTTTTTTTTTT', NULL, X'41', "
                         "'SYS3', 'DW3LONGNAME', NULL, 32, 33, 34, 35, 36, 9, X'0102030405060708');")
                    .script());
    DrivenRequest query;
    ASSERT_EQ(query.start(), 0);

    ASSERT_EQ(query.process(), 0);
    EXPECT_EQ(query.work().rowsReturned, 1) << "nothing written beyond the row buffer";
    EXPECT_THAT(query.drain(), ElementsAre(0, 0, kNoMoreRows));
    const auto rows = query.rows();
    ASSERT_EQ(rows.size(), 3u);

    struct Expected {
        std::string dwName, timestamp, varnex, rqmid, sysname;
        int32_t connhvtct, stgAlloc, status;
    };
    const Expected expected[] = {
        {"DW3LONGN", "TTTTTTTTTTTTTTTT", "PLX1    ", "AQM2", "SYS3    ", 11, 32, 9},
        {"DW2     ", "1111111111111111", "PLX1    ", "RQM2", "SYSONE  ", 11, 22, 3},
        {"DW1     ", "1111111111111111", "PLX1    ", "RQM1", "SYSONE  ", 11, 12, 3},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + expected[i].dwName);
        EXPECT_EQ(field(rows[i].DW_NAME), expected[i].dwName);
        EXPECT_EQ(field(rows[i].TIMESTAMP), expected[i].timestamp);
        EXPECT_EQ(field(rows[i].VARNNAME), expected[i].varnex);
        EXPECT_EQ(field(rows[i].RQMID), expected[i].rqmid);
        EXPECT_EQ(field(rows[i].SYSNAME), expected[i].sysname);
        EXPECT_EQ(rows[i].CONNHVTCT, expected[i].connhvtct);
        EXPECT_EQ(rows[i].STG_ALLOC, expected[i].stgAlloc);
        EXPECT_EQ(rows[i].STATUS, expected[i].status);
        EXPECT_EQ(field(rows[i].ORIGINNODE), padded("PLX1" + std::string(kPanelSuffix), 32));
    }
    EXPECT_EQ(rows[1].DWLEVEL, 700);
    EXPECT_EQ(rows[2].DWLEVEL, 700);
    const unsigned char cut[4] = {1, 2, 3, 4};
    EXPECT_EQ(std::memcmp(&rows[0].DWLEVEL, cut, 4), 0) << "DWLEVEL takes the first 4 bytes only";
}

// Without a filter ORIGINNODE is the row's varnex up to its first blank or
// zero byte, then ":vRK:HarborStatusPanel", blank-padded.
struct VarnexCase {
    const char* name;
    const char* sqlValue;
    std::string originNode;
    std::string varnexLine;  // empty: not checked
};

TEST_F(CollectionTest, OriginNodeIsBuiltFromTheRowsVarnex) {
    const std::vector<VarnexCase> cases = {
        {"ThreeCharacters", "'ABC'", "ABC:vRK:HarborStatusPanel" + std::string(7, ' '), "ABC     "},
        {"EightCharacters", "'ABCDEFGH'", "ABCDEFGH:vRK:HarborStatusPanel  ", "ABCDEFGH"},
        {"AllBlank", "''", ":vRK:HarborStatusPanel" + std::string(10, ' '), std::string(8, ' ')},
        {"InnerBlank", "'AB CD'", "AB:vRK:HarborStatusPanel" + std::string(8, ' '), "AB CD   "},
        {"ZeroBytes", "X'4142000000000000'", "AB:vRK:HarborStatusPanel" + std::string(8, ' '), ""},
    };
    std::string inserts;
    for (const auto& c : cases) {
        inserts += "INSERT INTO KQV.QVALCSYS VALUES ('QV:V', 'ZAVRIN:PLX1.SYSA:vRK', '1261208093000000', " +
                   std::string(c.sqlValue) + ", 'RQM1', 'SYS1', 'DWV', 1, 2, 3, 4, 5, 6, 0, 700);\n";
    }
    useScenario(ScenarioBuilder().originNode(kOrigin).realNode("QV:V", kOrigin).agent("QV:V").sql(inserts).script());
    traceAll(kTraceDetail);
    DrivenRequest query;
    ASSERT_EQ(query.start(), 0);
    query.drain();

    const auto rows = query.rows();
    ASSERT_EQ(rows.size(), cases.size());
    const auto collection = lines("kqvdwsys", "collectQVStatusdata");
    const auto varnLines = linesStartingWith(collection, "Varn Name   (vok2) ");
    const auto originLines = linesStartingWith(collection, "Origin Node (vok2) ");
    ASSERT_EQ(varnLines.size(), cases.size());
    ASSERT_EQ(originLines.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const VarnexCase& c = cases[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(field(rows[cases.size() - 1 - i].ORIGINNODE), c.originNode) << "rows come back newest first";
        if (!c.varnexLine.empty()) {
            EXPECT_EQ(varnLines[i], "Varn Name   (vok2) " + c.varnexLine);
            EXPECT_EQ(originLines[i], "Origin Node (vok2) " + c.originNode);
        }
    }
    EXPECT_TRUE(linesStartingWith(collection, "Origin Node (vok1) ").empty());
}

}  // namespace
}  // namespace querytest
