// What the data server's tests share: scenarios, the provider's calls made
// through ds::call exactly as the provider makes them, and a fixture that
// leaves the data server clean and captures the hub's log.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hub/ds/request.h"
#include "hub/ds/scenario.h"
#include "hub/ds/seams.h"
#include "hub/ds/sqlservice.h"
#include "hub/ds/status.h"
#include "hub/dsnet.h"
#include "hub/trace.h"
#include "platform/dshandle.h"
#include "provider/kqvdwsys.h"
#include "sql/dssql.h"

namespace dstest {

namespace st = hub::ds::status;

// The four tables every scenario has, empty.
std::string schemaScript();
// The schema and a small hub: catalog nodes, agents of every kind, rows.
std::string standardScript();

// A value as Fetch delivered it; nullopt for a negative length.
using Value = std::optional<std::string>;
using Row = std::vector<Value>;
Row valuesOf(const SQLDA* sqlda);
int32_t intOf(const Value& value);

// The operations, called as the provider calls them.
namespace op {
int32_t openPath(DSHandle* path, const char* server = "SRVR01");
int32_t createPlan(DSHandle path, const char* statement, DSHandle* plan);
int32_t createRequest(DSHandle path, DSHandle plan, DSHandle* request, DSHandle* output);
int32_t getInputSqlda(DSHandle request, SQLDA** sqlda);
int32_t open(DSHandle request, SQLDA* input);
int32_t close(DSHandle request);
int32_t getOutputSqlda(DSHandle output, SQLDA** sqlda);
int32_t fetch(DSHandle output, SQLDA* sqlda);
int32_t drop(DSHandle object);  // path, plan or request: slot 1 for all three
int32_t getItem(DSHandle request, int32_t item, void** out);
int32_t putItem(DSHandle request, int32_t item, void* value);
int32_t getViewStorage(DSHandle storage, int32_t size, void** out);
}  // namespace op

// One statement taken step by step; drops whatever it created when it goes.
class Query {
  public:
    explicit Query(std::string statement) : statement_(std::move(statement)) {}
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    // Path, plan, request and both SQLDAs; the first failure's status.
    int32_t prepare();
    int32_t open() { return op::open(request, input); }
    int32_t fetch() { return op::fetch(output, sqlda); }
    int32_t close() { return op::close(request); }
    Row row() const { return valuesOf(sqlda); }
    // Fetches until a non-zero status and returns it.
    int32_t fetchAll(std::vector<Row>& rows);

    DSHandle path{};
    DSHandle plan{};
    DSHandle request{};
    DSHandle output{};
    SQLDA* input = nullptr;
    SQLDA* sqlda = nullptr;

  private:
    std::string statement_;
};

struct QueryResult {
    int32_t status = 0;  // first failure; kEndOfData when all went well
    std::vector<Row> rows;
};
// From sql1cpli to the last drop.
QueryResult runQuery(const std::string& statement);

class DataServerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Texts of the hub's log lines of one component.
    std::vector<std::string> logLines(std::string_view component = "ds") const;
    // Whether one line of the component holds every fragment.
    bool logged(std::initializer_list<std::string_view> fragments, std::string_view component = "ds") const;

    void use(const std::string& script) { hub::ds::useScenario(hub::ds::Scenario::fromScript(script)); }

    hub::trace::Capture capture_;
};

}  // namespace dstest
