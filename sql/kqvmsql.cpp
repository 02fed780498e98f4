// The SQL request layer: runs one statement through the data server's path,
// access plan, request and output objects.
#include "sql/kqvmsql.h"

#include <cstring>

#include "trace/kqvtrace.h"

KQV_TRACE_UNIT("kqvmsql.cpp", kqv::kUnitAttributesLibrary)

namespace {

const char kServerName[] = "SRVR01";

int32_t dropObject(DSHandle handle, int slot) {
    return ds::call<ds::DropFn>(handle, ds::Table::Sql, slot);
}

}  // namespace

extern "C" int32_t kqvsqlp(SQLRequestHandle* request) {
    KQV_TRACE_BEGIN(kqvsqlp);
    std::memcpy(request->eyeCatcher, "KQVSQLAP", sizeof request->eyeCatcher);
    request->pathOpen = 0;
    request->requestOpen = 0;
    KQV_TRACE(kTraceInput, "Creating path for SQL\n %s\n", request->sqlText);

    int32_t status = sql1cpth(kServerName, sql1cpli(), &request->pathHdl);
    if (status != 0) {
        KQV_TRACE(kTraceError, "Create Path failed with %d\n", status);
        KQV_RETURN(status);
    }

    status = ds::call<ds::CreateAccessPlanFn>(request->pathHdl, ds::Table::Sql,
                                              ds::kSlotPathCreateAccessPlan, request->sqlText,
                                              &request->planHdl);
    if (status != 0) {
        KQV_TRACE(kTraceError, "Create Access Plan failed with %d\n", status);
        dropObject(request->pathHdl, ds::kSlotPathDrop);
        KQV_RETURN(status);
    }

    request->planCount = 1;
    request->outputHdlList = &request->outputHdl;
    status = ds::call<ds::CreateRequestFn>(request->pathHdl, ds::Table::Sql,
                                           ds::kSlotPathCreateRequest, &request->reqHdl, nullptr,
                                           nullptr, nullptr, nullptr, request->planCount,
                                           &request->planHdl, &request->outputHdlList, nullptr);
    if (status != 0) {
        KQV_TRACE(kTraceError, "Create Request failed with %d.\n", status);
        dropObject(request->planHdl, ds::kSlotPlanDrop);
        dropObject(request->pathHdl, ds::kSlotPathDrop);
        KQV_RETURN(status);
    }

    status = ds::call<ds::GetSQLDAFn>(request->reqHdl, ds::Table::Sql, ds::kSlotGetInputSQLDA,
                                      &request->inputSqlda);
    if (status != 0) {
        KQV_TRACE(kTraceError, " GetInputSQLDA failed with %d\n", status);
        dropObject(request->reqHdl, ds::kSlotRequestDrop);
        dropObject(request->planHdl, ds::kSlotPlanDrop);
        dropObject(request->pathHdl, ds::kSlotPathDrop);
        KQV_RETURN(kqv::kSqlLayerFailure);
    }

    KQV_TRACE(kTraceDetail, "Create Request successful\n");
    request->pathOpen = 1;
    KQV_RETURN(0);
}

extern "C" int32_t kqvsqlo(SQLRequestHandle* request) {
    KQV_TRACE_BEGIN(kqvsqlo);
    KQV_TRACE(kTraceInput, "Opening SQL request for SQL\n %s\n", request->sqlText);
    const int32_t status = ds::call<ds::OpenRequestFn>(request->reqHdl, ds::Table::Sql,
                                                       ds::kSlotOpenRequest, request->inputSqlda);
    if (status != 0) {
        KQV_TRACE(kTraceError, "OpenRequest failed with %d\n", status);
        KQV_RETURN(status);
    }
    request->requestOpen = 1;
    KQV_RETURN(0);
}

extern "C" int32_t kqvsqli(SQLRequestHandle* request) {
    KQV_TRACE_BEGIN(kqvsqli);
    int32_t status = ds::call<ds::OpenRequestFn>(request->reqHdl, ds::Table::Sql,
                                                 ds::kSlotOpenRequest, request->inputSqlda);
    if (status != 0) {
        KQV_TRACE(kTraceError, " OpenRequest returned with %d\n", status);
        KQV_RETURN(kqv::kSqlLayerFailure);
    }
    request->requestOpen = 1;

    status = ds::call<ds::GetSQLDAFn>(request->outputHdl, ds::Table::Sql,
                                      ds::kSlotGetOutputSQLDA, &request->outputSqlda);
    if (status != 0) {
        KQV_TRACE(kTraceError, " GetOutputSQLDA request returned with %d\n", status);
        KQV_RETURN(kqv::kSqlLayerFailure);
    }
    KQV_RETURN(0);
}

extern "C" int32_t kqvsqlf(SQLRequestHandle* request) {
    KQV_TRACE_BEGIN(kqvsqlf);
    const int32_t status = ds::call<ds::FetchFn>(request->outputHdl, ds::Table::Sql,
                                                 ds::kSlotFetch, request->outputSqlda);
    KQV_TRACE(kTraceDetail, "Fetch return status(%d)\n", status);
    KQV_RETURN(status);
}

extern "C" int32_t kqvsqlc(SQLRequestHandle* request) {
    KQV_TRACE_BEGIN(kqvsqlc);
    if (request->requestOpen != 1) KQV_RETURN(0);
    request->requestOpen = 0;
    const int32_t status =
        ds::call<ds::CloseRequestFn>(request->reqHdl, ds::Table::Sql, ds::kSlotCloseRequest);
    if (status != 0) {
        KQV_TRACE(kTraceError, " CloseRequest returned with %d\n", status);
        KQV_RETURN(kqv::kSqlLayerFailure);
    }
    KQV_RETURN(0);
}

extern "C" int32_t kqvsqld(SQLRequestHandle* request) {
    KQV_TRACE_BEGIN(kqvsqld);
    if (request->pathOpen == 0) {
        KQV_TRACE(kTraceError, "Drop request incorrectly called with closed path \n");
        KQV_RETURN(kqv::kSqlLayerFailure);
    }

    int32_t result = dropObject(request->reqHdl, ds::kSlotRequestDrop);
    if (result != 0) KQV_TRACE(kTraceError, "Drop reqHdl failed with %d\n", result);

    int32_t status = dropObject(request->planHdl, ds::kSlotPlanDrop);
    if (status != 0) {
        KQV_TRACE(kTraceError, "Drop planHdl failed with %d\n", status);
        if (result == 0) result = status;
    }

    status = dropObject(request->pathHdl, ds::kSlotPathDrop);
    if (status != 0) {
        KQV_TRACE(kTraceError, "Drop pathHdl failed with %d\n", status);
        if (result == 0) result = status;
    }

    // The handles now name released objects: a second drop must be refused,
    // not made through them.
    request->pathOpen = 0;
    request->requestOpen = 0;
    KQV_RETURN(result);
}
