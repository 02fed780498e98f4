#include "ds_test_support.h"

#include <cstring>

#include "hub/ds/scenario.h"

namespace dstest {

std::string schemaScript() { return std::string(hub::ds::scenarioSchema()); }

std::string standardScript() {
    return schemaScript() + R"sql(
INSERT INTO Y6SRV.INODESTS VALUES
  ('HUB_MAIN', 'M', 'Y', 'hub'),
  ('RTEMS_EAST', 'V', 'Y', 'rtems'),
  ('RTEMS_WEST', 'V', 'N', 'rtems'),
  ('rtems_lower', 'V', 'Y', 'rtems'),
  ('A%B', 'V', 'Y', 'odd'),
  ('AxB', 'V', 'Y', 'odd'),
  ('A_C', 'V', 'Y', 'odd'),
  ('AyC', 'V', 'Y', 'odd');
INSERT INTO Y6SRV.TNODELST VALUES ('SYS1:KQV', 'V', '*KQV'), ('SYS2:KQV', 'V', '*KQV');
INSERT INTO HUB.AGENTS (NODE, REACHABLE, COLUMNS, FAIL_FETCH) VALUES
  ('SYS1:KQV', 1, NULL, NULL),
  ('SYS2:KQV', 1, NULL, NULL),
  ('O''BRIEN:KQV', 1, NULL, NULL),
  ('DOWN:KQV', 0, NULL, NULL),
  ('NARROW:KQV', 1, 3, NULL),
  ('WIDE:KQV', 1, 17, NULL),
  ('FLAKY:KQV', 1, NULL, 2);
INSERT INTO KQV.QVALCSYS VALUES
  ('SYS1:KQV', 'SYS1:KQV', '1250101120000000', 'VARN1', 'RQM1', 'SYS1', 'DWA', 10, 100, 50, 7, 3, 9, 0, 4),
  ('SYS1:KQV', 'SYS1:KQV', '1250101120000000', 'VARN1', 'RQM1', 'SYS1', 'DWB', 11, 101, 51, 7, 3, 9, 1, 4),
  ('SYS2:KQV', 'SYS2:KQV', '1250101120000000', 'VARN2', 'RQM2', 'SYS2', 'DWC', 20, 200, 60, 8, 4, 10, 0, 5),
  ('O''BRIEN:KQV', 'O''BRIEN:KQV', '1250101120000000', 'VARN3', 'RQM3', 'SYS3', 'DWD', 30, 300, 70, 9, 5, 11, 0, 6),
  ('DOWN:KQV', 'DOWN:KQV', '1250101120000000', 'VARN4', 'RQM4', 'SYS4', 'DWE', 40, 400, 80, 1, 1, 1, 0, 7),
  ('NARROW:KQV', 'NARROW:KQV', '1250101120000000', 'VARN5', 'RQM5', 'SYS5', 'DWF', 50, 500, 90, 1, 1, 1, 0, 8),
  ('WIDE:KQV', 'WIDE:KQV', '1250101120000000', 'VARN6', 'RQM6', 'SYS6', 'DWG', 60, 600, 95, 1, 1, 1, 0, 9),
  ('FLAKY:KQV', 'FLAKY:KQV', '1250101120000000', 'VARN7', 'RQM7', 'SYS7', 'DW1', 71, 700, 99, 1, 1, 1, 0, 1),
  ('FLAKY:KQV', 'FLAKY:KQV', '1250101120000000', 'VARN7', 'RQM7', 'SYS7', 'DW2', 72, 700, 99, 1, 1, 1, 0, 1),
  ('FLAKY:KQV', 'FLAKY:KQV', '1250101120000000', 'VARN7', 'RQM7', 'SYS7', 'DW3', 73, 700, 99, 1, 1, 1, 0, 1);
)sql";
}

Row valuesOf(const SQLDA* sqlda) {
    Row row;
    for (int i = 0; i < sqlda->columnCount; ++i) {
        const SQLVAR* var = sqldaColumn(sqlda, i);
        if (var->dataLength < 0) {
            row.emplace_back(std::nullopt);
        } else {
            row.emplace_back(std::string(var->dataAddress, static_cast<std::size_t>(var->dataLength)));
        }
    }
    return row;
}

int32_t intOf(const Value& value) {
    EXPECT_TRUE(value.has_value());
    EXPECT_EQ(value.value_or("").size(), sizeof(int32_t));
    int32_t result = 0;
    if (value && value->size() == sizeof result) std::memcpy(&result, value->data(), sizeof result);
    return result;
}

namespace op {

using ::ds::Table;

int32_t openPath(DSHandle* path, const char* server) { return sql1cpth(server, sql1cpli(), path); }

int32_t createPlan(DSHandle path, const char* statement, DSHandle* plan) {
    return ::ds::call<::ds::CreateAccessPlanFn>(path, Table::Sql, ::ds::kSlotPathCreateAccessPlan, statement, plan);
}

int32_t createRequest(DSHandle path, DSHandle plan, DSHandle* request, DSHandle* output) {
    DSHandle* outputs = output;
    return ::ds::call<::ds::CreateRequestFn>(path, Table::Sql, ::ds::kSlotPathCreateRequest, request, nullptr,
                                             nullptr, nullptr, nullptr, 1, &plan, &outputs, nullptr);
}

int32_t getInputSqlda(DSHandle request, SQLDA** sqlda) {
    return ::ds::call<::ds::GetSQLDAFn>(request, Table::Sql, ::ds::kSlotGetInputSQLDA, sqlda);
}

int32_t open(DSHandle request, SQLDA* input) {
    return ::ds::call<::ds::OpenRequestFn>(request, Table::Sql, ::ds::kSlotOpenRequest, input);
}

int32_t close(DSHandle request) {
    return ::ds::call<::ds::CloseRequestFn>(request, Table::Sql, ::ds::kSlotCloseRequest);
}

int32_t getOutputSqlda(DSHandle output, SQLDA** sqlda) {
    return ::ds::call<::ds::GetSQLDAFn>(output, Table::Sql, ::ds::kSlotGetOutputSQLDA, sqlda);
}

int32_t fetch(DSHandle output, SQLDA* sqlda) {
    return ::ds::call<::ds::FetchFn>(output, Table::Sql, ::ds::kSlotFetch, sqlda);
}

int32_t drop(DSHandle object) { return ::ds::call<::ds::DropFn>(object, Table::Sql, 1); }

int32_t getItem(DSHandle request, int32_t item, void** out) {
    return ::ds::call<::ds::GetItemFn>(request, Table::Common, ::ds::kSlotGetItem, item, out);
}

int32_t putItem(DSHandle request, int32_t item, void* value) {
    return ::ds::call<::ds::PutItemFn>(request, Table::Common, ::ds::kSlotPutItem, item, value);
}

int32_t getViewStorage(DSHandle storage, int32_t size, void** out) {
    return ::ds::call<::ds::GetViewStorageFn>(storage, Table::Common, ::ds::kSlotGetViewStorage, size, out);
}

}  // namespace op

Query::~Query() {
    if (request.object) op::drop(request);
    if (plan.object) op::drop(plan);
    if (path.object) op::drop(path);
}

int32_t Query::prepare() {
    if (const int32_t status = op::openPath(&path)) return status;
    if (const int32_t status = op::createPlan(path, statement_.c_str(), &plan)) return status;
    if (const int32_t status = op::createRequest(path, plan, &request, &output)) return status;
    if (const int32_t status = op::getInputSqlda(request, &input)) return status;
    return op::getOutputSqlda(output, &sqlda);
}

int32_t Query::fetchAll(std::vector<Row>& rows) {
    int32_t status;
    while ((status = fetch()) == st::kOk) rows.push_back(row());
    return status;
}

QueryResult runQuery(const std::string& statement) {
    QueryResult result;
    Query query(statement);
    result.status = query.prepare();
    if (result.status == st::kOk) result.status = query.open();
    if (result.status == st::kOk) {
        result.status = query.fetchAll(result.rows);
        const int32_t closed = query.close();
        if (result.status == st::kEndOfData) result.status = closed != st::kOk ? closed : st::kEndOfData;
    }
    return result;
}

void DataServerTest::SetUp() {
    hub::ds::reset();
    use(standardScript());
}

void DataServerTest::TearDown() {
    hub::ds::reset();
    hub::ds::useScenario(nullptr);
}

std::vector<std::string> DataServerTest::logLines(std::string_view component) const {
    std::vector<std::string> lines;
    for (const hub::trace::Record& record : capture_.records()) {
        if (record.kind == hub::trace::Kind::Log && record.unit == component) lines.push_back(record.text);
    }
    return lines;
}

bool DataServerTest::logged(std::initializer_list<std::string_view> fragments, std::string_view component) const {
    for (const std::string& line : logLines(component)) {
        bool all = true;
        for (const std::string_view fragment : fragments) all = all && line.find(fragment) != std::string::npos;
        if (all) return true;
    }
    return false;
}

}  // namespace dstest
