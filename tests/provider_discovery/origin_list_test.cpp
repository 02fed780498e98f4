// buildOrigList on scenario data: the catalog statement, the node filter, the
// two name shapes and their rejections, keepMode, the stored fields, the list
// order, and that failures are error lines.
#include <gmock/gmock.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "discovery_test_support.h"
#include "hub/ds/status.h"

namespace disctest {
namespace {

using hub::ds::Op;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace st = hub::ds::status;

const std::string kAgentNode = "ZAVRIN:GRP1.SYSA:vRK";
const std::string kOtherNode = "GRP2:SYSB:BKT";

class OriginListTest : public DiscoveryTest {
  protected:
    int32_t run(int32_t keepMode = 1) { return buildOrigList(block_->api(), keepMode); }

    std::vector<std::string> linesStartingWith(std::string_view prefix) const {
        return DiscoveryTest::linesStartingWith("buildOrigList", prefix);
    }
};

// --- The catalog statement ------------------------------------------------------

TEST_F(OriginListTest, SendsTheFixedCatalogStatementWithoutAFilter) {
    useScenario(kqvtest::ScenarioBuilder()
                    .originNode(kAgentNode)
                    .catalogRow("ZAVRIN:OFF1.SYSA:vRK", "V", "N", "00000000000020000000000000000000050000000000")
                    .catalogRow("ZAVRIN:AFF1.SYSA:vRK", "V", "Y", "00000000000010000000000000000000050000000000")
                    .catalogRow("ZAVRIN:TYP1.SYSA:vRK", "M", "Y", "00000000000020000000000000000000050000000000")
                    .script());
    traceAll(kTraceDetail);
    const CallLog log;
    EXPECT_EQ(run(), 1);

    ASSERT_EQ(kCatalogStatement.size(), 158u);
    const auto plans = callsOf(log.calls(), Op::CreateAccessPlan);
    ASSERT_EQ(plans.size(), 1u);
    EXPECT_EQ(plans[0].text, kCatalogStatement);
    EXPECT_EQ(lines("kqvmutl", "buildOrigList").at(0), "NodeSTS SQL= " + std::string(kCatalogStatement) + "\n");
    EXPECT_THAT(linesStartingWith("NODE="), IsEmpty());
    EXPECT_THAT(block_->originNames(), ElementsAre(kAgentNode)) << "offline, other affinity and other type are not asked for";
}

struct FilterCase {
    const char* name;
    std::string filter;  // the NodeFilter bytes; the rest of the field is NUL
    std::string pattern;  // what goes before "*'" in the statement
    std::vector<std::string> stored;  // in list order, keepMode 0
};

class NodeFilterTest : public OriginListTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(NodeFilterTest, PutsTheFilterPrefixIntoTheStatement) {
    const FilterCase& c = GetParam();
    useScenario(originScenario({"ZAVRIN:GRP1.SYSA:vRK", "ZAVRIN:GRP2.SYSB:vRK", "ZAX:SYSC:BKT", "O'NEIL:SYSD:BKT"}));
    traceAll(kTraceDetail);
    block_->setNodeFilter(c.filter);
    const CallLog log;
    EXPECT_EQ(run(0), 1);

    const std::string_view head = kCatalogStatement.substr(0, kCatalogStatement.size() - 3);  // up to "LIKE '"
    const std::string expected = std::string(head) + c.pattern + "*';";
    const auto plans = callsOf(log.calls(), Op::CreateAccessPlan);
    ASSERT_EQ(plans.size(), 1u);
    EXPECT_EQ(plans[0].text, expected);
    EXPECT_EQ(plans[0].status, 0) << "the statement runs";
    EXPECT_THAT(lines("kqvmutl", "buildOrigList"),
                ::testing::IsSupersetOf({"NODE=\\" + c.filter + "\\\n", "NodeSTS SQL= " + expected + "\n"}));
    EXPECT_EQ(block_->originNames(), c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, NodeFilterTest,
    ::testing::Values(
        FilterCase{"ThreeLetters", "ZAV", "ZAV", {"ZAVRIN:GRP2.SYSB:vRK", "ZAVRIN:GRP1.SYSA:vRK"}},
        FilterCase{"TwoLettersBlankTwoLetters", "ZA VR", "ZA", {"ZAX:SYSC:BKT", "ZAVRIN:GRP2.SYSB:vRK", "ZAVRIN:GRP1.SYSA:vRK"}},
        FilterCase{"ElevenCharacters", "ZAVRIN:GRP2", "ZAVRIN:GR", {"ZAVRIN:GRP2.SYSB:vRK", "ZAVRIN:GRP1.SYSA:vRK"}},
        FilterCase{"NineCharacters", "ZAVRIN:GR", "ZAVRIN:GR", {"ZAVRIN:GRP2.SYSB:vRK", "ZAVRIN:GRP1.SYSA:vRK"}},
        FilterCase{"BlankPaddedField", "ZAX" + std::string(30, ' '), "ZAX", {"ZAX:SYSC:BKT"}},
        FilterCase{"LeadingBlank", " ZAV", "", {"O'NEIL:SYSD:BKT", "ZAX:SYSC:BKT", "ZAVRIN:GRP2.SYSB:vRK", "ZAVRIN:GRP1.SYSA:vRK"}},
        FilterCase{"ApostropheDoubled", "O'NEIL", "O''NEIL", {"O'NEIL:SYSD:BKT"}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Name shapes --------------------------------------------------------------------

struct ShapeCase {
    const char* name;
    std::string node;
    int32_t keepMode;
    int rejection;  // 1 to 3, or 0 when the name splits
    bool kept;
    std::string varnex;
    std::string systemId;
    std::string type;
};

class NameShapeTest : public OriginListTest, public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(NameShapeTest, SplitsOrRejectsTheName) {
    const ShapeCase& c = GetParam();
    useScenario(originScenario({c.node}));
    traceAll(kTraceAll);
    EXPECT_EQ(run(c.keepMode), c.kept ? 1 : 0);

    const std::string name = c.node.substr(0, 32);  // a NODE value is cut to its field
    std::vector<std::string> verdicts = linesStartingWith("Unexpected");
    for (const std::string& line : linesStartingWith("Keeping")) verdicts.push_back(line);
    for (const std::string& line : linesStartingWith("Ignoring")) verdicts.push_back(line);
    if (c.rejection != 0) {
        EXPECT_THAT(verdicts, ElementsAre("Unexpected format of ORIGINNODE (" + std::to_string(c.rejection) +
                                          "): " + name + "\n"));
    } else {
        EXPECT_THAT(verdicts, ElementsAre((c.kept ? "Keeping Origin Node " : "Ignoring Origin Node ") + name + "\n"));
    }

    const std::vector<InodeElement*> stored = block_->originNodes();
    ASSERT_EQ(stored.size(), c.kept ? 1u : 0u);
    if (!c.kept) return;
    const InodeElement& element = *stored[0];
    EXPECT_EQ(field(element.OriginNode), nuls(name, 32));
    EXPECT_EQ(field(element.OriginVARN), blanks(c.varnex, 8));
    EXPECT_EQ(field(element.OriginRQM), blanks(c.systemId, 8));
    EXPECT_EQ(field(element.OriginType), blanks(c.type, 4));
    EXPECT_EQ(element.GetRealNode, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, NameShapeTest,
    ::testing::Values(
        ShapeCase{"AgentForm", kAgentNode, 1, 0, true, "GRP1", "SYSA", "vRK"},
        ShapeCase{"OtherForm", kOtherNode, 0, 0, true, "GRP2", "SYSB", "BKT"},
        ShapeCase{"OtherFormIgnoredByMode1", kOtherNode, 1, 0, false, "", "", ""},
        ShapeCase{"NoColon", "GRP2", 0, 1, false, "", "", ""},
        ShapeCase{"EmptyName", "", 0, 1, false, "", "", ""},
        ShapeCase{"AgentFormWithoutDot", "ZAVRIN:GRP1:vRK", 0, 2, false, "", "", ""},
        ShapeCase{"AgentFormWithADotOnlyBeforeTheColon", "ZAVRIN.X:Y", 0, 2, false, "", "", ""},
        ShapeCase{"AgentFormWithoutColonAfterDot", "ZAVRIN:GRP1.SYSA", 0, 3, false, "", "", ""},
        ShapeCase{"OtherFormWithOneColon", "GRP2:SYSB", 0, 3, false, "", "", ""},
        ShapeCase{"ZavrinxyPrefixSplitsInAgentForm", "ZAVRINXY:GRP3.SYSC:GMR", 0, 0, true, "GRP3", "SYSC", "GMR"},
        ShapeCase{"ZavrinxyPrefixIgnoredByMode1", "ZAVRINXY:GRP3.SYSC:GMR", 1, 0, false, "", "", ""},
        ShapeCase{"FiveLetterPrefixIsTheOtherForm", "ZAVRI:GRP3.SYSC:GMR", 0, 0, true, "ZAVRI", "GRP3", "GMR"},
        ShapeCase{"OverLongNameIsCutTo32", "ZAVRIN:LONGGROUPNAME.SYSTEMID:vRKX", 1, 0, true, "LONGGROU", "SYST", "vR"},
        ShapeCase{"LongPartsAreCut", "ZAVRIN:LONGGROUPNM.SYSTEMID:vRKX", 1, 0, true, "LONGGROU", "SYST", "vRKX"},
        ShapeCase{"LongPartsOfTheOtherForm", "VERYLONGNAME:SYSTEMS:BKTSERIES", 2, 0, true, "VERYLONG", "SYST", "BKTS"},
        ShapeCase{"EmptyParts", "GRP2::", 0, 0, true, "GRP2", "", ""},
        ShapeCase{"ColonFirst", ":SYSB:BKT", 0, 0, true, "", "SYSB", "BKT"},
        ShapeCase{"ApostropheInName", "ZAVRIN:O'NEIL.SYSA:vRK", 1, 0, true, "O'NEIL", "SYSA", "vRK"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OriginListTest, AnUnsplittableNameIsSkippedAlsoWithTheErrorClassOff) {
    useScenario(originScenario({"GRP2", kAgentNode, "ZAVRIN:GRP1:vRK", "GRP2:SYSB"}));
    traceAll(kTraceAll & ~kTraceError);
    EXPECT_EQ(run(0), 1);
    EXPECT_THAT(block_->originNames(), ElementsAre(kAgentNode));
    EXPECT_THAT(linesStartingWith("Unexpected"), IsEmpty());
}

// --- keepMode ------------------------------------------------------------------------

struct KeepCase {
    const char* name;
    int32_t keepMode;
    std::vector<std::string> kept;  // in fetching order
};

class KeepModeTest : public OriginListTest, public ::testing::WithParamInterface<KeepCase> {};

const std::vector<std::string> kKeepModeNodes{kAgentNode, kOtherNode, "GRP3:SYSC:GMR", "ZAVRINXY:GRP4.SYSD:BKT",
                                              "GRP5"};

TEST_P(KeepModeTest, KeepsTheNamesTheModeSelects) {
    const KeepCase& c = GetParam();
    useScenario(originScenario(kKeepModeNodes));
    traceAll(kTraceDetail);
    EXPECT_EQ(run(c.keepMode), c.kept.empty() ? 0 : 1);
    EXPECT_EQ(block_->originNames(), std::vector<std::string>(c.kept.rbegin(), c.kept.rend()));

    std::vector<std::string> expected;
    for (std::size_t i = 0; i + 1 < kKeepModeNodes.size(); ++i) {  // the last one does not split
        const bool kept = std::find(c.kept.begin(), c.kept.end(), kKeepModeNodes[i]) != c.kept.end();
        expected.push_back((kept ? "Keeping Origin Node " : "Ignoring Origin Node ") + kKeepModeNodes[i] + "\n");
    }
    std::vector<std::string> verdicts;
    for (const std::string& line : lines("kqvmutl", "buildOrigList")) {
        if (line.starts_with("Keeping") || line.starts_with("Ignoring")) verdicts.push_back(line);
    }
    EXPECT_EQ(verdicts, expected);
}

const std::vector<std::string> kAllSplit{kAgentNode, kOtherNode, "GRP3:SYSC:GMR", "ZAVRINXY:GRP4.SYSD:BKT"};

INSTANTIATE_TEST_SUITE_P(Modes, KeepModeTest,
                         ::testing::Values(KeepCase{"Mode0All", 0, kAllSplit},
                                           KeepCase{"Mode1AgentPrefix", 1, {kAgentNode}},
                                           KeepCase{"Mode2Bkt", 2, {kOtherNode, "ZAVRINXY:GRP4.SYSD:BKT"}},
                                           KeepCase{"Mode3", 3, {}},
                                           KeepCase{"Mode4Gmr", 4, {"GRP3:SYSC:GMR"}},
                                           KeepCase{"Mode5", 5, {}},
                                           KeepCase{"Mode6", 6, {}},
                                           KeepCase{"Mode7", 7, {}},
                                           KeepCase{"Mode8All", 8, kAllSplit},
                                           KeepCase{"Mode9", 9, {}},
                                           KeepCase{"ModeMinus1", -1, {}},
                                           KeepCase{"Mode16", 16, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Stored fields and order ----------------------------------------------------------

TEST_F(OriginListTest, ShortValuesAreNulFilledAndLongAffinitiesCut) {
    const std::string shortAffinities = "0000000000002000000000000000000007";  // 34 characters
    const std::string longAffinities = "00000000000020000000000000000000" "09" "ABCDEFGHIJ" "KLMNOP";  // 50
    useScenario(kqvtest::ScenarioBuilder()
                    .catalogRow(kAgentNode, "V", "Y", shortAffinities)
                    .catalogRow("ZAVRIN:GRP2.SYSB:GMR", "V", "Y", longAffinities)
                    .script());
    traceAll(kTraceDetail);
    EXPECT_EQ(run(), 1);
    EXPECT_THAT(linesStartingWith("Fetched AFFINITIES"),
                ElementsAre("Fetched AFFINITIES is: " + shortAffinities + "\n",
                            "Fetched AFFINITIES is: " + longAffinities.substr(0, 44) + "\n"));
    const std::vector<InodeElement*> stored = block_->originNodes();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(field(stored[1]->OriginNode), nuls(kAgentNode, 32));
    EXPECT_EQ(field(stored[1]->Affinities), nuls(shortAffinities, 44));
    EXPECT_EQ(field(stored[0]->Affinities), longAffinities.substr(0, 44));
    EXPECT_EQ(stored[0]->GetRealNode, 1);
}

TEST_F(OriginListTest, TheListHoldsTheKeptNamesInReverseOrderOfFetching) {
    const std::vector<std::string> fetched{"ZAVRIN:N1.S1:vRK", "ZAVRIN:N2.S2:vRK", "ZAVRIN:N3.S3:vRK"};
    useScenario(originScenario(fetched));
    EXPECT_EQ(run(), 1);
    EXPECT_THAT(block_->originNames(), ElementsAre(fetched[2], fetched[1], fetched[0]));

    // Backwards from Last meets them in fetching order.
    std::vector<std::string> backwards;
    RSLTlist* list = block_->api()->InodeList;
    for (RSLTlink* link = list->Last; link != list->End; link = link->Prev) {
        backwards.emplace_back(reinterpret_cast<InodeElement*>(link)->OriginNode);
        if (backwards.size() > 3) break;
    }
    EXPECT_EQ(backwards, fetched);
}

TEST_F(OriginListTest, AnEmptyCatalogAnswerReturns0AfterClosingAndDropping) {
    useScenario(kqvtest::ScenarioBuilder()
                    .catalogRow("ZAVRIN:OFF1.SYSA:vRK", "V", "N", "00000000000020000000000000000000050000000000")
                    .script());
    traceAll(kTraceAll);
    const CallLog log;
    EXPECT_EQ(run(), 0);
    EXPECT_THAT(log.opNames(), ElementsAre("sql1cpli", "sql1cpth", "CreateAccessPlan", "CreateRequest", "GetInputSQLDA",
                                           "OpenRequest", "GetOutputSQLDA", "Fetch", "CloseRequest", "DropRequest",
                                           "DropPlan", "DropPath"));
    EXPECT_EQ(hub::ds::liveObjects(), 0u);
    EXPECT_THAT(linesStartingWith("KQVUTL"), IsEmpty());
    EXPECT_THAT(block_->originNames(), IsEmpty());
}

// --- Failures ---------------------------------------------------------------------
// What every failing call does to a whole query is the fault matrix's; here
// only that its lines are error lines.

TEST_F(OriginListTest, AFailureIsReportedOnlyUnderTheErrorClass) {
    useScenario(originScenario({kAgentNode}));
    for (const int32_t classes : {int32_t{kTraceError}, int32_t{kTraceAll & ~kTraceError}}) {
        SCOPED_TRACE(classes);
        hub::ds::reset();
        capture().clear();
        renewBlock();
        traceAll(classes);
        hub::ds::failNthCall(Op::OpenRequest, 1, st::kAgentUnreachable);
        EXPECT_EQ(run(), 0);
        EXPECT_EQ(linesStartingWith("KQVUTL"),
                  classes == kTraceError ? std::vector<std::string>{"KQVUTL02E UNABLE TO OPEN REQUEST - STATUS=64"}
                                         : std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace disctest
