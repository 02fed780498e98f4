// buildNodeList on scenario data: the node-list statement, the varnex and
// agent-version rules, order, duplicates and the cursor.
#include <gmock/gmock.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "discovery_test_support.h"

namespace disctest {
namespace {

using hub::ds::Op;
using ::testing::ElementsAre;
using ::testing::IsEmpty;


const std::string kO1 = "ZAVRIN:GRP1.SYSA:vRK";
const std::string kO2 = "ZAVRIN:GRP1.SYSB:vRK";  // same varnex as kO1
const std::string kLongName = "ZAVRIN:LONGGROUPNM.SYSTEMID:vRKX";  // 32 characters

class RealNodeListTest : public DiscoveryTest {
  protected:
    // The origin node list as request processing has it before buildNodeList;
    // traces and the call log start after it.
    void buildOrigins(int32_t keepMode = 0) {
        const int32_t classes = hub::trace::classesOf("kqvmutl", "buildOrigList");
        traceAll(0);
        ASSERT_EQ(buildOrigList(block_->api(), keepMode), 1);
        traceAll(classes);
        capture().clear();
    }

    int32_t run(int32_t skipDuplicateCheck = 1) { return buildNodeList(block_->api(), skipDuplicateCheck); }

    std::vector<std::string> linesStartingWith(std::string_view prefix) const {
        return DiscoveryTest::linesStartingWith("buildNodeList", prefix);
    }

    // (RealNode, RealNodeOrigNode) of the real node list, in walk order.
    std::vector<std::pair<std::string, std::string>> realNodesWithOrigins() const {
        std::vector<std::pair<std::string, std::string>> nodes;
        for (const RealNodeElement* element : block_->realNodes()) {
            nodes.emplace_back(std::string(element->RealNode, strnlen(element->RealNode, 32)),
                               std::string(element->RealNodeOrigNode));
        }
        return nodes;
    }
};

using Pairs = std::vector<std::pair<std::string, std::string>>;

// --- Statements and fields ---------------------------------------------------------

TEST_F(RealNodeListTest, SendsOneNodeListStatementPerOriginNodeInListOrder) {
    useScenario(kqvtest::ScenarioBuilder()
                    .originNode(kO1)
                    .originNode(kLongName)
                    .realNode("AGENT1", kO1)
                    .realNode("AGENT2", kLongName)
                    .script());
    buildOrigins();
    const CallLog log;
    EXPECT_EQ(run(), 1);
    const auto plans = callsOf(log.calls(), Op::CreateAccessPlan);
    ASSERT_EQ(plans.size(), 2u);
    EXPECT_EQ(plans[0].text, nodeListStatement(kLongName)) << "all 32 characters of a name without a NUL";
    EXPECT_EQ(plans[1].text, nodeListStatement(kO1));
    EXPECT_EQ(plans[0].status, 0);
    EXPECT_EQ(plans[1].status, 0);
    EXPECT_EQ(realNodesWithOrigins(), (Pairs{{"AGENT1", kO1}, {"AGENT2", kLongName}}));
    EXPECT_EQ(hub::ds::liveObjects(), 0u);
}

TEST_F(RealNodeListTest, ANameWithAnApostropheIsQuotedAndItsStatementRuns) {
    const std::string name = "ZAVRIN:O'NEIL.SYSA:vRK";
    useScenario(kqvtest::ScenarioBuilder().originNode(name).realNode("AGENT1", name).script());
    buildOrigins();
    const CallLog log;
    EXPECT_EQ(run(), 1);
    const auto plans = callsOf(log.calls(), Op::CreateAccessPlan);
    ASSERT_EQ(plans.size(), 1u);
    EXPECT_EQ(plans[0].text, nodeListStatement("ZAVRIN:O''NEIL.SYSA:vRK"));
    EXPECT_EQ(plans[0].status, 0);
    ASSERT_EQ(block_->realNodes().size(), 1u);
    const RealNodeElement& element = *block_->realNodes()[0];
    EXPECT_EQ(field(element.RealNode), nuls("AGENT1", 32));
    EXPECT_EQ(field(element.RealNodeOrigNode), nuls(name, 33));
    EXPECT_EQ(field(element.RealNodeVarnex), "O'NEIL  ");
}

struct VarnexCase {
    const char* name;
    std::string originNode;  // as the catalog has it
    std::string agentVersion;
    std::string varnex;  // expected RealNodeVarnex
};

class VarnexRuleTest : public RealNodeListTest, public ::testing::WithParamInterface<VarnexCase> {};

TEST_P(VarnexRuleTest, CarriesTheOriginsVarnexOnlyForBktGmrAndVrk) {
    const VarnexCase& c = GetParam();
    const std::string stored = c.originNode.substr(0, 32);
    useScenario(kqvtest::ScenarioBuilder()
                    .originNode(c.originNode, c.agentVersion)
                    .realNode("AGENT1", stored)
                    .realNode("AGENT2", stored)
                    .script());
    buildOrigins();
    EXPECT_EQ(run(), 1);
    const std::vector<RealNodeElement*> nodes = block_->realNodes();
    ASSERT_EQ(nodes.size(), 2u);
    for (const RealNodeElement* element : nodes) {
        EXPECT_EQ(field(element->RealNodeVarnex), c.varnex);
        EXPECT_EQ(field(element->RealNodeOrigNode), nuls(stored, 33));
        EXPECT_EQ(field(element->RealNodeAgtVer), c.agentVersion);
    }
    EXPECT_EQ(field(nodes[0]->RealNode), nuls("AGENT2", 32));
    EXPECT_EQ(field(nodes[1]->RealNode), nuls("AGENT1", 32));
}

INSTANTIATE_TEST_SUITE_P(
    Types, VarnexRuleTest,
    ::testing::Values(VarnexCase{"Vrk", kO1, "05", "GRP1    "},
                      VarnexCase{"Bkt", "GRP2:SYSB:BKT", "12", "GRP2    "},
                      VarnexCase{"Gmr", "ZAVRIN:GRP3.SYSC:GMR", "7A", "GRP3    "},
                      VarnexCase{"BktWithLongerType", "GRP4:SYSD:BKTX", "06", "GRP4    "},
                      VarnexCase{"LongVarnexAndName", kLongName, "09", "LONGGROU"},
                      VarnexCase{"OtherType", "GRP5:SYSE:XYZ", "05", "        "},
                      VarnexCase{"LowerCaseType", "GRP6:SYSF:bkt", "05", "        "},
                      VarnexCase{"AlmostVrk", "ZAVRIN:GRP7.SYSG:vRX", "05", "        "},
                      VarnexCase{"TypeCutWithTheName", "ZAVRIN:LONGGROUPNAME.SYSTEMID:vRKX", "04", "        "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RealNodeListTest, ValuesWithoutLengthAreEmptyAndLongOnesCut) {
    const std::string longNode = "AGENT-WITH-A-VERY-LONG-NAME-0123456789";  // 38 characters
    useScenario(kqvtest::ScenarioBuilder()
                    .originNode(kO1)
                    .sql("INSERT INTO Y6SRV.TNODELST VALUES (NULL, 'V', " + kqvtest::sqlLiteral(kO1) + ");")
                    .realNode("", kO1)
                    .realNode(longNode, kO1)
                    .script());
    buildOrigins();
    EXPECT_EQ(run(), 1);
    const std::vector<RealNodeElement*> nodes = block_->realNodes();
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(field(nodes[0]->RealNode), longNode.substr(0, 32));
    EXPECT_EQ(field(nodes[0]->RealNodeOrigNode), nuls(kO1, 33)) << "the cut name does not run into the next field";
    EXPECT_EQ(field(nodes[1]->RealNode), nuls("", 32));
    EXPECT_EQ(field(nodes[2]->RealNode), nuls("", 32)) << "NULL";
}

// --- Order, duplicates and the cursor ------------------------------------------------

TEST_F(RealNodeListTest, RealNodesAreWalkedInReverseOfStoring) {
    useScenario(kqvtest::ScenarioBuilder()
                    .originNode(kO1)  // fetched first, so processed last
                    .originNode("GRP2:SYSB:BKT")
                    .realNode("A1", kO1)
                    .realNode("A2", kO1)
                    .realNode("B1", "GRP2:SYSB:BKT")
                    .realNode("B2", "GRP2:SYSB:BKT")
                    .script());
    buildOrigins();
    EXPECT_EQ(run(), 1);
    EXPECT_THAT(block_->realNames(), ElementsAre("A2", "A1", "B2", "B1"));
}

struct DuplicateCase {
    const char* name;
    std::vector<std::string> origins;                            // fetching order
    std::vector<std::pair<std::string, std::string>> nodeLists;  // (real node, origin)
    int32_t skipDuplicateCheck;
    Pairs stored;  // walk order
    std::vector<std::string> duplicates;  // the real nodes reported as duplicates
};

class DuplicateTest : public RealNodeListTest, public ::testing::WithParamInterface<DuplicateCase> {};

TEST_P(DuplicateTest, StoresARealNodeAgainOnlyWhenAskedOrForAnotherVarnex) {
    const DuplicateCase& c = GetParam();
    kqvtest::ScenarioBuilder scenario;
    for (const std::string& origin : c.origins) scenario.originNode(origin);
    for (const auto& [node, origin] : c.nodeLists) scenario.realNode(node, origin);
    useScenario(scenario.script());
    buildOrigins();
    traceAll(kTraceDetail);
    EXPECT_EQ(run(c.skipDuplicateCheck), 1);
    EXPECT_EQ(realNodesWithOrigins(), c.stored);
    std::vector<std::string> expected;
    for (const std::string& node : c.duplicates) {
        expected.push_back("Duplicate node " + std::string(32 - node.size(), ' ') + node + " found\n");
    }
    EXPECT_EQ(linesStartingWith("Duplicate"), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DuplicateTest,
    ::testing::Values(
        DuplicateCase{"SameVarnexStoredTwiceWhenSkipped", {kO1, kO2}, {{"AGENT1", kO1}, {"AGENT1", kO2}}, 1,
                      {{"AGENT1", kO1}, {"AGENT1", kO2}}, {}},
        DuplicateCase{"SameVarnexStoredOnce", {kO1, kO2}, {{"AGENT1", kO1}, {"AGENT1", kO2}}, 0, {{"AGENT1", kO2}},
                      {"AGENT1"}},
        DuplicateCase{"OtherVarnexStoredAgain", {kO1, "GRP2:SYSB:BKT"}, {{"AGENT1", kO1}, {"AGENT1", "GRP2:SYSB:BKT"}},
                      0, {{"AGENT1", kO1}, {"AGENT1", "GRP2:SYSB:BKT"}}, {}},
        DuplicateCase{"VarnexesDifferingInTheirLastCharacter", {"ZAVRIN:LONGVARA.SYSA:vRK", "ZAVRIN:LONGVARB.SYSB:vRK"},
                      {{"AGENT1", "ZAVRIN:LONGVARA.SYSA:vRK"}, {"AGENT1", "ZAVRIN:LONGVARB.SYSB:vRK"}}, 0,
                      {{"AGENT1", "ZAVRIN:LONGVARA.SYSA:vRK"}, {"AGENT1", "ZAVRIN:LONGVARB.SYSB:vRK"}}, {}},
        DuplicateCase{"BlankVarnexesAreEqual", {"GRP8:SYSA:XYZ", "GRP9:SYSB:XYZ"},
                      {{"AGENT1", "GRP8:SYSA:XYZ"}, {"AGENT1", "GRP9:SYSB:XYZ"}}, 0, {{"AGENT1", "GRP9:SYSB:XYZ"}},
                      {"AGENT1"}},
        DuplicateCase{"TwiceInOneNodeList", {kO1}, {{"AGENT1", kO1}, {"AGENT2", kO1}, {"AGENT1", kO1}}, 0,
                      {{"AGENT2", kO1}, {"AGENT1", kO1}}, {"AGENT1"}},
        // Compared over the fetched value's length only.
        DuplicateCase{"PrefixOfAStoredName", {kO1}, {{"AGENT10", kO1}, {"AGENT1", kO1}}, 0, {{"AGENT10", kO1}},
                      {"AGENT10"}},
        DuplicateCase{"StoredNameIsAPrefix", {kO1}, {{"AGENT1", kO1}, {"AGENT10", kO1}}, 0,
                      {{"AGENT10", kO1}, {"AGENT1", kO1}}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RealNodeListTest, AnEmptyNodeListIsReportedWhateverTheFlagsAndTheResultStays1) {
    useScenario(kqvtest::ScenarioBuilder()
                    .originNode(kO1)
                    .originNode(kLongName)
                    .originNode("GRP2:SYSB:BKT")
                    .realNode("AGENT1", kO1)
                    .realNode("AGENT3", "GRP2:SYSB:BKT")
                    .script());
    buildOrigins();
    traceAll(0);
    EXPECT_EQ(run(), 1);
    EXPECT_THAT(lines("kqvmutl", "buildNodeList"),
                ElementsAre("KQVUTL06E ERROR IN NODE LIST TABLE - NODE " + kLongName + " NOT FOUND"));
    EXPECT_THAT(block_->realNames(), ElementsAre("AGENT1", "AGENT3"));
}

TEST_F(RealNodeListTest, AnOriginNodeNotToResolveIsPassedOverWithoutARequest) {
    useScenario(kqvtest::ScenarioBuilder()
                    .originNode(kO1)
                    .originNode(kO2)
                    .realNode("AGENT1", kO1)
                    .realNode("AGENT2", kO2)
                    .script());
    buildOrigins();
    block_->originNodes().at(0)->GetRealNode = 0;  // kO2
    traceAll(kTraceAll);
    const CallLog log;
    EXPECT_EQ(run(), 1);
    const auto plans = callsOf(log.calls(), Op::CreateAccessPlan);
    ASSERT_EQ(plans.size(), 1u);
    EXPECT_EQ(plans[0].text, nodeListStatement(kO1));
    EXPECT_EQ(callsOf(log.calls(), Op::Sql1cpth).size(), 1u);
    EXPECT_THAT(block_->realNames(), ElementsAre("AGENT1"));
    EXPECT_THAT(linesStartingWith("KQVUTL"), IsEmpty());
}

TEST_F(RealNodeListTest, TheCursorIsNullAfterwardsSoASecondCallStartsOver) {
    useScenario(kqvtest::ScenarioBuilder()
                    .originNode(kO1)
                    .originNode("GRP2:SYSB:BKT")
                    .realNode("AGENT1", kO1)
                    .realNode("AGENT2", "GRP2:SYSB:BKT")
                    .script());
    buildOrigins();
    EXPECT_EQ(block_->api()->InodeCursor, nullptr);
    EXPECT_EQ(run(1), 1);
    EXPECT_EQ(block_->api()->InodeCursor, nullptr);
    EXPECT_EQ(run(1), 1);
    EXPECT_EQ(block_->api()->InodeCursor, nullptr);
    EXPECT_THAT(block_->realNames(), ElementsAre("AGENT1", "AGENT2", "AGENT1", "AGENT2"));

    traceAll(kTraceDetail);
    EXPECT_EQ(run(0), 1);
    EXPECT_EQ(block_->realNodes().size(), 4u) << "every node of the third pass is already listed";
    EXPECT_EQ(linesStartingWith("Duplicate").size(), 2u);
}

}  // namespace
}  // namespace disctest
