// The SQL service as the provider drives it: the order of the calls for one
// statement, the life of the objects, and the servers and statements it
// refuses. Arguments that the provider never sends are not tried.
#include <gmock/gmock.h>

#include "ds_test_support.h"

namespace dstest {
namespace {

using hub::ds::ObjectKind;
using hub::ds::Op;
using ::testing::ElementsAre;

class SqlServiceTest : public DataServerTest {};

std::vector<Op> opsOf(const std::vector<hub::ds::CallRecord>& calls) {
    std::vector<Op> ops;
    for (const auto& call : calls) ops.push_back(call.op);
    return ops;
}

TEST_F(SqlServiceTest, OneStatementFromPathToDropsInTheProvidersOrder) {
    hub::ds::startRecording();
    const QueryResult result = runQuery("SELECT NODE FROM Y6SRV.TNODELST ORDER BY NODE");
    const auto calls = hub::ds::recordedCalls();

    EXPECT_EQ(result.status, st::kEndOfData);
    EXPECT_THAT(result.rows, ElementsAre(Row{"SYS1:KQV"}, Row{"SYS2:KQV"}));
    ASSERT_THAT(opsOf(calls),
                ElementsAre(Op::Sql1cpli, Op::Sql1cpth, Op::CreateAccessPlan, Op::CreateRequest, Op::GetInputSQLDA,
                            Op::GetOutputSQLDA, Op::OpenRequest, Op::Fetch, Op::Fetch, Op::Fetch, Op::CloseRequest,
                            Op::DropRequest, Op::DropPlan, Op::DropPath));
    for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].index, i + 1);

    EXPECT_EQ(calls[0].status, hub::ds::kSqlContext);
    EXPECT_EQ(calls[1].text, "SRVR01");
    EXPECT_EQ(calls[1].target, 0u);
    const uint64_t path = calls[1].created;
    EXPECT_EQ(calls[2].target, path);
    EXPECT_EQ(calls[2].text, "SELECT NODE FROM Y6SRV.TNODELST ORDER BY NODE");
    const uint64_t plan = calls[2].created;
    EXPECT_EQ(calls[3].target, path);
    const uint64_t request = calls[3].created;
    EXPECT_GT(plan, path);
    EXPECT_GT(request, plan);
    EXPECT_EQ(calls[4].target, request);
    EXPECT_EQ(calls[5].target, request + 1) << "the output is created right after its request";
    EXPECT_EQ(calls[7].status, st::kOk);
    EXPECT_EQ(calls[9].status, st::kEndOfData);
    EXPECT_EQ(calls[12].target, plan);
    EXPECT_EQ(calls[13].target, path);
    EXPECT_EQ(hub::ds::liveObjects(), 0u);
}

TEST_F(SqlServiceTest, EachObjectIsLiveUntilDroppedAndDroppingARequestFreesItsOutput) {
    Query query("SELECT NODE FROM Y6SRV.INODESTS");
    ASSERT_EQ(query.prepare(), st::kOk);
    using hub::ds::LiveObject;
    EXPECT_THAT(hub::ds::listLiveObjects(),
                ElementsAre(LiveObject{hub::ds::serialOf(query.path), ObjectKind::Path},
                            LiveObject{hub::ds::serialOf(query.plan), ObjectKind::AccessPlan},
                            LiveObject{hub::ds::serialOf(query.request), ObjectKind::SqlRequest},
                            LiveObject{hub::ds::serialOf(query.output), ObjectKind::Output}));
    EXPECT_EQ(::testing::PrintToString(hub::ds::listLiveObjects()[0]),
              "path #" + std::to_string(hub::ds::serialOf(query.path)));
    ASSERT_EQ(op::drop(query.plan), st::kOk) << "a request outlives its plan";
    query.plan = {};
    ASSERT_EQ(query.open(), st::kOk);
    ASSERT_EQ(query.fetch(), st::kOk);

    ASSERT_EQ(op::drop(query.request), st::kOk);
    query.request = {};
    EXPECT_EQ(hub::ds::liveObjects(ObjectKind::SqlRequest), 0u);
    EXPECT_EQ(hub::ds::liveObjects(ObjectKind::Output), 0u);
    EXPECT_EQ(hub::ds::liveObjects(ObjectKind::Path), 1u);
}

TEST_F(SqlServiceTest, EndOfDataRepeatsUntilTheRequestIsOpenedAgain) {
    Query query("SELECT NODE FROM Y6SRV.TNODELST ORDER BY NODE");
    ASSERT_EQ(query.prepare(), st::kOk);
    ASSERT_EQ(query.open(), st::kOk);
    std::vector<Row> first;
    EXPECT_EQ(query.fetchAll(first), st::kEndOfData);
    EXPECT_EQ(query.fetch(), st::kEndOfData);
    EXPECT_EQ(query.fetch(), st::kEndOfData);

    ASSERT_EQ(query.close(), st::kOk);
    ASSERT_EQ(query.open(), st::kOk);
    std::vector<Row> second;
    EXPECT_EQ(query.fetchAll(second), st::kEndOfData);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first.size(), 2u);
}

TEST_F(SqlServiceTest, OpeningAnOpenRequestStartsItOver) {
    Query query("SELECT NODE FROM Y6SRV.TNODELST ORDER BY NODE");
    ASSERT_EQ(query.prepare(), st::kOk);
    ASSERT_EQ(query.open(), st::kOk);
    ASSERT_EQ(query.fetch(), st::kOk);
    ASSERT_EQ(query.open(), st::kOk);
    ASSERT_EQ(query.fetch(), st::kOk);
    EXPECT_EQ(query.row(), Row{"SYS1:KQV"});
}

TEST_F(SqlServiceTest, FetchOnAClosedRequestFails) {
    Query query("SELECT NODE FROM Y6SRV.INODESTS");
    ASSERT_EQ(query.prepare(), st::kOk);
    EXPECT_EQ(query.fetch(), st::kNotOpen);
    EXPECT_TRUE(logged({"Fetch on output #", "before its request was opened"}));

    ASSERT_EQ(query.open(), st::kOk);
    ASSERT_EQ(query.fetch(), st::kOk);
    ASSERT_EQ(query.close(), st::kOk);
    EXPECT_EQ(query.fetch(), st::kNotOpen);
}

TEST_F(SqlServiceTest, APathToAnotherServerIsRefused) {
    DSHandle path{7, 7, nullptr};
    EXPECT_EQ(sql1cpth("SRVR02", hub::ds::kSqlContext, &path), st::kUnknownServer);
    EXPECT_EQ(path.object, nullptr) << "no handle written";
    EXPECT_EQ(hub::ds::liveObjects(), 0u);
    EXPECT_TRUE(logged({"sql1cpth", "unknown SQL server 'SRVR02'"}, "dsnet") ||
                logged({"sql1cpth", "unknown SQL server 'SRVR02'"}, "ds"));
}

TEST_F(SqlServiceTest, WithoutAScenarioNoPathIsCreated) {
    hub::ds::useScenario(nullptr);
    DSHandle path{};
    EXPECT_EQ(op::openPath(&path), st::kNoScenario);
    EXPECT_TRUE(logged({"no scenario"}));
}

struct StatementCase {
    const char* name;
    const char* statement;
    const char* logFragment;
};

class BadStatementTest : public SqlServiceTest, public ::testing::WithParamInterface<StatementCase> {};

TEST_P(BadStatementTest, FailsAtCreateAccessPlanNamingTheStatement) {
    const StatementCase& c = GetParam();
    DSHandle path{};
    ASSERT_EQ(op::openPath(&path), st::kOk);
    DSHandle plan{9, 9, nullptr};
    EXPECT_EQ(op::createPlan(path, c.statement, &plan), st::kBadStatement);
    EXPECT_EQ(plan.object, nullptr);
    EXPECT_EQ(hub::ds::liveObjects(ObjectKind::AccessPlan), 0u);
    EXPECT_TRUE(logged({"CreateAccessPlan on path #", c.logFragment}));
    EXPECT_TRUE(logged({c.statement}));
    EXPECT_EQ(op::drop(path), st::kOk);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadStatementTest,
    ::testing::Values(StatementCase{"Syntax", "SELEC NODE FROM Y6SRV.INODESTS", "syntax error"},
                      StatementCase{"NoSuchTable", "SELECT * FROM Y6SRV.NOTHERE", "no such table"},
                      StatementCase{"NoSuchColumn", "SELECT NOPE FROM Y6SRV.INODESTS", "no such column"},
                      StatementCase{"AgentsTableWithoutAt",
                                    "SELECT ORIGINNODE, VARNNAME, STATUS FROM KQV.QVALCSYS "
                                    "WHERE ORIGINNODE='ZAVRIN:PLX1.SYSA:vRK';",
                                    "route the statement with AT('node')"},
                      StatementCase{"AgentsTableUnqualified", "SELECT STATUS FROM QVALCSYS",
                                    "route the statement with AT('node')"},
                      StatementCase{"RoutedStatementReadsTheCatalog",
                                    "SELECT DW_NAME FROM KQV.QVALCSYS AT('SYS1:KQV') "
                                    "WHERE ORIGINNODE IN (SELECT NODE FROM Y6SRV.INODESTS)",
                                    "reads only the agent's tables"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SqlServiceTest, APathKeepsTheScenarioItWasCreatedOn) {
    DSHandle path{};
    ASSERT_EQ(op::openPath(&path), st::kOk);
    use(schemaScript() + "INSERT INTO Y6SRV.TNODELST VALUES ('ONLY', 'V', 'x');");

    DSHandle plan{};
    DSHandle request{};
    DSHandle output{};
    SQLDA* sqlda = nullptr;
    ASSERT_EQ(op::createPlan(path, "SELECT COUNT(*) FROM Y6SRV.TNODELST", &plan), st::kOk);
    ASSERT_EQ(op::createRequest(path, plan, &request, &output), st::kOk);
    ASSERT_EQ(op::getOutputSqlda(output, &sqlda), st::kOk);
    ASSERT_EQ(op::open(request, nullptr), st::kOk);
    ASSERT_EQ(op::fetch(output, sqlda), st::kOk);
    EXPECT_EQ(intOf(valuesOf(sqlda)[0]), 2);
    op::drop(request);
    op::drop(plan);
    op::drop(path);

    const QueryResult fresh = runQuery("SELECT COUNT(*) FROM Y6SRV.TNODELST");
    ASSERT_EQ(fresh.rows.size(), 1u);
    EXPECT_EQ(intOf(fresh.rows[0][0]), 1);
}

TEST_F(SqlServiceTest, ResetReleasesWhatTheProviderDidNotDrop) {
    DSHandle path{};
    DSHandle plan{};
    ASSERT_EQ(op::openPath(&path), st::kOk);
    ASSERT_EQ(op::createPlan(path, "SELECT 1", &plan), st::kOk);
    hub::ds::Request request("KQVDWSYS");
    EXPECT_EQ(hub::ds::liveObjects(), 4u);

    hub::ds::reset();
    EXPECT_EQ(hub::ds::liveObjects(), 2u) << "the Request's own objects stay";
    EXPECT_EQ(hub::ds::liveObjects(ObjectKind::Request), 1u);
    EXPECT_EQ(hub::ds::releaseLeftovers(), 0u);
}

}  // namespace
}  // namespace dstest
