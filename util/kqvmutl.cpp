// Result tables, and the origin node and real node lists built from the hub's
// catalog.
#include "util/kqvmutl.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sql/kqvmsql.h"
#include "trace/kqvtrace.h"
#include "util/kqvheap.h"
#include "util/kqvtext.h"

KQV_TRACE_UNIT("kqvmutl.cpp", kqv::kUnitAttributesLibrary)

#if KQV_TEST_SEAMS
extern "C" {
__attribute__((visibility("default"))) void* (*kqvHeapAllocate)(size_t) = &malloc;
__attribute__((visibility("default"))) void (*kqvHeapRelease)(void*) = &free;
}
#endif

// Failure messages are formatted first and written as one line.
#define KQV_TRACE_MESSAGE(traceClass, ...)                                                      \
    do {                                                                                        \
        if (kqvTrace.on(traceClass)) {                                                          \
            char message_[160];                                                                 \
            std::snprintf(message_, sizeof message_, __VA_ARGS__);                              \
            RAS1_Printf(kqvTrace.entry(), __LINE__, "%s", message_);                            \
        }                                                                                       \
    } while (0)

namespace {

const char kRsltEyeCatcher[] = "KQVRSLT ";
const char kPathName[] = "JW/DS:{SERVER=SRVR01}";

// The block's chain word.
void*& nextBlock(void* block) { return *static_cast<void**>(block); }

// The value of column `n` of the current row, cut to `capacity` bytes. A
// missing column, a negative length or a missing address is an empty value.
size_t fetchedValue(const SQLDA* sqlda, int n, size_t capacity, const char** value) {
    *value = nullptr;
    if (sqlda == nullptr || n >= sqlda->columnCount) return 0;
    const SQLVAR* column = sqldaColumn(sqlda, n);
    if (column->dataLength <= 0 || column->dataAddress == nullptr) return 0;
    *value = column->dataAddress;
    const auto length = static_cast<size_t>(column->dataLength);
    return length < capacity ? length : capacity;
}

}  // namespace

// ---------------------------------------------------------------------------
// Result tables

extern "C" int32_t RSLTinit(RSLTanchor** anchor, int32_t elementSize, int32_t primarySize) {
    KQV_TRACE_BEGIN(RSLTinit);
    auto* table = static_cast<RSLTanchor*>(KQV_ALLOCATE(sizeof(RSLTanchor)));
    if (table == nullptr) {
        KQV_TRACE_MESSAGE(kTraceError, "KQVUTL07E RSLT TABLE ALLOCATION FAILED");
        KQV_RETURN(kqv::kRsltNoAnchor);
    }
    std::memcpy(table->EyeCatcher, kRsltEyeCatcher, sizeof table->EyeCatcher);
    table->ElementSize = elementSize;
    table->PrimarySize = primarySize;
    table->FirstBlock = nullptr;
    table->LastBlock = nullptr;
    table->FreeElements = 0;
    table->TotalElements = 0;
    table->TotalBlocks = 0;
    table->BlockSize = elementSize * primarySize + static_cast<int32_t>(sizeof(void*));

    KQV_TRACE(kTraceDetail, "Init RSLT Tableat " KQV_ADDR_x "\n", KQV_ADDR(table));
    KQV_TRACE(kTraceDetail, "ElementSize %d\n", table->ElementSize);
    KQV_TRACE(kTraceDetail, "PrimarySize %d\n", table->PrimarySize);
    KQV_TRACE(kTraceDetail, "  BlockSize %d\n", table->BlockSize);

    RSLTlink* sentinel = kqv::listSentinel(&table->ElementList);
    table->ElementList.First = sentinel;
    table->ElementList.Last = sentinel;
    table->ElementList.End = sentinel;

    *anchor = table;
    KQV_RETURN(0);
}

extern "C" int32_t RSLTget(RSLTanchor* table, void** element) {
    KQV_TRACE_BEGIN(RSLTget);
    if (table->FreeElements < 1) {
        KQV_TRACE(kTraceDetail, "RSLT Table block alloc of %d bytes\n", table->BlockSize);
        void* block = table->BlockSize > 0 ? KQV_ALLOCATE(static_cast<size_t>(table->BlockSize))
                                           : nullptr;
        table->TotalBlocks += 1;
        if (block == nullptr) {
            KQV_TRACE_MESSAGE(kTraceError, "KQVUTL08E RSLT BLOCK ALLOCATION FAILED");
            KQV_RETURN(kqv::kRsltNoBlock);
        }
        if (table->FirstBlock == nullptr) table->FirstBlock = block;
        if (table->LastBlock != nullptr) nextBlock(table->LastBlock) = block;
        table->LastBlock = block;
        nextBlock(block) = nullptr;
        table->FreeElements = table->PrimarySize;
    }

    const int32_t index = table->PrimarySize - table->FreeElements;
    char* slot = static_cast<char*>(table->LastBlock) + sizeof(void*) +
                 static_cast<size_t>(index) * static_cast<size_t>(table->ElementSize);
    table->TotalElements += 1;
    KQV_TRACE(kTraceDetail, "RSLT Element %d at " KQV_ADDR_x " in block " KQV_ADDR_x "\n",
              index + 1, KQV_ADDR(slot), KQV_ADDR(table->LastBlock));
    table->FreeElements -= 1;
    *element = slot;
    KQV_RETURN(0);
}

extern "C" int32_t RSLTdestroy(RSLTanchor** anchor) {
    KQV_TRACE_BEGIN(RSLTdestroy);
    RSLTanchor* table = anchor == nullptr ? nullptr : *anchor;
    if (table == nullptr) {
        KQV_TRACE_ALWAYS("KQVUTL09E RSLT DESTROY FAILED VERIFY");
        KQV_RETURN(kqv::kRsltNotAnAnchor);
    }
    KQV_TRACE(kTraceDetail, "RSLT anchor at " KQV_ADDR_x "\n", KQV_ADDR(table));
    KQV_TRACE(kTraceDetail, "     Total Elements: %d\n", table->TotalElements);
    KQV_TRACE(kTraceDetail, "     Total Blocks:   %d\n", table->TotalBlocks);
    KQV_TRACE(kTraceDetail, "     Block Size:     %d\n", table->BlockSize);

    if (std::memcmp(table->EyeCatcher, kRsltEyeCatcher, sizeof table->EyeCatcher) != 0) {
        KQV_TRACE_ALWAYS("KQVUTL09E RSLT DESTROY FAILED VERIFY");
        KQV_RETURN(kqv::kRsltNotAnAnchor);
    }

    while (table->FirstBlock != nullptr) {
        void* block = table->FirstBlock;
        KQV_TRACE(kTraceDetail, "RSLT Freeing block at " KQV_ADDR_x " for %d bytes\n",
                  KQV_ADDR(block), table->BlockSize);
        table->FirstBlock = nextBlock(block);
        KQV_RELEASE(block);
    }
    *anchor = nullptr;
    KQV_TRACE(kTraceDetail, "Freeing RSLT block at " KQV_ADDR_x "\n", KQV_ADDR(table));
    KQV_RELEASE(table);
    KQV_TRACE(kTraceDetail, "RSLTDestroy done...\n");
    KQV_RETURN(0);
}

// ---------------------------------------------------------------------------
// Catalog queries

namespace {

// Runs one catalog query: prepare, open, fetch each row into `onRow`, close
// and drop, writing the KQVUTL line of every step that fails. `afterFetch`
// learns how many rows were fetched, before the close. Returns false when
// the prepare, the open or the close failed.
template <typename OnRow, typename AfterFetch>
bool runCatalogQuery(SQLRequestHandle& request, const kqv::TraceCall& kqvTrace, OnRow onRow,
                     AfterFetch afterFetch) {
    int32_t status = kqvsqlp(&request);
    if (status != 0) {
        KQV_TRACE_MESSAGE(kTraceError, "KQVUTL04E UNABLE TO CREATE SELECT REQUEST PATH - STATUS=%d",
                          status);
        return false;
    }
    bool succeeded = true;
    status = kqvsqli(&request);
    if (status != 0) {
        succeeded = false;
        KQV_TRACE_MESSAGE(kTraceError, "KQVUTL02E UNABLE TO OPEN REQUEST - STATUS=%d", status);
    } else {
        int32_t rows = 0;
        while (kqvsqlf(&request) == 0) {
            ++rows;
            onRow(request.outputSqlda);
        }
        afterFetch(rows);
        status = kqvsqlc(&request);
        if (status != 0) {
            succeeded = false;
            KQV_TRACE_MESSAGE(kTraceError, "KQVUTL01E UNABLE TO CLOSE REQUEST - STATUS=%d", status);
        }
    }
    status = kqvsqld(&request);
    if (status != 0) {
        KQV_TRACE_MESSAGE(kTraceError, "KQVUTL03E UNABLE TO DROP REQUEST - STATUS=%d", status);
    }
    return succeeded;
}

}  // namespace

// ---------------------------------------------------------------------------
// Origin node list

namespace {

const char kAgentPrefix[] = "ZAVRIN:";

// The parts of an origin node name, blank-padded.
struct NodeNameParts {
    char varnex[8];
    char systemId[8];
    char type[12];
};

// Copies at most `limit` characters of [begin, end) to the start of `part`.
void takePart(char* part, const char* begin, const char* end, size_t limit) {
    const auto length = static_cast<size_t>(end - begin);
    std::memcpy(part, begin, length < limit ? length : limit);
}

// Splits an origin node name. Returns 0 when it has one of the two accepted
// shapes, else the number of the rejection (1 to 3).
int splitNodeName(const char* name, NodeNameParts* parts) {
    std::memset(parts, ' ', sizeof *parts);
    const char* colon = std::strchr(name, ':');
    if (colon == nullptr) return 1;
    takePart(parts->varnex, name, colon, sizeof parts->varnex);

    const char* separator = colon;
    if (std::memcmp(parts->varnex, "ZAVRIN", 6) == 0) {
        std::memset(parts->varnex, ' ', sizeof parts->varnex);
        const char* dot = std::strchr(colon + 1, '.');
        if (dot == nullptr) return 2;
        takePart(parts->varnex, colon + 1, dot, sizeof parts->varnex);
        separator = dot;
    }

    const char* typeColon = std::strchr(separator + 1, ':');
    if (typeColon == nullptr) return 3;
    takePart(parts->systemId, separator + 1, typeColon, 4);
    const char* type = typeColon + 1;
    takePart(parts->type, type, type + std::strlen(type), sizeof parts->type);
    return 0;
}

bool keepOriginNode(int32_t keepMode, const char* name, const NodeNameParts& parts) {
    switch (keepMode) {
        case 0:
        case 8:
            return true;
        case 1:
            return std::memcmp(name, kAgentPrefix, 7) == 0;
        case 2:
            return std::memcmp(parts.type, "BKT", 3) == 0;
        case 4:
            return std::memcmp(parts.type, "GMR", 3) == 0;
        default:
            return false;
    }
}

// Appends the catalog query for origin nodes to `statement`.
void buildOriginNodeStatement(kqv::TextBuilder& statement, const QVDWSYAPI* api,
                              const kqv::TraceCall& kqvTrace) {
    static const char kAffinities[] = "0000000000002000000000000000000000000000000";
    statement.append(
        "SELECT NODE, AFFINITIES FROM Y6SRV.INODESTS WHERE NODETYPE = 'V' AND Y6ONLINE = 'Y'");
    statement.append(" AND AFFINITIES LIKE '");
    statement.append(kAffinities, 32);
    statement.append("*");
    statement.append("'");
    statement.append(" AND NODE LIKE '");
    if (api->NodeFilterSet == 0) {
        statement.append("*'");
    } else {
        char filter[sizeof api->NodeFilter + 1];
        kqv::terminatedCopy(filter, api->NodeFilter, sizeof api->NodeFilter);
        KQV_TRACE(kTraceDetail, "NODE=\\%s\\\n", filter);
        size_t length = 0;
        while (length < 9 && filter[length] != '\0' && filter[length] != ' ') ++length;
        statement.appendQuoted(filter, length);
        statement.append("*'");
    }
    statement.append(";");
}

// Handles one fetched row of the origin node query. Returns true when the
// row was stored as an origin node element.
bool storeOriginNode(QVDWSYAPI* api, int32_t keepMode, const SQLDA* row,
                     const kqv::TraceCall& kqvTrace) {
    char name[33] = {};
    char affinities[45] = {};
    const char* value;
    size_t length = fetchedValue(row, 0, 32, &value);
    if (length > 0) std::memcpy(name, value, length);
    length = fetchedValue(row, 1, 44, &value);
    if (length > 0) std::memcpy(affinities, value, length);
    KQV_TRACE(kTraceDetail, "Fetched origin node is: %s\n", name);
    KQV_TRACE(kTraceDetail, "Fetched AFFINITIES is: %s\n", affinities);

    NodeNameParts parts;
    switch (splitNodeName(name, &parts)) {
        case 1:
            KQV_TRACE(kTraceError, "Unexpected format of ORIGINNODE (1): %s\n", name);
            return false;
        case 2:
            KQV_TRACE(kTraceError, "Unexpected format of ORIGINNODE (2): %s\n", name);
            return false;
        case 3:
            KQV_TRACE(kTraceError, "Unexpected format of ORIGINNODE (3): %s\n", name);
            return false;
        default:
            break;
    }

    if (!keepOriginNode(keepMode, name, parts)) {
        KQV_TRACE(kTraceDetail, "Ignoring Origin Node %s\n", name);
        return false;
    }
    KQV_TRACE(kTraceDetail, "Keeping Origin Node %s\n", name);

    void* slot;
    if (RSLTget(api->InodeTable, &slot) != 0) {
        KQV_TRACE_MESSAGE(kTraceError, "KQVUTL00E UNABLE TO OBTAIN ORIGINNODE RESULT LIST");
        return false;
    }
    auto* element = static_cast<InodeElement*>(slot);
    std::memcpy(element->OriginNode, name, sizeof element->OriginNode);
    element->GetRealNode = 1;
    std::memcpy(element->OriginVARN, parts.varnex, sizeof element->OriginVARN);
    std::memcpy(element->OriginRQM, parts.systemId, sizeof element->OriginRQM);
    std::memcpy(element->OriginType, parts.type, sizeof element->OriginType);
    std::memcpy(element->Affinities, affinities, sizeof element->Affinities);
    kqv::linkAtFront(api->InodeList, reinterpret_cast<RSLTlink*>(element));

    KQV_TRACE(kTraceDetail, "Inode Anchor  at " KQV_ADDR_x "\n", KQV_ADDR(api->InodeList->First));
    KQV_TRACE(kTraceDetail, "Inode Element at " KQV_ADDR_x "\n", KQV_ADDR(element));
    KQV_TRACE(kTraceDetail, "Inode OriginNode=%.32s\n", element->OriginNode);
    KQV_TRACE(kTraceDetail, "Inode Affinities=%.44s\n", element->Affinities);
    KQV_TRACE(kTraceDetail, "Inode OriginVARN=%.8s\n", element->OriginVARN);
    KQV_TRACE(kTraceDetail, "Inode OriginRQM=%.8s\n", element->OriginRQM);
    KQV_TRACE(kTraceDetail, "Inode OriginType=%.3s\n", element->OriginType);
    if (element->GetRealNode == 1) {
        KQV_TRACE(kTraceDetail, "Inode GetRealNode= True\n");
    } else {
        KQV_TRACE(kTraceDetail, "Inode GetRealNode= False\n");
    }
    return true;
}

}  // namespace

extern "C" int32_t buildOrigList(QVDWSYAPI* api, int32_t keepMode) {
    KQV_TRACE_BEGIN(buildOrigList);
    int32_t stored = 0;

    char pathName[sizeof kPathName];
    std::memcpy(pathName, kPathName, sizeof kPathName);
    char sqlText[200];
    kqv::TextBuilder statement(sqlText, sizeof sqlText);
    buildOriginNodeStatement(statement, api, kqvTrace);
    KQV_TRACE(kTraceDetail, "NodeSTS SQL= %s\n", sqlText);

    SQLRequestHandle request{};
    request.pathName = pathName;
    request.sqlText = sqlText;
    const bool ran = runCatalogQuery(
        request, kqvTrace,
        [&](const SQLDA* row) {
            if (storeOriginNode(api, keepMode, row, kqvTrace)) ++stored;
        },
        [](int32_t) {});
    KQV_RETURN(ran && stored > 0 ? 1 : 0);
}

// ---------------------------------------------------------------------------
// Real node list

namespace {

bool carriesVarnex(const InodeElement* origin) {
    return std::memcmp(origin->OriginType, "BKT", 3) == 0 ||
           std::memcmp(origin->OriginType, "GMR", 3) == 0 ||
           std::memcmp(origin->OriginType, "vRK", 3) == 0;
}

// A real node of this name and varnex already in the list.
const RealNodeElement* findRealNode(RSLTlist* list, const char* name, size_t length,
                                    const char* varnex) {
    for (RSLTlink* link = kqv::nextInList(list, nullptr); link != nullptr;
         link = kqv::nextInList(list, link)) {
        const auto* node = reinterpret_cast<const RealNodeElement*>(link);
        if (std::memcmp(node->RealNode, name, length) == 0 &&
            std::memcmp(node->RealNodeVarnex, varnex, 8) == 0) {
            return node;
        }
    }
    return nullptr;
}

// The origin node whose real nodes are being listed.
struct OriginOfRealNodes {
    char name[33];       // OriginNode and a NUL
    char varnex[9];      // 8 characters and a NUL
    char agentVersion[2];
};

void storeRealNode(QVDWSYAPI* api, int32_t skipDuplicateCheck, const OriginOfRealNodes& origin,
                   const SQLDA* row, const kqv::TraceCall& kqvTrace) {
    const char* value;
    const size_t length = fetchedValue(row, 0, 32, &value);

    if (skipDuplicateCheck == 0) {
        const RealNodeElement* duplicate =
            findRealNode(api->RealNodeList, length > 0 ? value : "", length, origin.varnex);
        if (duplicate != nullptr) {
            KQV_TRACE(kTraceDetail, "Duplicate node %32.32s found\n", duplicate->RealNode);
            return;
        }
    }

    void* slot;
    if (RSLTget(api->RealNodeTable, &slot) != 0) {
        KQV_TRACE_MESSAGE(kTraceError, "KQVUTL05E UNABLE TO OBTAIN REALNODE RESULT LIST");
        return;
    }
    auto* element = static_cast<RealNodeElement*>(slot);
    std::memset(element->RealNode, 0, sizeof element->RealNode);
    if (length > 0) std::memcpy(element->RealNode, value, length);
    std::memcpy(element->RealNodeVarnex, origin.varnex, sizeof element->RealNodeVarnex);
    std::memcpy(element->RealNodeOrigNode, origin.name, sizeof element->RealNodeOrigNode);
    std::memcpy(element->RealNodeAgtVer, origin.agentVersion, sizeof element->RealNodeAgtVer);
    kqv::linkAtFront(api->RealNodeList, reinterpret_cast<RSLTlink*>(element));

    KQV_TRACE(kTraceDetail, "RealNode Anchor  at " KQV_ADDR_x "\n",
              KQV_ADDR(api->RealNodeList->First));
    KQV_TRACE(kTraceDetail, "RealNode Element at " KQV_ADDR_x "\n", KQV_ADDR(element));
    KQV_TRACE(kTraceDetail, "RealNode=%.32s\n", element->RealNode);
    KQV_TRACE(kTraceDetail, "RealNodeVarnex=%.8s\n", element->RealNodeVarnex);
    KQV_TRACE(kTraceDetail, "RealNodeOrigNode=%.32s\n", element->RealNodeOrigNode);
    KQV_TRACE(kTraceDetail, "RealNodeAgtVer=%.2s\n", element->RealNodeAgtVer);
}

}  // namespace

extern "C" int32_t buildNodeList(QVDWSYAPI* api, int32_t skipDuplicateCheck) {
    KQV_TRACE_BEGIN(buildNodeList);
    int32_t result = 1;
    KQV_TRACE(kTraceDetail, "Rnode:Inode Anchor  at " KQV_ADDR_x "\n",
              KQV_ADDR(api->InodeList->First));

    char pathName[sizeof kPathName];
    std::memcpy(pathName, kPathName, sizeof kPathName);

    while ((api->InodeCursor = kqv::nextInList(api->InodeList, api->InodeCursor)) != nullptr) {
        const auto* originNode = reinterpret_cast<const InodeElement*>(api->InodeCursor);
        if (originNode->GetRealNode == 0) continue;

        OriginOfRealNodes origin;
        kqv::terminatedCopy(origin.name, originNode->OriginNode, sizeof originNode->OriginNode);
        std::memcpy(origin.agentVersion, originNode->Affinities + 32, 2);

        char sqlText[200];
        kqv::TextBuilder statement(sqlText, sizeof sqlText);
        statement.append(
            "SELECT NODE FROM Y6SRV.TNODELST WHERE NODETYPE = 'V' AND NODELIST = '");
        statement.appendQuoted(originNode->OriginNode,
                               kqv::boundedLength(originNode->OriginNode, sizeof originNode->OriginNode));
        statement.append("'");
        statement.append(";");
        KQV_TRACE(kTraceDetail, "Getting Real Node for ORIGINNODE=%s\n", origin.name);
        KQV_TRACE(kTraceDetail, "NodeSTS SQL= %s\n", sqlText);

        if (carriesVarnex(originNode)) {
            kqv::terminatedCopy(origin.varnex, originNode->OriginVARN, 8);
        } else {
            kqv::terminatedCopy(origin.varnex, "        ", 8);
        }
        KQV_TRACE(kTraceDetail, "OriginNode=%s VarnexName=%s\n", origin.name, origin.varnex);

        SQLRequestHandle request{};
        request.pathName = pathName;
        request.sqlText = sqlText;
        if (!runCatalogQuery(
                request, kqvTrace,
                [&](const SQLDA* row) {
                    storeRealNode(api, skipDuplicateCheck, origin, row, kqvTrace);
                },
                [&](int32_t rows) {
                    if (rows > 0) return;
                    char message[160];
                    std::snprintf(message, sizeof message,
                                  "KQVUTL06E ERROR IN NODE LIST TABLE - NODE %s NOT FOUND",
                                  origin.name);
                    KQV_TRACE_ALWAYS("%s", message);
                })) {
            result = 0;
        }
    }
    KQV_RETURN(result);
}
