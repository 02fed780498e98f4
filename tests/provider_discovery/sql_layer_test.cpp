// The SQL request layer run against the stand-in data server's real objects:
// call order, the order of release on a failing prepare, several failures at
// once, edge cases and messages. What one failing call of the data server
// does to a whole query is the fault matrix's.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "discovery_test_support.h"
#include "hub/ds/status.h"

namespace disctest {
namespace {

using hub::ds::CallRecord;
using hub::ds::Op;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace st = hub::ds::status;

constexpr const char* kStatement = "SELECT NODE FROM Y6SRV.TNODELST WHERE NODELIST = 'LIST1';";
constexpr const char* kOtherStatement = "SELECT NODE FROM Y6SRV.TNODELST WHERE NODELIST = 'LIST2';";
constexpr const char* kPathText = "JW/DS:{SERVER=SRVR01}";

class SqlLayerTest : public kqvtest::HubFixture {
  protected:
    void SetUp() override {
        HubFixture::SetUp();
        useScenario(kqvtest::ScenarioBuilder()
                        .realNode("AGENT1", "LIST1")
                        .realNode("AGENT2", "LIST1")
                        .realNode("AGENT3", "LIST2")
                        .script());
        request_ = freshRecord(kStatement);
    }

    // A caller's record: nothing set but the statement and the path text.
    static SQLRequestHandle freshRecord(const char* statement) {
        SQLRequestHandle record;
        std::memset(&record, 0xA5, sizeof record);
        record.sqlText = statement;
        record.pathName = kPathText;
        return record;
    }

    // Fetches until kqvsqlf fails; the first column of each row.
    static std::vector<std::string> fetchAll(SQLRequestHandle& record, int32_t* last = nullptr) {
        std::vector<std::string> rows;
        int32_t status;
        while ((status = kqvsqlf(&record)) == 0) {
            const SQLVAR* column = sqldaColumn(record.outputSqlda, 0);
            rows.emplace_back(column->dataAddress, static_cast<std::size_t>(column->dataLength));
            if (rows.size() > 100) break;
        }
        if (last != nullptr) *last = status;
        return rows;
    }

    // The whole statement, as every caller runs it.
    static std::vector<std::string> runWhole(SQLRequestHandle& record) {
        EXPECT_EQ(kqvsqlp(&record), 0);
        EXPECT_EQ(kqvsqli(&record), 0);
        std::vector<std::string> rows = fetchAll(record);
        EXPECT_EQ(kqvsqlc(&record), 0);
        EXPECT_EQ(kqvsqld(&record), 0);
        return rows;
    }

    std::vector<std::string> sqlLines(std::string_view function = {}) const { return lines("kqvmsql", function); }

    SQLRequestHandle request_;
};

// --- A whole statement ---------------------------------------------------------

TEST_F(SqlLayerTest, AWholeStatementMakesTheDataServersCallsInOrderOnTheRightObjects) {
    const CallLog log;
    ASSERT_EQ(kqvsqlp(&request_), 0);
    EXPECT_EQ(std::string(request_.eyeCatcher, 8), "KQVSQLAP");
    EXPECT_EQ(request_.pathOpen, 1);
    EXPECT_EQ(request_.requestOpen, 0);
    EXPECT_EQ(request_.planCount, 1);
    EXPECT_EQ(request_.outputHdlList, &request_.outputHdl);
    EXPECT_NE(request_.inputSqlda, nullptr);
    EXPECT_STREQ(request_.pathName, kPathText) << "the caller's path text is left alone";

    ASSERT_EQ(kqvsqli(&request_), 0);
    EXPECT_EQ(request_.requestOpen, 1);
    ASSERT_NE(request_.outputSqlda, nullptr);
    int32_t last = 0;
    EXPECT_THAT(fetchAll(request_, &last), ElementsAre("AGENT1", "AGENT2"));
    EXPECT_EQ(last, st::kEndOfData) << "the end of data is passed on unchanged";
    EXPECT_EQ(kqvsqlc(&request_), 0);
    EXPECT_EQ(request_.requestOpen, 0);
    EXPECT_EQ(kqvsqld(&request_), 0);

    const std::vector<CallRecord> calls = log.calls();
    ASSERT_THAT(ops(calls), ElementsAre("sql1cpli", "sql1cpth", "CreateAccessPlan", "CreateRequest", "GetInputSQLDA",
                                        "OpenRequest", "GetOutputSQLDA", "Fetch", "Fetch", "Fetch", "CloseRequest",
                                        "DropRequest", "DropPlan", "DropPath"));
    const uint64_t path = calls[1].created;
    const uint64_t plan = calls[2].created;
    const uint64_t request = calls[3].created;
    const uint64_t output = request + 1;
    EXPECT_EQ(calls[1].text, "SRVR01");
    EXPECT_EQ(calls[2].text, kStatement);
    const std::vector<uint64_t> targets{0,       0,      path,   path,    request, request, output,
                                        output,  output, output, request, request, plan,    path};
    for (std::size_t i = 2; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].target, targets[i]) << "call " << i << " " << hub::ds::opName(calls[i].op);
        if (i < 9) {
            EXPECT_EQ(calls[i].status, 0) << hub::ds::opName(calls[i].op);
        }
    }
    EXPECT_EQ(calls[9].status, st::kEndOfData);
    EXPECT_EQ(hub::ds::liveObjects(), 0u);
}

TEST_F(SqlLayerTest, ADroppedRecordPreparedAgainGivesWhatAFreshRecordGives) {
    EXPECT_THAT(runWhole(request_), ElementsAre("AGENT1", "AGENT2"));

    request_.sqlText = kOtherStatement;
    const CallLog reusedLog;
    const std::vector<std::string> reused = runWhole(request_);
    const std::vector<std::string> reusedCalls = reusedLog.opNames();
    EXPECT_EQ(callsOf(reusedLog.calls(), Op::CreateAccessPlan).at(0).text, kOtherStatement);

    const CallLog freshLog;
    SQLRequestHandle fresh = freshRecord(kOtherStatement);
    EXPECT_EQ(runWhole(fresh), reused);
    EXPECT_EQ(freshLog.opNames(), reusedCalls);
    EXPECT_THAT(reused, ElementsAre("AGENT3"));
    EXPECT_EQ(hub::ds::liveObjects(), 0u);
}

// --- Release on a failing prepare ---------------------------------------------

struct PrepareFailure {
    const char* name;
    Op failing;
    int32_t status;
    int32_t returned;
    std::vector<std::string> releases;  // the calls after the failing one
    const char* line;
};

class PrepareFailureTest : public SqlLayerTest, public ::testing::WithParamInterface<PrepareFailure> {};

TEST_P(PrepareFailureTest, ReleasesExactlyWhatWasCreatedInReverseOrder) {
    const PrepareFailure& c = GetParam();
    traceAll(kTraceAll);
    hub::ds::failNthCall(c.failing, 1, c.status);
    const CallLog log;
    EXPECT_EQ(kqvsqlp(&request_), c.returned);
    EXPECT_EQ(request_.pathOpen, 0);
    EXPECT_EQ(request_.requestOpen, 0);

    const std::vector<CallRecord> calls = log.calls();
    std::vector<std::string> expected{"sql1cpli", "sql1cpth", "CreateAccessPlan", "CreateRequest", "GetInputSQLDA"};
    expected.resize(static_cast<std::size_t>(
        std::find(expected.begin(), expected.end(), hub::ds::opName(c.failing)) - expected.begin() + 1));
    const std::size_t failingCall = expected.size() - 1;
    expected.insert(expected.end(), c.releases.begin(), c.releases.end());
    ASSERT_EQ(ops(calls), expected);
    for (std::size_t i = failingCall + 1; i < calls.size(); ++i) {
        const std::size_t creator = calls[i].op == Op::DropPath ? 1 : calls[i].op == Op::DropPlan ? 2 : 3;
        EXPECT_EQ(calls[i].target, calls[creator].created) << hub::ds::opName(calls[i].op);
    }
    EXPECT_EQ(hub::ds::liveObjects(), 0u);
    EXPECT_THAT(sqlLines("kqvsqlp"), ElementsAre(std::string("Creating path for SQL\n ") + kStatement + "\n", c.line))
        << "the releasing drops write nothing";

    // Nothing is left to drop.
    const CallLog dropLog;
    EXPECT_EQ(kqvsqld(&request_), kqv::kSqlLayerFailure);
    EXPECT_THAT(dropLog.calls(), IsEmpty());
    EXPECT_THAT(sqlLines("kqvsqld"), ElementsAre("Drop request incorrectly called with closed path \n"));
}

const std::vector<std::string> kDropAll{"DropRequest", "DropPlan", "DropPath"};

INSTANTIATE_TEST_SUITE_P(
    Steps, PrepareFailureTest,
    ::testing::Values(
        PrepareFailure{"Path", Op::Sql1cpth, st::kUnknownServer, st::kUnknownServer, {}, "Create Path failed with 16\n"},
        PrepareFailure{"Plan", Op::CreateAccessPlan, st::kBadStatement, st::kBadStatement, {"DropPath"},
                       "Create Access Plan failed with 28\n"},
        PrepareFailure{"Request", Op::CreateRequest, st::kUnsupported, st::kUnsupported, {"DropPlan", "DropPath"},
                       "Create Request failed with 12.\n"},
        PrepareFailure{"InputSqlda", Op::GetInputSQLDA, st::kBadArgument, 64, kDropAll, " GetInputSQLDA failed with 8\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SqlLayerTest, AFailingReleaseDropIsIgnoredAndTheRestIsStillDropped) {
    traceAll(kTraceError);
    hub::ds::failNthCall(Op::CreateRequest, 1, st::kUnsupported);
    hub::ds::failNthCall(Op::DropPlan, 1, 9);
    const CallLog log;
    EXPECT_EQ(kqvsqlp(&request_), st::kUnsupported);
    EXPECT_THAT(log.opNames(),
                ElementsAre("sql1cpli", "sql1cpth", "CreateAccessPlan", "CreateRequest", "DropPlan", "DropPath"));
    EXPECT_THAT(sqlLines(), ElementsAre("Create Request failed with 12.\n"));
    EXPECT_EQ(hub::ds::liveObjects(), 1u) << "only the plan that refused its drop";
}

// --- Statuses --------------------------------------------------------------------

enum class Stage { Fresh, Prepared, Described };

// Gets the record to `stage`; false (with a failure) if it could not.
bool reach(SQLRequestHandle& record, Stage stage) {
    if (stage == Stage::Fresh) return true;
    if (kqvsqlp(&record) != 0) return false;
    return stage == Stage::Prepared || kqvsqli(&record) == 0;
}

TEST_F(SqlLayerTest, FetchPassesEveryStatusOnUnchanged) {
    traceAll(kTraceDetail);
    ASSERT_TRUE(reach(request_, Stage::Described));
    hub::ds::failNthCall(Op::Fetch, 2, 37);
    EXPECT_EQ(kqvsqlf(&request_), 0);
    EXPECT_EQ(kqvsqlf(&request_), 37);
    EXPECT_EQ(kqvsqlf(&request_), 0);
    EXPECT_EQ(kqvsqlf(&request_), st::kEndOfData);
    EXPECT_THAT(sqlLines("kqvsqlf"), ElementsAre("Fetch return status(0)\n", "Fetch return status(37)\n",
                                                 "Fetch return status(0)\n", "Fetch return status(100)\n"));
}

// --- Close and drop edge cases -----------------------------------------------

TEST_F(SqlLayerTest, CloseCallsTheDataServerOnlyForAnOpenRequest) {
    ASSERT_EQ(kqvsqlp(&request_), 0);
    const CallLog log;
    EXPECT_EQ(kqvsqlc(&request_), 0) << "prepared, never opened";
    EXPECT_THAT(log.calls(), IsEmpty());

    ASSERT_EQ(kqvsqli(&request_), 0);
    EXPECT_EQ(kqvsqlc(&request_), 0);
    EXPECT_EQ(kqvsqlc(&request_), 0) << "a second close";
    EXPECT_THAT(log.opNames(), ElementsAre("OpenRequest", "GetOutputSQLDA", "CloseRequest"));

    const CallLog reopenLog;
    ASSERT_EQ(kqvsqlo(&request_), 0) << "a closed request opens again";
    EXPECT_EQ(request_.requestOpen, 1);
    request_.requestOpen = 2;
    EXPECT_EQ(kqvsqlc(&request_), 0) << "only exactly 1 means open";
    request_.requestOpen = 1;
    EXPECT_EQ(kqvsqlc(&request_), 0);
    EXPECT_THAT(reopenLog.opNames(), ElementsAre("OpenRequest", "CloseRequest"));
    EXPECT_EQ(kqvsqld(&request_), 0);
}

TEST_F(SqlLayerTest, AFailedCloseStillCountsTheRequestAsClosed) {
    ASSERT_TRUE(reach(request_, Stage::Described));
    hub::ds::failNthCall(Op::CloseRequest, 1, 37);
    const CallLog log;
    EXPECT_EQ(kqvsqlc(&request_), 64);
    EXPECT_EQ(kqvsqlc(&request_), 0);
    EXPECT_THAT(log.opNames(), ElementsAre("CloseRequest"));
}

struct DropCase {
    const char* name;
    int32_t request;  // status injected into each drop; 0 for none
    int32_t plan;
    int32_t path;
    int32_t returned;
    std::vector<std::string> lines;
};

class DropTest : public SqlLayerTest, public ::testing::WithParamInterface<DropCase> {};

TEST_P(DropTest, TriesAllThreeDropsAndReturnsTheFirstFailure) {
    const DropCase& c = GetParam();
    traceAll(kTraceError);
    ASSERT_TRUE(reach(request_, Stage::Described)) << "an open request is dropped without a close";
    if (c.request != 0) hub::ds::failNthCall(Op::DropRequest, 1, c.request);
    if (c.plan != 0) hub::ds::failNthCall(Op::DropPlan, 1, c.plan);
    if (c.path != 0) hub::ds::failNthCall(Op::DropPath, 1, c.path);
    const CallLog log;
    EXPECT_EQ(kqvsqld(&request_), c.returned);
    EXPECT_THAT(log.opNames(), ElementsAre("DropRequest", "DropPlan", "DropPath"));
    EXPECT_EQ(sqlLines("kqvsqld"), c.lines);
    // A refused drop leaves its object (a request with its output).
    const std::size_t left = (c.request != 0 ? 2u : 0u) + (c.plan != 0 ? 1u : 0u) + (c.path != 0 ? 1u : 0u);
    EXPECT_EQ(hub::ds::liveObjects(), left);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, DropTest,
    ::testing::Values(DropCase{"All", 11, 12, 13, 11,
                               {"Drop reqHdl failed with 11\n", "Drop planHdl failed with 12\n",
                                "Drop pathHdl failed with 13\n"}},
                      DropCase{"PlanAndPath", 0, 12, 13, 12,
                               {"Drop planHdl failed with 12\n", "Drop pathHdl failed with 13\n"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SqlLayerTest, ASecondDropWithoutANewPrepareIsRefused) {
    traceAll(kTraceError);
    ASSERT_TRUE(reach(request_, Stage::Prepared));
    ASSERT_EQ(kqvsqld(&request_), 0);
    const CallLog log;
    EXPECT_EQ(kqvsqld(&request_), 64) << "the handles name released objects";
    EXPECT_THAT(log.calls(), IsEmpty());
    EXPECT_THAT(sqlLines("kqvsqld"), ElementsAre("Drop request incorrectly called with closed path \n"));
}

// --- Messages and their classes ----------------------------------------------

struct ClassCase {
    const char* name;
    int32_t classes;
    std::vector<std::string> lines;
};

class MessageClassTest : public SqlLayerTest, public ::testing::WithParamInterface<ClassCase> {};

const std::string kCreatingPath = std::string("Creating path for SQL\n ") + kStatement + "\n";
const std::string kOpening = std::string("Opening SQL request for SQL\n ") + kStatement + "\n";

TEST_P(MessageClassTest, ASuccessfulRunWritesOnlyTheLinesOfTheClassesThatAreOn) {
    traceAll(GetParam().classes);
    ASSERT_EQ(kqvsqlp(&request_), 0);
    ASSERT_EQ(kqvsqlo(&request_), 0);
    ASSERT_EQ(kqvsqlc(&request_), 0);
    ASSERT_EQ(kqvsqli(&request_), 0);
    fetchAll(request_);
    ASSERT_EQ(kqvsqlc(&request_), 0);
    ASSERT_EQ(kqvsqld(&request_), 0);
    EXPECT_EQ(sqlLines(), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Classes, MessageClassTest,
    ::testing::Values(ClassCase{"None", 0, {}},
                      ClassCase{"Input", kTraceInput, {kCreatingPath, kOpening}},
                      ClassCase{"Detail",
                                kTraceDetail,
                                {"Create Request successful\n", "Fetch return status(0)\n", "Fetch return status(0)\n",
                                 "Fetch return status(100)\n"}},
                      ClassCase{"ErrorStateFlow", kTraceError | kTraceState | kTraceFlow, {}},
                      ClassCase{"All",
                                kTraceAll,
                                {kCreatingPath, "Create Request successful\n", kOpening, "Fetch return status(0)\n",
                                 "Fetch return status(0)\n", "Fetch return status(100)\n"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SqlLayerTest, FailureLinesNeedTheErrorClass) {
    traceAll(kTraceAll & ~kTraceError);
    hub::ds::failNthCall(Op::CreateAccessPlan, 1, 37);
    EXPECT_EQ(kqvsqlp(&request_), 37);
    EXPECT_EQ(kqvsqld(&request_), 64);
    ASSERT_EQ(kqvsqlp(&request_), 0);
    hub::ds::failNthCall(Op::OpenRequest, 1, 37);
    hub::ds::failNthCall(Op::OpenRequest, 2, 37);
    EXPECT_EQ(kqvsqlo(&request_), 37);
    EXPECT_EQ(kqvsqli(&request_), 64);
    ASSERT_EQ(kqvsqli(&request_), 0);
    hub::ds::failNthCall(Op::CloseRequest, 1, 37);
    EXPECT_EQ(kqvsqlc(&request_), 64);
    hub::ds::failNthCall(Op::DropPath, 1, 37);
    EXPECT_EQ(kqvsqld(&request_), 37);
    EXPECT_THAT(sqlLines(), ElementsAre(kCreatingPath, kCreatingPath, "Create Request successful\n", kOpening));
}

}  // namespace
}  // namespace disctest
