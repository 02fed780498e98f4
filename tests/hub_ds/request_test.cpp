// The request interface as a provider sees it through the common operations.
#include <gmock/gmock.h>

#include <cstring>

#include "ds_test_support.h"

namespace dstest {
namespace {

using hub::ds::Filter;
using hub::ds::ObjectKind;
using hub::ds::Request;

class RequestTest : public DataServerTest {};

DSParameterList* parameterList(const Request& request) {
    void* out = nullptr;
    EXPECT_EQ(op::getItem(request.handle(), ::ds::kItemParameterList, &out), st::kOk);
    return static_cast<DSParameterList*>(out);
}

std::vector<const IndexFilter*> filterPass(const Request& request) {
    std::vector<const IndexFilter*> filters;
    void* out = nullptr;
    int32_t status;
    while ((status = op::getItem(request.handle(), ::ds::kItemIndexFilter, &out)) == st::kOk) {
        filters.push_back(static_cast<const IndexFilter*>(out));
        if (filters.size() > 100) break;
    }
    EXPECT_EQ(status, st::kNoMoreFilters);
    return filters;
}

TEST_F(RequestTest, TheParameterListNamesTheTableAndTheViewStorage) {
    Request request("KQVDWSYS");
    DSParameterList* list = parameterList(request);
    ASSERT_EQ(list, &request.parameters());
    EXPECT_STREQ(list->tableName, "KQVDWSYS");
    EXPECT_EQ(list->workArea, nullptr);
    ASSERT_NE(list->viewStorage, nullptr);
    EXPECT_EQ(list->viewStorage->object, request.viewStorageHandle().object);
    EXPECT_EQ(list->viewStorage->checkNumber, request.viewStorageHandle().checkNumber);
    EXPECT_NE(request.handle().checkNumber, 0);
    EXPECT_NE(request.viewStorageHandle().checkNumber, 0);
}

TEST_F(RequestTest, PutItemThreeRegistersTheWorkArea) {
    Request request("KQVDWSYS");
    int workArea = 0;
    EXPECT_EQ(op::putItem(request.handle(), ::ds::kItemWorkArea, &workArea), st::kOk);
    EXPECT_EQ(parameterList(request)->workArea, &workArea);
    EXPECT_EQ(request.workArea(), &workArea);
}

TEST_F(RequestTest, IndexFiltersAreLaidOutAsTheProviderReadsThem) {
    const std::string value = "SYS1:KQV";
    Request request("KQVDWSYS", {Filter{::ds::kOperatorEqual, "ORIGINNODE", value},
                                 Filter{3, "IDNAME", "DW", int16_t{-1}},
                                 Filter{::ds::kOperatorEqual, "X", "", int16_t{40}}});
    const auto filters = filterPass(request);
    ASSERT_EQ(filters.size(), 3u);

    EXPECT_EQ(filters[0]->op, ::ds::kOperatorEqual);
    EXPECT_EQ(std::string(filters[0]->columnName, sizeof filters[0]->columnName), std::string("ORIGINNODE\0", 11));
    EXPECT_EQ(filters[0]->valueLength, 8);
    EXPECT_EQ(std::string(filters[0]->value, 8), value);
    EXPECT_NE(filters[0]->value, value.data()) << "the value lives in the request";

    EXPECT_EQ(filters[1]->op, 3);
    EXPECT_EQ(std::string(filters[1]->columnName, sizeof filters[1]->columnName), std::string("IDNAME    \0", 11));
    EXPECT_EQ(filters[1]->valueLength, -1) << "a test may make the length lie";
    EXPECT_EQ(std::string(filters[1]->value, 2), "DW");

    EXPECT_EQ(std::string(filters[2]->columnName, sizeof filters[2]->columnName), std::string("X         \0", 11));
    EXPECT_EQ(filters[2]->valueLength, 40);
    EXPECT_NE(filters[2]->value, nullptr);
}

TEST_F(RequestTest, TheFilterIterationStartsOverAfterReportingTheEnd) {
    Request request("KQVDWSYS", {Filter{1, "ORIGINNODE", "A"}, Filter{1, "IDNAME", "B"}});
    const auto first = filterPass(request);
    const auto second = filterPass(request);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first, second);
    EXPECT_NE(first[0], first[1]);

    void* out = &request;
    Request none("KQVDWSYS");
    EXPECT_EQ(op::getItem(none.handle(), ::ds::kItemIndexFilter, &out), st::kNoMoreFilters);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(op::getItem(none.handle(), ::ds::kItemIndexFilter, &out), st::kNoMoreFilters);
}

TEST_F(RequestTest, FilterColumnsLongerThanTenCharactersAreRefused) {
    EXPECT_THROW(Request("KQVDWSYS", {Filter{1, "ORIGINNODES", "A"}}), std::invalid_argument);
    EXPECT_EQ(hub::ds::liveObjects(), 0u);
}

TEST_F(RequestTest, PutItemTwoKeepsACopyOfEveryRowAndWhereItWas) {
    Request request("KQVDWSYS");
    DWSysRecord row{};
    std::memcpy(row.ORIGINNODE, "SYS1:KQV", 8);
    row.STATUS = 3;
    ASSERT_EQ(op::putItem(request.handle(), ::ds::kItemRow, &row), st::kOk);
    row.STATUS = 4;
    ASSERT_EQ(op::putItem(request.handle(), ::ds::kItemRow, &row), st::kOk);

    ASSERT_EQ(request.rows().size(), 2u);
    EXPECT_EQ(request.rows()[0].as<DWSysRecord>().STATUS, 3);
    EXPECT_EQ(request.rows()[1].as<DWSysRecord>().STATUS, 4);
    EXPECT_EQ(request.rows()[0].address, &row);
    EXPECT_EQ(std::memcmp(request.rows()[1].as<DWSysRecord>().ORIGINNODE, "SYS1:KQV", 8), 0);

    const auto taken = request.takeRows();
    EXPECT_EQ(taken.size(), 2u);
    EXPECT_TRUE(request.rows().empty());
    ASSERT_EQ(op::putItem(request.handle(), ::ds::kItemRow, &row), st::kOk);
    request.clearRows();
    EXPECT_TRUE(request.rows().empty());

    // Enough rows to fill several of the blocks that keep them.
    constexpr int kMany = 2000;
    for (row.STATUS = 0; row.STATUS < kMany; ++row.STATUS) {
        ASSERT_EQ(op::putItem(request.handle(), ::ds::kItemRow, &row), st::kOk);
    }
    ASSERT_EQ(request.rows().size(), static_cast<std::size_t>(kMany));
    int expected = 0;
    for (const auto& kept : request.rows()) EXPECT_EQ(kept.as<DWSysRecord>().STATUS, expected++);
}

TEST_F(RequestTest, ViewStorageIsFreshGarbageOwnedByTheRequest) {
    Request request("KQVDWSYS");
    void* first = nullptr;
    void* second = nullptr;
    ASSERT_EQ(op::getViewStorage(request.viewStorageHandle(), 248, &first), st::kOk);
    ASSERT_EQ(op::getViewStorage(request.viewStorageHandle(), 16, &second), st::kOk);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(first, second);
    const auto* bytes = static_cast<const unsigned char*>(first);
    EXPECT_TRUE(std::all_of(bytes, bytes + 248, [](unsigned char b) { return b == hub::ds::kViewStorageFill; }));

    const auto blocks = request.viewStorage();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].address, first);
    EXPECT_EQ(blocks[0].size, 248u);
    EXPECT_EQ(blocks[1].size, 16u);
}

TEST_F(RequestTest, TheRequestOwnsItsObjectsAndAMoveKeepsThem) {
    {
        Request request("KQVDWSYS");
        EXPECT_EQ(hub::ds::liveObjects(ObjectKind::Request), 1u);
        EXPECT_EQ(hub::ds::liveObjects(ObjectKind::ViewStorage), 1u);
        const DSHandle handle = request.handle();

        Request moved(std::move(request));
        EXPECT_EQ(moved.handle().object, handle.object);
        EXPECT_EQ(parameterList(moved), &moved.parameters());
        EXPECT_EQ(hub::ds::liveObjects(), 2u);

        moved = Request("OTHER");
        EXPECT_EQ(hub::ds::liveObjects(), 2u) << "the replaced request's objects are freed";
        EXPECT_STREQ(parameterList(moved)->tableName, "OTHER");
    }
    EXPECT_EQ(hub::ds::liveObjects(), 0u);
}

}  // namespace
}  // namespace dstest
