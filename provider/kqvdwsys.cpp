// Table KQVDWSYS: registration with the data server, the request entries,
// the collection of status rows from every real node and their merging into
// one row per DW and varnex (their identity index is in identity_index.h).
#include "provider/kqvdwsys.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <utility>

#include KQV_BUILD_STAMP_HEADER  // the build's date and time: the header the build names
#include "platform/dsrequest.h"
#include "provider/identity_index.h"
#include "sql/kqvmsql.h"
#include "trace/kqvtrace.h"
#include "util/kqvtext.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#ifndef KQV_KEEP_HIGHEST_STATUS
#define KQV_KEEP_HIGHEST_STATUS 0
#endif

// Dated by the build stamp, as the version entry is.
KQV_TRACE_UNIT_DATED("kqvdwsys.cpp", kqv::kUnitAttributesProvider, KQV_BUILD_DATE, KQV_BUILD_TIME)

// ---------------------------------------------------------------------------
// Registration

extern "C" {

// Reached only through the entry vector.
static void KQVDWSYS__GCD(const char** version, const char** date, const char** time);

#if defined(_WIN32)
const
#endif
    PRB1_VectorRecord PRB1_Vector = {
        {23, KQV_PROVIDER_VERSION_NUMBER, 0},
        {&qvdwsysr, {0, 0}},
        {&qvdwsypr, {0, 0}},
        {&qvdwsyts, {0, 0}},
        {&KQVDWSYS__GCD, {0, 0}},
        {{nullptr, {0, 0}}, {nullptr, {0, 0}}, {nullptr, {0, 0}}},
};

CNT1_EntryListRecord CNT1_entryList[1] = {{"KQVDWSYS", 0, &PRB1_Vector}};

CNT1_ContentsRecord CNT1_Contents = {"KQVDWSYS", CNT1_entryList, 1};

// Never read: it makes the library import the registration service's
// contents handler.
__attribute__((used)) static int32_t (*const CNT1_ContentsHeader)(void) = &kglcnt1h;

static void KQVDWSYS__GCD(const char** version, const char** date, const char** time) {
    *version = KQV_PROVIDER_VERSION_TEXT;
    // The build stamp: written with the build information on every build,
    // which compiles this unit again, so both name the same build.
    *date = KQV_BUILD_DATE;
    *time = KQV_BUILD_TIME;
}

void cnt1entd(void) { kglcnmnt(&CNT1_Contents, 0); }

}  // extern "C"

#if defined(_WIN32)
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
#endif

// ---------------------------------------------------------------------------
// The data server's request interface

namespace {

// The request's parameter list, or null after writing why there is none.
DSParameterList* parameterList(DSRequestHandle request, const kqv::TraceCall& kqvTrace) {
    DSParameterList* parameters = nullptr;
    ds::call<ds::GetItemFn>(request, ds::Table::Common, ds::kSlotGetItem, ds::kItemParameterList,
                            reinterpret_cast<void**>(&parameters));
    if (parameters == nullptr) KQV_TRACE(kTraceError, "Data server parameter list not found.\n");
    return parameters;
}

// The request's work area, or null after writing why there is none; then
// `status` is what the entry returns.
DWSYWORK* workArea(DSRequestHandle request, const kqv::TraceCall& kqvTrace, int32_t* status) {
    DSParameterList* parameters = parameterList(request, kqvTrace);
    if (parameters == nullptr) {
        *status = kqv::kNoParameterList;
        return nullptr;
    }
    auto* work = static_cast<DWSYWORK*>(parameters->workArea);
    if (work == nullptr) {
        KQV_TRACE(kTraceError, "Unable to locate pWorkA work area.\n");
        *status = kqv::kNoWorkArea;
    }
    return work;
}

// Destroys whichever of the request's three tables exist, and the results
// table's index.
void destroyTables(DWSYWORK* work) {
    if (work->resultTable != nullptr) RSLTdestroy(&work->resultTable);
    if (work->realNodeTable != nullptr) RSLTdestroy(&work->realNodeTable);
    if (work->originNodeTable != nullptr) RSLTdestroy(&work->originNodeTable);
    kqv::identity_index::drop(work->index);
}

}  // namespace

extern "C" int32_t qvdwsysr(DSRequestHandle request) {
    KQV_TRACE_BEGIN(qvdwsysr);
    DSParameterList* parameters = parameterList(request, kqvTrace);
    if (parameters == nullptr) KQV_RETURN(kqv::kNoParameterList);
    KQV_TRACE(kTraceInput, "Invoked for table %s\n", parameters->tableName);

    void* storage = nullptr;
    if (parameters->viewStorage == nullptr) KQV_RETURN(kqv::kNoViewStorage);
    const int32_t status = ds::call<ds::GetViewStorageFn>(
        *parameters->viewStorage, ds::Table::Common, ds::kSlotGetViewStorage,
        static_cast<int32_t>(sizeof(DWSYWORK)), &storage);
    if (status != 0 || storage == nullptr) KQV_RETURN(kqv::kNoViewStorage);
    KQV_TRACE(kTraceDetail, "Got View storage at " KQV_ADDR_X " of size %d\n", KQV_ADDR(storage),
              static_cast<int32_t>(sizeof(DWSYWORK)));

    auto* work = static_cast<DWSYWORK*>(storage);
    std::memset(work, 0, sizeof *work);
    std::memcpy(work->eyeCatcher, "DWSYWORK", sizeof work->eyeCatcher);
    ds::call<ds::PutItemFn>(request, ds::Table::Common, ds::kSlotPutItem, ds::kItemWorkArea,
                            storage);
    work->rowsReturned = 0;
    KQV_RETURN(0);
}

extern "C" int32_t qvdwsyts(DSRequestHandle request) {
    KQV_TRACE_BEGIN(qvdwsyts);
    int32_t status = 0;
    DWSYWORK* work = workArea(request, kqvTrace, &status);
    if (work == nullptr) KQV_RETURN(status);
    destroyTables(work);
    KQV_RETURN(0);
}

// ---------------------------------------------------------------------------
// Request processing

namespace {

const char kIdnameColumn[] = "IDNAME    ";
const char kOriginnodeColumn[] = "ORIGINNODE";

// Copies a filter's value into a field of `width` bytes, cut to the field;
// a value without bytes or without an address copies nothing.
void copyFilterValue(char* field, const IndexFilter* filter, size_t width) {
    if (filter->valueLength <= 0 || filter->value == nullptr) return;
    const auto length = static_cast<size_t>(filter->valueLength);
    std::memcpy(field, filter->value, length < width ? length : width);
}

void resetFilters(DWSYWORK* work) {
    work->idnameSet = 0;
    work->originnodeSet = 0;
    std::memset(work->idnameFilter, ' ', 8);
    work->idnameFilter[8] = '\0';
    std::memset(work->originnodeFilter, ' ', 32);
    work->originnodeFilter[32] = '\0';
}

void applyFilter(DWSYWORK* work, const IndexFilter* filter) {
    if (filter->op != ds::kOperatorEqual) return;
    if (std::memcmp(filter->columnName, kIdnameColumn, 10) == 0) {
        work->idnameSet = 1;
        copyFilterValue(work->idnameFilter, filter, 8);
    } else if (std::memcmp(filter->columnName, kOriginnodeColumn, 10) == 0) {
        work->originnodeSet = 1;
        std::memset(work->originnodeFilter, ' ', 32);
        copyFilterValue(work->originnodeFilter, filter, 32);
    }
}

// The IDNAME that an ORIGINNODE filter implies: its varnex name.
void deriveIdname(DWSYWORK* work) {
    std::memcpy(work->idnameFilter, work->originnodeFilter, 8);
    auto* colon = static_cast<char*>(std::memchr(work->idnameFilter, ':', 8));
    if (colon != nullptr) std::memset(colon, ' ', static_cast<size_t>(work->idnameFilter + 8 - colon));
    work->idnameSet = 1;
}

// Reads filters until the data server has none left. An answer of 0 that
// hands out no filter counts as none left: asking again could go on forever.
void readFilters(DSRequestHandle request, DWSYWORK* work, const kqv::TraceCall& kqvTrace) {
    for (;;) {
        IndexFilter* filter = nullptr;
        if (ds::call<ds::GetItemFn>(request, ds::Table::Common, ds::kSlotGetItem,
                                    ds::kItemIndexFilter, reinterpret_cast<void**>(&filter)) != 0 ||
            filter == nullptr) {
            break;
        }
        if (kqvTrace.on(kTraceDetail)) {
            // The data server's value need not be terminated.
            char value[32768];
            const size_t length =
                filter->valueLength > 0 && filter->value != nullptr
                    ? kqv::boundedLength(filter->value, static_cast<size_t>(filter->valueLength))
                    : 0;
            if (length > 0) std::memcpy(value, filter->value, length);
            value[length] = '\0';
            char column[sizeof filter->columnName];
            kqv::terminatedCopy(column, filter->columnName, sizeof column - 1);
            RAS1_Printf(kqvTrace.entry(), __LINE__, "Index Filter %d %s %s\n", filter->op, column,
                        value);
        }
        applyFilter(work, filter);
    }
}

}  // namespace

extern "C" int32_t qvdwsypr(DSRequestHandle request) {
    KQV_TRACE_BEGIN(qvdwsypr);
    int32_t status = 0;
    DWSYWORK* work = workArea(request, kqvTrace, &status);
    if (work == nullptr) KQV_RETURN(status);

    if (work->rowsReturned == 0) {
        // A new pass: the previous pass's tables go first, so that a request
        // holds one pass's tables at a time.
        destroyTables(work);
        work->resultList = nullptr;
        work->rowCursor = nullptr;

        resetFilters(work);
        readFilters(request, work, kqvTrace);
        if (work->originnodeSet != 0 && work->idnameSet == 0) deriveIdname(work);
        if (work->idnameSet != 0)
            KQV_TRACE(kTraceDetail, "Filter for IDNAME set to %s\n", work->idnameFilter);
        if (work->originnodeSet != 0)
            KQV_TRACE(kTraceDetail, "Filter for ORIGINNODE set to %s\n", work->originnodeFilter);

        QVDWSYAPI api;
        std::memset(&api, 0, sizeof api);
        std::memcpy(api.EyeCatcher, "QVDWSYAPI ", sizeof api.EyeCatcher);

        status = RSLTinit(&api.InodeTable, static_cast<int32_t>(sizeof(InodeElement)), 32);
        if (status != 0) {
            KQV_TRACE_ALWAYS("Unable to allocate Storage for LIKE Node result\n");
            KQV_RETURN(status);
        }
        work->originNodeTable = api.InodeTable;
        api.InodeList = &api.InodeTable->ElementList;

        status = RSLTinit(&api.RealNodeTable, static_cast<int32_t>(sizeof(RealNodeElement)), 32);
        work->realNodeTable = api.RealNodeTable;
        api.RealNodeList = api.RealNodeTable != nullptr ? &api.RealNodeTable->ElementList : nullptr;
        if (status != 0) {
            KQV_TRACE_ALWAYS("Unable to allocate Storage for AtNode result\n");
            KQV_RETURN(status);
        }

        if (buildOrigList(&api, 1) == 0) {
            KQV_TRACE(kTraceDetail, "buildOrigList returned no data\n");
            KQV_RETURN(kqv::kNoMoreRows);
        }
        if (buildNodeList(&api, 1) == 0) {
            KQV_TRACE(kTraceDetail, "buildNodeList returned no data\n");
            KQV_RETURN(kqv::kNoMoreRows);
        }

        status = RSLTinit(&work->resultTable, static_cast<int32_t>(sizeof(DWSysResultElement)), 10);
        if (status != 0) {
            KQV_TRACE(kTraceError, "Unable to allocate Storage for Group result\n");
            KQV_RETURN(status);
        }
        work->resultList = &work->resultTable->ElementList;
        collectQVStatusdata(work, &api);
    }

    RSLTlink* row =
        work->resultList != nullptr ? kqv::nextInList(work->resultList, work->rowCursor) : nullptr;
    work->rowCursor = row;
    if (row != nullptr) {
        work->rowsReturned += 1;
        ds::call<ds::PutItemFn>(request, ds::Table::Common, ds::kSlotPutItem, ds::kItemRow,
                                static_cast<void*>(&reinterpret_cast<DWSysResultElement*>(row)->row));
    } else {
        status = kqv::kNoMoreRows;
        work->rowsReturned = 0;
    }
    KQV_RETURN(status);
}

// ---------------------------------------------------------------------------
// Collection from the real nodes

namespace {

const char kOriginSuffix[] = ":vRK:HarborStatusPanel";
constexpr size_t kStatementBufferSize = 1000;
constexpr int kRecordColumns = 14;

struct ColumnField {
    size_t offset;
    size_t width;
};

// Where column k of the per-node query lands in the row.
constexpr ColumnField kColumnFields[kRecordColumns] = {
    {offsetof(DWSysRecord, ORIGINNODE), 32}, {offsetof(DWSysRecord, TIMESTAMP), 16},
    {offsetof(DWSysRecord, VARNNAME), 8},    {offsetof(DWSysRecord, RQMID), 4},
    {offsetof(DWSysRecord, SYSNAME), 8},     {offsetof(DWSysRecord, DW_NAME), 8},
    {offsetof(DWSysRecord, CONNHVTCT), 4},   {offsetof(DWSysRecord, STG_ALLOC), 4},
    {offsetof(DWSysRecord, STG_USED), 4},    {offsetof(DWSysRecord, DUMPTBLSZ), 4},
    {offsetof(DWSysRecord, DUMPTBLIUS), 4},  {offsetof(DWSysRecord, TOTSTGCTL), 4},
    {offsetof(DWSysRecord, STATUS), 4},      {offsetof(DWSysRecord, DWLEVEL), 4},
};

// The query for one real node, into a cleared buffer of 1000 bytes.
void buildNodeStatement(char* buffer, const RealNodeElement* node) {
    std::memset(buffer, 0, kStatementBufferSize);
    kqv::TextBuilder statement(buffer, kStatementBufferSize);
    statement.append(
        "SELECT ORIGINNODE, TIMESTAMP, VARNNAME, RQMID, SYSNAME, DW_NAME, CONNHVTCT, STG_ALLOC, "
        "STG_USED, DUMPTBLSZ, DUMPTBLIUS, TOTSTGCTL, STATUS, DWLEVEL ");
    statement.append(" FROM KQV.QVALCSYS");
    statement.append(" AT('");
    // The real node's name ends at its first blank or zero byte; its first
    // character is always kept.
    size_t nameLength = 1;
    while (nameLength < sizeof node->RealNode && node->RealNode[nameLength] != ' ' &&
           node->RealNode[nameLength] != '\0') {
        ++nameLength;
    }
    statement.appendQuoted(node->RealNode, nameLength);
    statement.append("')");
    statement.append(" WHERE ORIGINNODE ='");
    // The origin node's name loses only its trailing blanks.
    size_t originLength = kqv::boundedLength(node->RealNodeOrigNode, sizeof node->RealNodeOrigNode);
    while (originLength > 0 && (node->RealNodeOrigNode[originLength - 1] == ' ' ||
                                node->RealNodeOrigNode[originLength - 1] == '\0')) {
        --originLength;
    }
    statement.appendQuoted(node->RealNodeOrigNode, originLength);
    statement.append("'");
    statement.append(";");
}

// Copies column k of the fetched row into its field, cut to the field; a
// negative length leaves the field as it is. A column as wide as its field,
// the usual case, is a copy of constant size, which needs no call.
template <int k>
void copyColumn(const SQLDA* sqlda, char* bytes) {
    constexpr size_t width = kColumnFields[k].width;
    const SQLVAR* column = sqldaColumn(sqlda, k);
    if (column->dataLength <= 0 || column->dataAddress == nullptr) return;
    const auto length = static_cast<size_t>(column->dataLength);
    if (length >= width) {
        std::memcpy(bytes + kColumnFields[k].offset, column->dataAddress, width);
    } else {
        std::memcpy(bytes + kColumnFields[k].offset, column->dataAddress, length);
    }
}

template <int... k>
void copyColumns(const SQLDA* sqlda, char* bytes, int columns, std::integer_sequence<int, k...>) {
    ((k < columns ? copyColumn<k>(sqlda, bytes) : void()), ...);
}

// Copies the fetched row's columns into their fields, as many as the row has.
void copyFetchedRow(const SQLDA* sqlda, DWSysRecord* record) {
    copyColumns(sqlda, reinterpret_cast<char*>(record), sqlda->columnCount,
                std::make_integer_sequence<int, kRecordColumns>());
}

// The summarisation's entry block, once it has run.
std::atomic<TraceEntryBlock*> summarizeEntry{nullptr};

// Hands the fetched rows to the summarisation in their order. While the
// summarisation traces nothing, a row waits there until the next one has been
// fetched: the slot its identity probes is asked for at once and has reached
// the cache by the time it is merged. No trace line changes its place, since
// the waiting calls write none.
class DeferredMerge {
  public:
    explicit DeferredMerge(DWSYWORK* work) : work_(work) {}
    DeferredMerge(const DeferredMerge&) = delete;
    DeferredMerge& operator=(const DeferredMerge&) = delete;

    void add(const DWSysRecord& row) {
        finish();
        const TraceEntryBlock* entry = summarizeEntry.load(std::memory_order_relaxed);
        if (entry == nullptr || !kqv::traceOff(*entry)) {
            summarizeQVStatusData(work_, &row);
            return;
        }
        kqv::identity_index::prefetch(work_->index, row);
        std::memcpy(&waiting_, &row, sizeof waiting_);
        hasWaiting_ = true;
    }
    // Merges the row still waiting, if any.
    void finish() {
        if (!hasWaiting_) return;
        hasWaiting_ = false;
        summarizeQVStatusData(work_, &waiting_);
    }

  private:
    DWSYWORK* work_;
    DWSysRecord waiting_;
    bool hasWaiting_ = false;
};

// Without a filter a row is reported under its varnex's status panel.
void setDerivedOriginNode(DWSysRecord* record) {
    std::memset(record->ORIGINNODE, ' ', sizeof record->ORIGINNODE);
    std::memcpy(record->ORIGINNODE, record->VARNNAME, sizeof record->VARNNAME);
    size_t end = 0;
    while (end < sizeof record->ORIGINNODE && record->ORIGINNODE[end] != ' ' &&
           record->ORIGINNODE[end] != '\0') {
        ++end;
    }
    std::memcpy(record->ORIGINNODE + end, kOriginSuffix, sizeof kOriginSuffix - 1);
}

// Whether the request's ORIGINNODE filter rules this node out.
bool filteredOut(const DWSYWORK* work, const RealNodeElement* node, const kqv::TraceCall& kqvTrace) {
    if (work->originnodeSet == 0) return false;
    char key[8];
    std::memset(key, ' ', sizeof key);
    const char* colon = std::strchr(work->originnodeFilter, ':');
    if (colon == nullptr) {
        KQV_TRACE(kTraceDetail, "Invalid Origin Node in Predicate %s", work->originnodeFilter);
        return true;
    }
    const auto prefix = static_cast<size_t>(colon - work->originnodeFilter);
    std::memcpy(key, work->originnodeFilter, prefix < sizeof key ? prefix : sizeof key);
    if (std::memcmp(key, node->RealNodeVarnex, sizeof key) != 0) {
        char varnex[9];
        kqv::terminatedCopy(varnex, node->RealNodeVarnex, 8);
        KQV_TRACE(kTraceDetail, "Skipping varnex %s", varnex);
        return true;
    }
    return false;
}

}  // namespace

extern "C" int32_t collectQVStatusdata(DWSYWORK* work, QVDWSYAPI* api) {
    KQV_TRACE_BEGIN(collectQVStatusdata);
    int32_t result = 1;
    int32_t nodeCount = 0;
    SQLRequestHandle request{};
    char sqlText[kStatementBufferSize];

    while ((work->realNodeCursor = kqv::nextInList(api->RealNodeList, work->realNodeCursor)) !=
           nullptr) {
        const auto* node = reinterpret_cast<const RealNodeElement*>(work->realNodeCursor);
        if (filteredOut(work, node, kqvTrace)) continue;

        ++nodeCount;
        KQV_TRACE(kTraceDetail,
                  "Thrunode=\\%32.32s\\ \nOriginnode=\\%32.32s\\ \nVarnname=\\%8.8s\\ \nNode "
                  "number %d\n",
                  node->RealNode, node->RealNodeOrigNode, node->RealNodeVarnex, nodeCount);

        buildNodeStatement(sqlText, node);
        request.sqlText = sqlText;
        KQV_TRACE(kTraceDetail, "SQL= %s\n", sqlText);

        bool prepared = false;
        int32_t status = kqvsqlp(&request);
        if (status == 0) {
            prepared = true;
            status = kqvsqli(&request);
            if (status != 0) {
                result = 0;
                KQV_TRACE(kTraceError, "Unable to open request for input %d\n", status);
            } else {
                const bool traceRows = kqvTrace.on(kTraceDetail);
                DeferredMerge merge(work);
                while (kqvsqlf(&request) == 0) {
                    DWSysRecord* row = &work->rowBuffer;
                    const SQLDA* sqlda = request.outputSqlda;
                    copyFetchedRow(sqlda, row);
                    char field[33];
                    if (work->originnodeSet != 0) {
                        std::memcpy(row->ORIGINNODE, work->originnodeFilter, sizeof row->ORIGINNODE);
                        if (traceRows) {
                            kqv::terminatedCopy(field, row->ORIGINNODE, sizeof row->ORIGINNODE);
                            KQV_TRACE(kTraceDetail, "Origin Node (vok1) %s", field);
                        }
                    } else {
                        setDerivedOriginNode(row);
                        if (traceRows) {
                            kqv::terminatedCopy(field, row->VARNNAME, sizeof row->VARNNAME);
                            KQV_TRACE(kTraceDetail, "Varn Name   (vok2) %s", field);
                            kqv::terminatedCopy(field, row->ORIGINNODE, sizeof row->ORIGINNODE);
                            KQV_TRACE(kTraceDetail, "Origin Node (vok2) %s", field);
                        }
                    }
                    if (sqlda->columnCount == kRecordColumns) {
                        merge.add(*row);
                    } else {
                        result = 0;
                        KQV_TRACE(kTraceError,
                                  "Count of colums (%d) are not equal to SQLDA columns (%d)",
                                  kRecordColumns, sqlda->columnCount);
                    }
                }
                merge.finish();
                status = kqvsqlc(&request);
                if (status != 0) {
                    result = 0;
                    KQV_TRACE(kTraceError, "Unable to close request for input %d\n", status);
                }
            }
        }
        if (prepared) {
            status = kqvsqld(&request);
            if (status != 0) KQV_TRACE(kTraceError, "Unable to drop request %d\n", status);
        }
        char realNode[33];
        kqv::terminatedCopy(realNode, node->RealNode, sizeof node->RealNode);
        KQV_TRACE(kTraceDetail, "End getting data from REALNODE=\\%32s\\\n", realNode);
    }

    KQV_TRACE(kTraceDetail, "Processed %d nodes\n", nodeCount);
    KQV_RETURN(result);
}

// ---------------------------------------------------------------------------
// Summarisation

namespace {

// The element with the record's identity, or null and, with an index, where
// it would go.
kqv::identity_index::Lookup findIdentity(DWSYWORK* work, const DWSysRecord& record) {
    if (kqv::identity_index::built(work->index)) return kqv::identity_index::find(work->index, record);
    for (RSLTlink* link = kqv::nextInList(work->resultList, nullptr); link != nullptr;
         link = kqv::nextInList(work->resultList, link)) {
        if (kqv::sameIdentity(kqv::rowOf(link), record)) return {link, nullptr, 0, 0};
    }
    return {nullptr, nullptr, 0, 0};
}

}  // namespace

extern "C" void summarizeQVStatusData(DWSYWORK* work, const DWSysRecord* record) {
    KQV_TRACE_BEGIN(summarizeQVStatusData);
    summarizeEntry.store(&kqvTraceEntry, std::memory_order_relaxed);
    KQV_TRACE(kTraceDetail, "New DW to be added\n");
    KQV_TRACE(kTraceDetail, "ORIGINNODE: \t\t\t%32.32s\n", record->ORIGINNODE);
    KQV_TRACE(kTraceDetail, "VARNEX: \t\t\t%8.8s\n", record->VARNNAME);
    KQV_TRACE(kTraceDetail, "RQMID:      \t\t\t%4.4s\n", record->RQMID);
    KQV_TRACE(kTraceDetail, "DW_NAME:    \t\t\t%4.4s\n", record->DW_NAME);
#if KQV_KEEP_HIGHEST_STATUS
    KQV_TRACE(kTraceDetail, "STATUS:     \t\t\t%d\n", record->STATUS);
#endif

    const auto lookup = findIdentity(work, *record);
    if (RSLTlink* match = lookup.element; match != nullptr) {
        KQV_TRACE(kTraceState, "Duplicate DW Systems record found.\n");
#if KQV_KEEP_HIGHEST_STATUS
        auto* element = reinterpret_cast<DWSysResultElement*>(match);
        if (element->row.STATUS < record->STATUS) {
            element->row.STATUS = record->STATUS;
            KQV_TRACE(kTraceState, "Status updated with %d.\n", element->row.STATUS);
        }
#endif
        KQV_RETURN_VOID();
    }

    void* slot;
    if (RSLTget(work->resultTable, &slot) != 0) KQV_RETURN_VOID();
    auto* element = static_cast<DWSysResultElement*>(slot);
    std::memcpy(&element->row, record, sizeof element->row);
    kqv::linkAtFront(work->resultList, reinterpret_cast<RSLTlink*>(element));
    kqv::identity_index::add(work->index, work->resultTable, reinterpret_cast<RSLTlink*>(element), lookup);
    KQV_TRACE(kTraceState, "Added new entry to results table.\n");
    KQV_RETURN_VOID();
}
