// The seams: injected failures, spoiled check numbers and the call log.
#include <gmock/gmock.h>

#include "ds_test_support.h"

namespace dstest {
namespace {

using hub::ds::CallObject;
using hub::ds::ObjectKind;
using hub::ds::Op;
using hub::ds::Request;
using ::testing::ElementsAre;

class SeamsTest : public DataServerTest {};

constexpr int32_t kInjected = 77;

TEST_F(SeamsTest, TheNthFetchFailsAndOnlyIt) {
    hub::ds::failNthCall(Op::Fetch, 2, kInjected);
    Query query("SELECT NODE FROM Y6SRV.TNODELST ORDER BY NODE");
    ASSERT_EQ(query.prepare(), st::kOk);
    ASSERT_EQ(query.open(), st::kOk);
    EXPECT_EQ(query.fetch(), st::kOk);
    EXPECT_EQ(query.fetch(), kInjected);
    EXPECT_EQ(query.fetch(), st::kOk);
    EXPECT_EQ(query.row(), Row{"SYS2:KQV"}) << "the failed Fetch consumed nothing";
    EXPECT_EQ(query.fetch(), st::kEndOfData);
}

// An injected failure of a creating call writes no handle and creates nothing.
struct CreationFaultCase {
    const char* name;
    Op op;
    ObjectKind kind;
};

class CreationFaultTest : public SeamsTest, public ::testing::WithParamInterface<CreationFaultCase> {};

TEST_P(CreationFaultTest, CreatesNothing) {
    const CreationFaultCase& c = GetParam();
    hub::ds::failNthCall(c.op, 1, kInjected);
    Query query("SELECT 1");
    EXPECT_EQ(query.prepare(), kInjected);
    const DSHandle written = c.op == Op::Sql1cpth ? query.path : c.op == Op::CreateAccessPlan ? query.plan : query.request;
    EXPECT_EQ(written.object, nullptr);
    EXPECT_EQ(query.output.object, nullptr);
    EXPECT_EQ(hub::ds::liveObjects(c.kind), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, CreationFaultTest,
                         ::testing::Values(CreationFaultCase{"Path", Op::Sql1cpth, ObjectKind::Path},
                                           CreationFaultCase{"Plan", Op::CreateAccessPlan, ObjectKind::AccessPlan},
                                           CreationFaultCase{"Request", Op::CreateRequest, ObjectKind::SqlRequest}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SeamsTest, AFaultCanBeNarrowedToOneItemCode) {
    hub::ds::failNthCall(Op::GetItem, 2, kInjected, ::ds::kItemIndexFilter);
    Request request("KQVDWSYS", {hub::ds::Filter{1, "ORIGINNODE", "A"}, hub::ds::Filter{1, "IDNAME", "B"}});
    void* out = nullptr;
    EXPECT_EQ(op::getItem(request.handle(), ::ds::kItemIndexFilter, &out), st::kOk);
    EXPECT_EQ(op::getItem(request.handle(), ::ds::kItemParameterList, &out), st::kOk) << "other items do not count";
    out = nullptr;
    EXPECT_EQ(op::getItem(request.handle(), ::ds::kItemIndexFilter, &out), kInjected);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(op::getItem(request.handle(), ::ds::kItemIndexFilter, &out), st::kOk)
        << "the failed call did not advance the iteration";
    EXPECT_EQ(std::string(static_cast<const IndexFilter*>(out)->columnName), "IDNAME    ");
}

TEST_F(SeamsTest, ACallFailsByItsNumberAndIsRecordedSo) {
    // sql1cpli is call 1, sql1cpth call 2, CreateAccessPlan call 3.
    hub::ds::failCallAt(3, kInjected);
    hub::ds::startRecording();
    Query query("SELECT 1");
    EXPECT_EQ(query.prepare(), kInjected);
    const auto calls = hub::ds::recordedCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].op, Op::CreateAccessPlan);
    EXPECT_EQ(calls[2].status, kInjected);
    EXPECT_EQ(calls[2].text, "SELECT 1");
    EXPECT_EQ(calls[2].target, calls[1].created);
    EXPECT_EQ(calls[2].created, 0u);
}

TEST_F(SeamsTest, ASpoiledHandleFailsItsCheckAndNeverReachesTheDataServer) {
    Query query("SELECT 1");
    ASSERT_EQ(query.prepare(), st::kOk);
    ASSERT_TRUE(hub::ds::spoil(query.request));
    hub::ds::startRecording();
    EXPECT_EQ(query.open(), st::kCheckFailed);
    EXPECT_EQ(op::drop(query.request), st::kCheckFailed);
    EXPECT_TRUE(hub::ds::recordedCalls().empty());
    EXPECT_EQ(hub::ds::serialOf(query.request), hub::ds::serialOf(query.output) - 1) << "still live";

    query.request = {};  // cannot be dropped any more
    EXPECT_EQ(op::drop(query.plan), st::kOk);
    EXPECT_EQ(op::drop(query.path), st::kOk);
    query.plan = query.path = {};
    EXPECT_EQ(hub::ds::releaseLeftovers(), 2u) << "the request and its output";
    EXPECT_FALSE(hub::ds::spoil(query.request));
}

TEST_F(SeamsTest, ThePathCanBeSpoiledRightAfterSql1cpthCreatesIt) {
    hub::ds::spoilAfterCall(2, CallObject::Created);
    DSHandle path{};
    ASSERT_EQ(op::openPath(&path), st::kOk);
    DSHandle plan{};
    EXPECT_EQ(op::createPlan(path, "SELECT 1", &plan), st::kCheckFailed);
    EXPECT_EQ(hub::ds::liveObjects(ObjectKind::Path), 1u);
}

TEST_F(SeamsTest, TheRequestCanBeSpoiledRightAfterACallOnIt) {
    // sql1cpli, sql1cpth, CreateAccessPlan, CreateRequest, GetInputSQLDA.
    hub::ds::spoilAfterCall(5, CallObject::Target);
    Query query("SELECT 1");
    ASSERT_EQ(query.prepare(), st::kOk) << "GetOutputSQLDA is on the output, which stays good";
    EXPECT_NE(query.input, nullptr);
    EXPECT_EQ(query.open(), st::kCheckFailed);
    EXPECT_EQ(query.fetch(), st::kNotOpen);
}

TEST_F(SeamsTest, AnyObjectCanBeSpoiledAfterAnyCall) {
    hub::ds::Request request("KQVDWSYS");
    const uint64_t storage = hub::ds::serialOf(request.viewStorageHandle());
    hub::ds::spoilAfterCall(1, storage);
    void* out = nullptr;
    EXPECT_EQ(op::getItem(request.handle(), ::ds::kItemParameterList, &out), st::kOk);
    EXPECT_EQ(op::getViewStorage(request.viewStorageHandle(), 8, &out), st::kCheckFailed);
}

TEST_F(SeamsTest, RecordsNameItemsTargetsAndStatuses) {
    Request request("KQVDWSYS");
    hub::ds::startRecording();
    void* out = nullptr;
    int workArea = 0;
    op::getItem(request.handle(), ::ds::kItemParameterList, &out);
    op::putItem(request.handle(), ::ds::kItemWorkArea, &workArea);
    op::getViewStorage(request.viewStorageHandle(), 8, &out);
    op::getItem(request.handle(), ::ds::kItemIndexFilter, &out);
    hub::ds::stopRecording();
    op::getItem(request.handle(), ::ds::kItemParameterList, &out);

    const auto calls = hub::ds::recordedCalls();
    ASSERT_EQ(calls.size(), 4u);
    const uint64_t requestSerial = hub::ds::serialOf(request.handle());
    EXPECT_EQ(calls[0].op, Op::GetItem);
    EXPECT_EQ(calls[0].item, ::ds::kItemParameterList);
    EXPECT_EQ(calls[0].target, requestSerial);
    EXPECT_EQ(calls[1].op, Op::PutItem);
    EXPECT_EQ(calls[1].item, ::ds::kItemWorkArea);
    EXPECT_EQ(calls[2].op, Op::GetViewStorage);
    EXPECT_EQ(calls[2].item, 0);
    EXPECT_EQ(calls[2].target, hub::ds::serialOf(request.viewStorageHandle()));
    EXPECT_EQ(calls[3].status, st::kNoMoreFilters);
    EXPECT_EQ(hub::ds::lastCallIndex(), 5u) << "calls are numbered while not recording too";
}

TEST_F(SeamsTest, ResetForgetsFaultsSpoilsRecordsAndNumbers) {
    hub::ds::failNthCall(Op::Sql1cpli, 1, kInjected);
    hub::ds::failCallAt(2, kInjected);
    hub::ds::spoilAfterCall(2, CallObject::Created);
    hub::ds::startRecording();
    sql1cpli();
    hub::ds::reset();

    EXPECT_EQ(hub::ds::lastCallIndex(), 0u);
    EXPECT_TRUE(hub::ds::recordedCalls().empty());
    use(standardScript());
    const QueryResult result = runQuery("SELECT 1");
    EXPECT_EQ(result.status, st::kEndOfData);
    EXPECT_TRUE(hub::ds::recordedCalls().empty()) << "recording is off again";
}

TEST_F(SeamsTest, SerialsFollowCreationOrder) {
    Query first("SELECT 1");
    Query second("SELECT 2");
    ASSERT_EQ(first.prepare(), st::kOk);
    ASSERT_EQ(second.prepare(), st::kOk);
    std::vector<uint64_t> serials;
    for (const DSHandle& handle : {first.path, first.plan, first.request, first.output, second.path, second.plan,
                                   second.request, second.output}) {
        serials.push_back(hub::ds::serialOf(handle));
    }
    EXPECT_TRUE(std::is_sorted(serials.begin(), serials.end()));
    EXPECT_EQ(std::adjacent_find(serials.begin(), serials.end()), serials.end());
    EXPECT_EQ(hub::ds::serialOf(DSHandle{1, 0, &serials}), 0u);
}

TEST(SeamsArgumentTest, CallsAreCountedFromOne) {
    EXPECT_THROW(hub::ds::failNthCall(Op::Fetch, 0, kInjected), std::invalid_argument);
}

}  // namespace
}  // namespace dstest
