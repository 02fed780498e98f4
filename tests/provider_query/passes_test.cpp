// Request processing: passes, rows handed back by address, the ends of a
// pass, table creation failures and the calls that find no request state.
#include <gmock/gmock.h>

#include "heap_seam.h"
#include "query_support.h"

namespace querytest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using kqvtest::ScenarioBuilder;

constexpr std::string_view kOrigin = "ZAVRIN:PLX1.SYSA:vRK";
constexpr std::string_view kAgent = "QV:SYSA:PLX1";

// One origin node with one agent that reports the given DWs, in this order.
std::string oneAgentHub(const std::vector<std::string>& dwNames) {
    ScenarioBuilder hub;
    hub.originNode(kOrigin).realNode(kAgent, kOrigin).agent(kAgent);
    for (const auto& dw : dwNames) {
        kqvtest::StatusRow row;
        row.agent = kAgent;
        row.originNode = kOrigin;
        row.dwName = dw;
        row.varnex = "PLX1";
        hub.row(row);
    }
    return hub.script();
}

std::vector<std::string> dwNames(const std::vector<DWSysRecord>& rows) {
    std::vector<std::string> names;
    for (const auto& row : rows) names.push_back(field(row.DW_NAME));
    return names;
}

std::vector<const void*> resultAddresses(const DWSYWORK& work) {
    std::vector<const void*> addresses;
    for (RSLTlink* link = work.resultList->First; link != work.resultList->End; link = link->Next) {
        addresses.push_back(&reinterpret_cast<DWSysResultElement*>(link)->row);
    }
    return addresses;
}

class PassTest : public QueryTest {};

TEST_F(PassTest, RowsComeBackNewestFirstByAddressThen62) {
    useScenario(oneAgentHub({"DW1", "DW2", "DW3"}));
    DrivenRequest query;
    ASSERT_EQ(query.start(), 0);

    std::vector<int32_t> statuses;
    std::vector<int32_t> rowsReturned;
    for (int call = 0; call < 4; ++call) {
        statuses.push_back(query.process());
        rowsReturned.push_back(query.work().rowsReturned);
    }

    EXPECT_THAT(statuses, ElementsAre(0, 0, 0, kNoMoreRows));
    EXPECT_THAT(rowsReturned, ElementsAre(1, 2, 3, 0));
    EXPECT_THAT(dwNames(query.rows()), ElementsAre(padded("DW3", 8), padded("DW2", 8), padded("DW1", 8)));
    std::vector<const void*> received;
    for (const auto& row : query.request().rows()) received.push_back(row.address);
    EXPECT_THAT(received, ElementsAreArray(resultAddresses(query.work())))
        << "each row is handed back where it lies in the results table";
    EXPECT_EQ(query.work().rowCursor, nullptr);
    EXPECT_EQ(nodeStatements().size(), 1u) << "only the first call of the pass gathers";
}

TEST_F(PassTest, TheCallAfter62GathersANewPass) {
    useScenario(oneAgentHub({"DW1", "DW2", "DW3"}));
    DrivenRequest query;
    ASSERT_EQ(query.start(), 0);
    ASSERT_THAT(query.drain(), ElementsAre(0, 0, 0, kNoMoreRows));
    query.request().clearRows();

    EXPECT_EQ(query.process(), 0);
    EXPECT_EQ(query.work().rowsReturned, 1);
    EXPECT_EQ(nodeStatements().size(), 2u);
    EXPECT_THAT(dwNames(query.rows()), ElementsAre(padded("DW3", 8)));
    EXPECT_THAT(query.drain(), ElementsAre(0, 0, kNoMoreRows));
}

TEST_F(PassTest, RowsOfSeveralResultBlocksAllComeBack) {
    std::vector<std::string> names;
    for (int i = 1; i <= 25; ++i) names.push_back("DW" + std::to_string(i));
    useScenario(oneAgentHub(names));
    DrivenRequest query;
    ASSERT_EQ(query.start(), 0);

    const auto statuses = query.drain();
    EXPECT_EQ(statuses.size(), 26u);
    EXPECT_EQ(statuses.back(), kNoMoreRows);
    std::vector<std::string> expected;
    for (auto it = names.rbegin(); it != names.rend(); ++it) expected.push_back(padded(*it, 8));
    EXPECT_THAT(dwNames(query.rows()), ElementsAreArray(expected));
}

TEST_F(PassTest, AnEmptyResultGives62OnTheFirstCall) {
    useScenario(oneAgentHub({}));
    DrivenRequest query;
    ASSERT_EQ(query.start(), 0);

    EXPECT_THAT(query.drain(), ElementsAre(kNoMoreRows));
    EXPECT_TRUE(query.rows().empty());
    EXPECT_NE(query.work().resultTable, nullptr);
    EXPECT_EQ(query.work().rowsReturned, 0);
    EXPECT_EQ(nodeStatements().size(), 1u);
}

// Discovery ending the pass before any results table exists.
struct DiscoveryEndCase {
    const char* name;
    bool withOriginNode;
    bool failNodeListOpen;  // the second OpenRequest is the node list query's
    const char* line;
};

class DiscoveryEndTest : public PassTest, public ::testing::WithParamInterface<DiscoveryEndCase> {};

TEST_P(DiscoveryEndTest, Gives62WithoutAResultsTable) {
    const DiscoveryEndCase& c = GetParam();
    useScenario(c.withOriginNode ? oneAgentHub({"DW1"}) : ScenarioBuilder().script());

    std::unique_ptr<DrivenRequest> query;
    std::vector<int32_t> statuses;
    const auto gated = linesGatedBy(kTraceDetail, "kqvdwsys", "qvdwsypr", [&] {
        query = std::make_unique<DrivenRequest>();
        ASSERT_EQ(query->start(), 0);
        if (c.failNodeListOpen) hub::ds::failNthCall(hub::ds::Op::OpenRequest, 2, 48);
        statuses = query->drain();
    });

    ASSERT_NE(query, nullptr);
    EXPECT_THAT(statuses, ElementsAre(kNoMoreRows));
    EXPECT_THAT(gated.classOn, ElementsAre(c.line));
    EXPECT_THAT(gated.classOff, ElementsAre());
    const DWSYWORK& work = query->work();
    EXPECT_EQ(work.resultTable, nullptr);
    EXPECT_NE(work.originNodeTable, nullptr);
    EXPECT_NE(work.realNodeTable, nullptr);
    EXPECT_EQ(work.rowsReturned, 0);
    EXPECT_TRUE(nodeStatements().empty());

    if (c.withOriginNode) {
        EXPECT_THAT(query->drain(), ElementsAre(0, kNoMoreRows)) << "the next call starts the pass again";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiscoveryEndTest,
    ::testing::Values(
        DiscoveryEndCase{"NoOriginNode", false, false, "buildOrigList returned no data\n"},
        DiscoveryEndCase{"NodeListQueryFails", true, true, "buildNodeList returned no data\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// A table that cannot be created ends the call with RSLTinit's status, no
// row, and a pass that starts again on the next call.
struct TableFailureCase {
    const char* name;
    uint64_t allocation;    // with one origin node and one agent: 1 origin anchor,
                            // 2 real node anchor, 3 and 4 their first blocks,
                            // 5 the results anchor
    const char* line;
    int32_t traceClass;     // 0: written whatever the flags
    bool originTableKept;
    bool realTableKept;
};

class TableFailureTest : public PassTest, public ::testing::WithParamInterface<TableFailureCase> {};

TEST_P(TableFailureTest, EndsTheCallWithoutARowAndStartsAgainNextCall) {
    const TableFailureCase& c = GetParam();
    useScenario(oneAgentHub({"DW1"}));
    kqvtest::HeapSeam heap;

    int32_t status = -1;
    int32_t rowsReturned = -1;
    bool rowsHandedBack = true;
    bool originTable = false;
    bool realTable = false;
    bool resultTable = true;
    std::vector<int32_t> nextPass;
    const auto gated = linesGatedBy(c.traceClass, "kqvdwsys", "qvdwsypr", [&] {
        DrivenRequest query;
        ASSERT_EQ(query.start(), 0);
        heap.failAllocation(c.allocation);
        status = query.process();
        rowsReturned = query.work().rowsReturned;
        rowsHandedBack = !query.request().rows().empty();
        originTable = query.work().originNodeTable != nullptr;
        realTable = query.work().realNodeTable != nullptr;
        resultTable = query.work().resultTable != nullptr;
        nextPass = query.drain();
        EXPECT_EQ(query.terminate(), 0);
    });

    EXPECT_EQ(status, 3);
    EXPECT_EQ(rowsReturned, 0);
    EXPECT_FALSE(rowsHandedBack);
    EXPECT_EQ(originTable, c.originTableKept);
    EXPECT_EQ(realTable, c.realTableKept);
    EXPECT_FALSE(resultTable);
    EXPECT_THAT(nextPass, ElementsAre(0, kNoMoreRows));
    EXPECT_THAT(gated.classOn, ::testing::Contains(c.line));
    if (c.traceClass == 0) {
        EXPECT_THAT(gated.classOff, ::testing::Contains(c.line));
    } else {
        EXPECT_THAT(gated.classOff, ::testing::Not(::testing::Contains(c.line)));
    }
    EXPECT_EQ(heap.outstanding(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, TableFailureTest,
    ::testing::Values(
        TableFailureCase{"OriginNodeTable", 1, "Unable to allocate Storage for LIKE Node result\n", 0,
                         false, false},
        TableFailureCase{"RealNodeTable", 2, "Unable to allocate Storage for AtNode result\n", 0,
                         true, false},
        TableFailureCase{"ResultsTable", 5, "Unable to allocate Storage for Group result\n",
                         kTraceError, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Calls that find no parameter list or no work area change nothing.
struct MissingStateCase {
    const char* name;
    bool start;
    bool failParameterList;
    int32_t status;
    const char* line;
};

class MissingStateTest : public PassTest, public ::testing::WithParamInterface<MissingStateCase> {};

TEST_P(MissingStateTest, ReturnsItsStatusWithAnErrorLine) {
    const MissingStateCase& c = GetParam();
    useScenario(oneAgentHub({"DW1"}));

    int32_t status = -1;
    const auto gated = linesGatedBy(kTraceError, "kqvdwsys", "qvdwsypr", [&] {
        DrivenRequest query;
        if (c.start) {
            ASSERT_EQ(query.start(), 0);
        }
        if (c.failParameterList) {
            hub::ds::failNthCall(hub::ds::Op::GetItem, 1, 48, ::ds::kItemParameterList);
        }
        status = query.process();
        EXPECT_TRUE(query.request().rows().empty());
        if (c.start) {
            EXPECT_EQ(query.work().rowsReturned, 0);
            EXPECT_EQ(query.work().originNodeTable, nullptr) << "no pass was started";
        }
    });

    EXPECT_EQ(status, c.status);
    EXPECT_THAT(gated.classOn, ElementsAre(c.line));
    EXPECT_THAT(gated.classOff, ElementsAre());
    EXPECT_TRUE(nodeStatements().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MissingStateTest,
    ::testing::Values(
        MissingStateCase{"NoParameterList", true, true, 60, "Data server parameter list not found.\n"},
        MissingStateCase{"NoWorkArea", false, false, 71, "Unable to locate pWorkA work area.\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace querytest
