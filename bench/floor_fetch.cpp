#include "floor_fetch.h"

#include <stdexcept>

#include "hub/ds/request.h"
#include "hub/ds/seams.h"
#include "hub/ds/status.h"
#include "platform/dsrequest.h"
#include "provider/kqvdwsys.h"
#include "sql/dssql.h"

namespace bench {

namespace {

void check(int32_t status, const char* operation, const std::string& statement) {
    if (status != 0) {
        throw std::runtime_error(std::string(operation) + " returned status " + std::to_string(status) +
                                 " for: " + statement);
    }
}

// One statement, as kqvsqlp, kqvsqli, kqvsqlf, kqvsqlc and kqvsqld run it.
int64_t fetchStatement(const std::string& statement) {
    DSHandle path{};
    check(sql1cpth("SRVR01", sql1cpli(), &path), "sql1cpth", statement);
    DSHandle plan{};
    check(ds::call<ds::CreateAccessPlanFn>(path, ds::Table::Sql, ds::kSlotPathCreateAccessPlan,
                                           statement.c_str(), &plan),
          "CreateAccessPlan", statement);
    DSHandle request{};
    DSHandle output{};
    DSHandle* outputs = &output;
    check(ds::call<ds::CreateRequestFn>(path, ds::Table::Sql, ds::kSlotPathCreateRequest, &request,
                                        nullptr, nullptr, nullptr, nullptr, 1, &plan, &outputs,
                                        nullptr),
          "CreateRequest", statement);
    SQLDA* input = nullptr;
    check(ds::call<ds::GetSQLDAFn>(request, ds::Table::Sql, ds::kSlotGetInputSQLDA, &input),
          "GetInputSQLDA", statement);
    check(ds::call<ds::OpenRequestFn>(request, ds::Table::Sql, ds::kSlotOpenRequest, input),
          "OpenRequest", statement);
    SQLDA* columns = nullptr;
    check(ds::call<ds::GetSQLDAFn>(output, ds::Table::Sql, ds::kSlotGetOutputSQLDA, &columns),
          "GetOutputSQLDA", statement);

    int64_t rows = 0;
    int32_t status = 0;
    while ((status = ds::call<ds::FetchFn>(output, ds::Table::Sql, ds::kSlotFetch, columns)) == 0) ++rows;
    if (status != hub::ds::status::kEndOfData) check(status, "Fetch", statement);

    check(ds::call<ds::CloseRequestFn>(request, ds::Table::Sql, ds::kSlotCloseRequest), "CloseRequest",
          statement);
    check(ds::call<ds::DropFn>(request, ds::Table::Sql, ds::kSlotRequestDrop), "DropRequest", statement);
    check(ds::call<ds::DropFn>(plan, ds::Table::Sql, ds::kSlotPlanDrop), "DropPlan", statement);
    check(ds::call<ds::DropFn>(path, ds::Table::Sql, ds::kSlotPathDrop), "DropPath", statement);
    return rows;
}

}  // namespace

std::vector<std::string> routedStatements(const PRB1_VectorRecord& provider) {
    hub::ds::reset();
    hub::ds::startRecording();
    {
        hub::ds::Request request("KQVDWSYS");
        if (provider.start.entry(request.handle()) != 0) throw std::runtime_error("request start failed");
        while (provider.process.entry(request.handle()) == 0) {
        }
        provider.terminate.entry(request.handle());
    }
    std::vector<std::string> statements;
    for (const auto& call : hub::ds::recordedCalls()) {
        if (call.op == hub::ds::Op::CreateAccessPlan && call.text.find("FROM KQV.QVALCSYS") != std::string::npos) {
            statements.push_back(call.text);
        }
    }
    hub::ds::reset();
    return statements;
}

int64_t fetchAll(const std::vector<std::string>& statements) {
    int64_t rows = 0;
    for (const auto& statement : statements) rows += fetchStatement(statement);
    return rows;
}

Times handBack(int64_t rows) {
    hub::ds::Request request("KQVDWSYS");
    const DSRequestHandle handle = request.handle();
    DWSysRecord row{};
    const Stopwatch stopwatch;
    for (int64_t n = 0; n < rows; ++n) {
        void* parameters = nullptr;
        check(ds::call<ds::GetItemFn>(handle, ds::Table::Common, ds::kSlotGetItem, ds::kItemParameterList,
                                      &parameters),
              "GetItem", "the parameter list");
        check(ds::call<ds::PutItemFn>(handle, ds::Table::Common, ds::kSlotPutItem, ds::kItemRow,
                                      static_cast<void*>(&row)),
              "PutItem", "a row");
    }
    return stopwatch.elapsed();
}

}  // namespace bench
