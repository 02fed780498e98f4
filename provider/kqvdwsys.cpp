// Table KQVDWSYS: registration with the data server, the request entries,
// the collection of status rows from every real node and their merging into
// one row per DW and varnex.
#include "provider/kqvdwsys.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/dsrequest.h"
#include "sql/kqvmsql.h"
#include "trace/kqvtrace.h"
#include "util/kqvheap.h"
#include "util/kqvtext.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#ifndef KQV_KEEP_HIGHEST_STATUS
#define KQV_KEEP_HIGHEST_STATUS 0
#endif

KQV_TRACE_UNIT("kqvdwsys.cpp", kqv::kUnitAttributesProvider)

// ---------------------------------------------------------------------------
// Registration

extern "C" {

// Reached only through the entry vector.
static void KQVDWSYS__GCD(const char** version, const char** date, const char** time);

#if defined(_WIN32)
const
#endif
    PRB1_VectorRecord PRB1_Vector = {
        {23, 130, 0},
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
    *version = "V130";
    *date = __DATE__;
    *time = __TIME__;
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
    if (work->index.nodes != nullptr) KQV_RELEASE(work->index.nodes);
    std::memset(&work->index, 0, sizeof work->index);
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
                        summarizeQVStatusData(work, row);
                    } else {
                        result = 0;
                        KQV_TRACE(kTraceError,
                                  "Count of colums (%d) are not equal to SQLDA columns (%d)",
                                  kRecordColumns, sqlda->columnCount);
                    }
                }
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

#if KQV_TEST_SEAMS
// Test builds can move the point at which the identity index is built.
extern "C" {
__attribute__((visibility("default"))) int32_t kqvIdentityIndexThreshold = 64;
}
#define KQV_INDEX_THRESHOLD kqvIdentityIndexThreshold
#else
#define KQV_INDEX_THRESHOLD 64
#endif

namespace {

bool sameIdentity(const DWSysRecord& a, const DWSysRecord& b) {
    return std::memcmp(a.DW_NAME, b.DW_NAME, sizeof a.DW_NAME) == 0 &&
           std::memcmp(a.VARNNAME, b.VARNNAME, sizeof a.VARNNAME) == 0;
}

const DWSysRecord& rowOf(const RSLTlink* element) {
    return reinterpret_cast<const DWSysResultElement*>(element)->row;
}

// The identity index is a B+ tree ordered by identity. A real node returns
// its rows in the order it keeps them, often that of their identities; then
// each lookup follows the path of the one before, which is in the cache,
// where a hash table reads a slot at random, a miss in the caches for every
// new identity of a large table. In any order a lookup costs a binary search
// in one node per level, and the tree has few levels.
//
// Its nodes are numbered slots of one heap block, headed by the tree's root
// and height, so that growing it is one copy of the block.

// An identity as two numbers whose order is that of its bytes.
struct IdentityKey {
    uint64_t dwName;
    uint64_t varnex;
};

uint64_t bigEndian(const char* bytes) {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
}

IdentityKey keyOf(const DWSysRecord& row) { return {bigEndian(row.DW_NAME), bigEndian(row.VARNNAME)}; }

bool operator<(const IdentityKey& a, const IdentityKey& b) {
    return a.dwName < b.dwName || (a.dwName == b.dwName && a.varnex < b.varnex);
}
bool operator==(const IdentityKey& a, const IdentityKey& b) { return a.dwName == b.dwName && a.varnex == b.varnex; }

constexpr int kNodeKeys = 32;
constexpr int kMostLevels = 12;  // 16^12 identities and more at half-full nodes

// A leaf holds identities and their elements; an inner node holds
// count + 1 children, each key the least identity of the child after it.
struct TreeNode {
    int32_t count;
    int32_t leaf;
    IdentityKey keys[kNodeKeys];
    union {
        RSLTlink* elements[kNodeKeys];
        uint32_t children[kNodeKeys + 1];
    };
};

struct TreeHeader {
    uint32_t root;
    int32_t height;    // levels of inner nodes above the leaves
    uint32_t used;     // nodes taken
    uint32_t padding;  // keeps the nodes aligned for their keys
};

TreeHeader& headerOf(const DWSysIdentityIndex& index) { return *static_cast<TreeHeader*>(index.nodes); }

TreeNode& nodeOf(const DWSysIdentityIndex& index, uint32_t number) {
    return reinterpret_cast<TreeNode*>(static_cast<TreeHeader*>(index.nodes) + 1)[number];
}

size_t indexBytes(int64_t capacity) {
    return sizeof(TreeHeader) + static_cast<size_t>(capacity) * sizeof(TreeNode);
}

// The first position in the node whose key is not less than `key`.
int lowerBound(const TreeNode& node, const IdentityKey& key) {
    int low = 0;
    int high = node.count;
    while (low < high) {
        const int middle = (low + high) / 2;
        if (node.keys[middle] < key) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

// The outcome of looking an identity up: its element, or, with an index, the
// path down to where a new element of that identity goes.
struct Lookup {
    RSLTlink* element;
    IdentityKey key;
    int32_t levels;                  // entries of the path, the leaf last
    uint32_t path[kMostLevels + 1];  // node numbers from the root
    int32_t at[kMostLevels + 1];     // the child taken in each, the key's place in the leaf
};

Lookup findInIndex(const DWSysIdentityIndex& index, const DWSysRecord& row) {
    Lookup lookup;
    lookup.element = nullptr;
    lookup.key = keyOf(row);
    const TreeHeader& header = headerOf(index);
    uint32_t number = header.root;
    for (int level = 0;; ++level) {
        const TreeNode& node = nodeOf(index, number);
        int position = lowerBound(node, lookup.key);
        lookup.path[level] = number;
        lookup.levels = level + 1;
        if (node.leaf != 0) {
            lookup.at[level] = position;
            if (position < node.count && node.keys[position] == lookup.key) lookup.element = node.elements[position];
            return lookup;
        }
        // A key equal to a separator belongs to the child after it.
        if (position < node.count && node.keys[position] == lookup.key) ++position;
        lookup.at[level] = position;
        number = node.children[position];
    }
}

void dropIndex(DWSysIdentityIndex& index) {
    if (index.nodes != nullptr) KQV_RELEASE(index.nodes);
    index.nodes = nullptr;
    index.capacity = 0;
}

// Failing to get memory for the index drops it: the merge goes on with the
// linear walk, silently, and builds the index again once the table has
// doubled.
void giveUpIndex(DWSysIdentityIndex& index) {
    dropIndex(index);
    index.retryAt = 2 * index.identities;
}

// Makes room for `more` nodes, moving the tree to a block twice as large when
// needed. False, with the index dropped, when the memory cannot be had.
bool reserveNodes(DWSysIdentityIndex& index, uint32_t more) {
    const int64_t needed = static_cast<int64_t>(headerOf(index).used) + more;
    if (needed <= index.capacity) return true;
    int64_t capacity = 2 * static_cast<int64_t>(index.capacity);
    while (capacity < needed) capacity *= 2;
    // The block's size in bytes must fit 32 bits.
    void* nodes = capacity > (INT32_MAX - static_cast<int64_t>(sizeof(TreeHeader))) /
                                 static_cast<int64_t>(sizeof(TreeNode))
                      ? nullptr
                      : KQV_ALLOCATE(indexBytes(capacity));
    if (nodes == nullptr) {
        giveUpIndex(index);
        return false;
    }
    std::memcpy(nodes, index.nodes, indexBytes(headerOf(index).used));
    KQV_RELEASE(index.nodes);
    index.nodes = nodes;
    index.capacity = static_cast<int32_t>(capacity);
    return true;
}

uint32_t newNode(DWSysIdentityIndex& index, bool leaf) {
    const uint32_t number = headerOf(index).used++;
    TreeNode& node = nodeOf(index, number);
    node.count = 0;
    node.leaf = leaf ? 1 : 0;
    return number;
}

// Puts key and element (or child) at `position` of a node that has room.
void placeInLeaf(TreeNode& leaf, int position, const IdentityKey& key, RSLTlink* element) {
    const auto after = static_cast<size_t>(leaf.count - position);
    std::memmove(&leaf.keys[position + 1], &leaf.keys[position], after * sizeof(IdentityKey));
    std::memmove(&leaf.elements[position + 1], &leaf.elements[position], after * sizeof(RSLTlink*));
    leaf.keys[position] = key;
    leaf.elements[position] = element;
    leaf.count += 1;
}

void placeInInner(TreeNode& inner, int position, const IdentityKey& key, uint32_t child) {
    const auto after = static_cast<size_t>(inner.count - position);
    std::memmove(&inner.keys[position + 1], &inner.keys[position], after * sizeof(IdentityKey));
    std::memmove(&inner.children[position + 2], &inner.children[position + 1], after * sizeof(uint32_t));
    inner.keys[position] = key;
    inner.children[position + 1] = child;
    inner.count += 1;
}

// Adds the element of a new identity where its lookup found its place,
// splitting full nodes on the way up. A node split at its end keeps its
// keys and starts an empty one, so that identities that arrive in order fill
// their nodes.
void insertInIndex(DWSysIdentityIndex& index, const Lookup& lookup, RSLTlink* element) {
    // Every node of the path may split, and the root with them.
    if (!reserveNodes(index, static_cast<uint32_t>(lookup.levels) + 1)) return;

    int level = lookup.levels - 1;
    uint32_t number = lookup.path[level];
    int position = lookup.at[level];
    TreeNode* leaf = &nodeOf(index, number);
    if (leaf->count < kNodeKeys) {
        placeInLeaf(*leaf, position, lookup.key, element);
        return;
    }
    const uint32_t rightNumber = newNode(index, true);
    TreeNode& right = nodeOf(index, rightNumber);
    const int keep = position == kNodeKeys ? kNodeKeys : kNodeKeys / 2;
    right.count = kNodeKeys - keep;
    std::memcpy(right.keys, &leaf->keys[keep], static_cast<size_t>(right.count) * sizeof(IdentityKey));
    std::memcpy(right.elements, &leaf->elements[keep], static_cast<size_t>(right.count) * sizeof(RSLTlink*));
    leaf->count = keep;
    if (position <= keep && position < kNodeKeys) {
        placeInLeaf(*leaf, position, lookup.key, element);
    } else {
        placeInLeaf(right, position - keep, lookup.key, element);
    }
    IdentityKey separator = right.keys[0];
    uint32_t child = rightNumber;

    // The new node's least key goes up into the parent, which may split too.
    for (--level; level >= 0; --level) {
        number = lookup.path[level];
        position = lookup.at[level];
        TreeNode* inner = &nodeOf(index, number);
        if (inner->count < kNodeKeys) {
            placeInInner(*inner, position, separator, child);
            return;
        }
        const uint32_t siblingNumber = newNode(index, false);
        TreeNode& sibling = nodeOf(index, siblingNumber);
        inner = &nodeOf(index, number);
        // Of the full node's keys and the one coming up, the middle one goes
        // further up; those after it go to the sibling with their children.
        IdentityKey keys[kNodeKeys + 1];
        uint32_t children[kNodeKeys + 2];
        std::memcpy(keys, inner->keys, static_cast<size_t>(position) * sizeof(IdentityKey));
        keys[position] = separator;
        std::memcpy(&keys[position + 1], &inner->keys[position],
                    static_cast<size_t>(kNodeKeys - position) * sizeof(IdentityKey));
        std::memcpy(children, inner->children, static_cast<size_t>(position + 1) * sizeof(uint32_t));
        children[position + 1] = child;
        std::memcpy(&children[position + 2], &inner->children[position + 1],
                    static_cast<size_t>(kNodeKeys - position) * sizeof(uint32_t));
        const int middle = position == kNodeKeys ? kNodeKeys : (kNodeKeys + 1) / 2;
        inner->count = middle;
        std::memcpy(inner->keys, keys, static_cast<size_t>(middle) * sizeof(IdentityKey));
        std::memcpy(inner->children, children, static_cast<size_t>(middle + 1) * sizeof(uint32_t));
        sibling.count = kNodeKeys - middle;
        std::memcpy(sibling.keys, &keys[middle + 1], static_cast<size_t>(sibling.count) * sizeof(IdentityKey));
        std::memcpy(sibling.children, &children[middle + 1], static_cast<size_t>(sibling.count + 1) * sizeof(uint32_t));
        separator = keys[middle];
        child = siblingNumber;
    }

    // The root split: a new root above the two halves.
    TreeHeader& header = headerOf(index);
    const uint32_t rootNumber = newNode(index, false);
    TreeNode& root = nodeOf(index, rootNumber);
    root.count = 1;
    root.keys[0] = separator;
    root.children[0] = header.root;
    root.children[1] = child;
    header.root = rootNumber;
    header.height += 1;
}

// Builds the index anew over every element of the results table. When its
// memory cannot be had the merge goes on with the linear walk, silently, and
// tries again once the table has doubled.
void rebuildIndex(DWSYWORK* work) {
    DWSysIdentityIndex& index = work->index;
    dropIndex(index);
    // Room for the identities in half-full leaves; the block grows with the
    // tree.
    const int64_t wanted = 2 * static_cast<int64_t>(index.identities) / kNodeKeys + 4;
    void* nodes = wanted > (INT32_MAX - static_cast<int64_t>(sizeof(TreeHeader))) /
                               static_cast<int64_t>(sizeof(TreeNode))
                      ? nullptr
                      : KQV_ALLOCATE(indexBytes(wanted));
    if (nodes == nullptr) {
        index.retryAt = 2 * index.identities;
        return;
    }
    index.nodes = nodes;
    index.capacity = static_cast<int32_t>(wanted);
    index.retryAt = 0;
    TreeHeader& header = headerOf(index);
    header = TreeHeader{0, 0, 0, 0};
    header.root = newNode(index, true);
    // Every element of the results table is in its list, each of another
    // identity.
    kqv::forEachElement(work->resultTable, [&](RSLTlink* element) {
        if (index.nodes == nullptr) return;
        insertInIndex(index, findInIndex(index, rowOf(element)), element);
    });
}

// The element with the record's identity, or null and where it would go.
Lookup findIdentity(DWSYWORK* work, const DWSysRecord& record) {
    if (work->index.nodes != nullptr) return findInIndex(work->index, record);
    Lookup lookup{};
    for (RSLTlink* link = kqv::nextInList(work->resultList, nullptr); link != nullptr;
         link = kqv::nextInList(work->resultList, link)) {
        if (sameIdentity(rowOf(link), record)) {
            lookup.element = link;
            break;
        }
    }
    return lookup;
}

// Records a new element of the results table in the index, where its lookup
// found its place, building the index once the table is large enough.
void indexNewElement(DWSYWORK* work, RSLTlink* element, const Lookup& lookup) {
    DWSysIdentityIndex& index = work->index;
    index.identities += 1;
    if (index.nodes == nullptr) {
        if (index.identities >= KQV_INDEX_THRESHOLD && index.identities >= index.retryAt) {
            rebuildIndex(work);
        }
        return;
    }
    insertInIndex(index, lookup, element);
}

}  // namespace

extern "C" void summarizeQVStatusData(DWSYWORK* work, const DWSysRecord* record) {
    KQV_TRACE_BEGIN(summarizeQVStatusData);
    KQV_TRACE(kTraceDetail, "New DW to be added\n");
    KQV_TRACE(kTraceDetail, "ORIGINNODE: \t\t\t%32.32s\n", record->ORIGINNODE);
    KQV_TRACE(kTraceDetail, "VARNEX: \t\t\t%8.8s\n", record->VARNNAME);
    KQV_TRACE(kTraceDetail, "RQMID:      \t\t\t%4.4s\n", record->RQMID);
    KQV_TRACE(kTraceDetail, "DW_NAME:    \t\t\t%4.4s\n", record->DW_NAME);
#if KQV_KEEP_HIGHEST_STATUS
    KQV_TRACE(kTraceDetail, "STATUS:     \t\t\t%d\n", record->STATUS);
#endif

    const Lookup lookup = findIdentity(work, *record);
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
    indexNewElement(work, reinterpret_cast<RSLTlink*>(element), lookup);
    KQV_TRACE(kTraceState, "Added new entry to results table.\n");
    KQV_RETURN_VOID();
}
