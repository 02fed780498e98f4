"""The fixed list of mutants of the deliverable's code that scripts/mutate
applies one at a time.

Each mutant replaces one exact piece of text of one file (the piece must
occur exactly once) with another: a changed comparison, constant or length,
a skipped call or assignment, a swapped order. A mutant whose text no longer
matches the file is reported as "stale" rather than run, so that a change of
the code shows up here instead of silently shrinking the list.
"""

from typing import NamedTuple


class Mutant(NamedTuple):
    name: str
    path: str
    find: str
    replace: str


SQL = "sql/kqvmsql.cpp"
UTIL = "util/kqvmutl.cpp"
PROVIDER = "provider/kqvdwsys.cpp"
PROVIDER_HEADER = "provider/kqvdwsys.h"
TRACE = "trace/kqvtrace.h"
TEXT = "util/kqvtext.h"

MUTANTS = [
    # --- The SQL request layer -------------------------------------------
    Mutant("sql-server-name", SQL, 'kServerName[] = "SRVR01"', 'kServerName[] = "SRVR1"'),
    Mutant("sql-prepare-keeps-path-flag", SQL,
           "    request->pathOpen = 0;\n    request->requestOpen = 0;\n    KQV_TRACE(kTraceInput",
           "    request->requestOpen = 0;\n    KQV_TRACE(kTraceInput"),
    Mutant("sql-prepare-trace-class", SQL,
           'KQV_TRACE(kTraceInput, "Creating path', 'KQV_TRACE(kTraceDetail, "Creating path'),
    Mutant("sql-plan-failure-keeps-path", SQL,
           '        KQV_TRACE(kTraceError, "Create Access Plan failed with %d\\n", status);\n'
           "        dropObject(request->pathHdl, ds::kSlotPathDrop);\n",
           '        KQV_TRACE(kTraceError, "Create Access Plan failed with %d\\n", status);\n'),
    Mutant("sql-request-failure-drop-order", SQL,
           '        KQV_TRACE(kTraceError, "Create Request failed with %d.\\n", status);\n'
           "        dropObject(request->planHdl, ds::kSlotPlanDrop);\n"
           "        dropObject(request->pathHdl, ds::kSlotPathDrop);\n",
           '        KQV_TRACE(kTraceError, "Create Request failed with %d.\\n", status);\n'
           "        dropObject(request->pathHdl, ds::kSlotPathDrop);\n"
           "        dropObject(request->planHdl, ds::kSlotPlanDrop);\n"),
    Mutant("sql-input-sqlda-failure-status", SQL,
           "        dropObject(request->pathHdl, ds::kSlotPathDrop);\n        KQV_RETURN(kqv::kSqlLayerFailure);",
           "        dropObject(request->pathHdl, ds::kSlotPathDrop);\n        KQV_RETURN(status);"),
    Mutant("sql-input-sqlda-failure-keeps-request", SQL,
           '        KQV_TRACE(kTraceError, " GetInputSQLDA failed with %d\\n", status);\n'
           "        dropObject(request->reqHdl, ds::kSlotRequestDrop);\n",
           '        KQV_TRACE(kTraceError, " GetInputSQLDA failed with %d\\n", status);\n'),
    Mutant("sql-plan-count", SQL, "request->planCount = 1;", "request->planCount = 2;"),
    Mutant("sql-success-line-class", SQL,
           'KQV_TRACE(kTraceDetail, "Create Request successful\\n");',
           'KQV_TRACE(kTraceState, "Create Request successful\\n");'),
    Mutant("sql-prepare-leaves-path-closed", SQL,
           "    request->pathOpen = 1;\n    KQV_RETURN(0);", "    KQV_RETURN(0);"),
    Mutant("sql-open-status-mapped", SQL,
           '        KQV_TRACE(kTraceError, "OpenRequest failed with %d\\n", status);\n        KQV_RETURN(status);',
           '        KQV_TRACE(kTraceError, "OpenRequest failed with %d\\n", status);\n'
           "        KQV_RETURN(kqv::kSqlLayerFailure);"),
    Mutant("sql-open-describe-status-passed", SQL,
           '        KQV_TRACE(kTraceError, " OpenRequest returned with %d\\n", status);\n'
           "        KQV_RETURN(kqv::kSqlLayerFailure);",
           '        KQV_TRACE(kTraceError, " OpenRequest returned with %d\\n", status);\n        KQV_RETURN(status);'),
    Mutant("sql-open-describe-not-marked-open", SQL,
           "    request->requestOpen = 1;\n\n    status = ds::call<ds::GetSQLDAFn>(request->outputHdl",
           "\n    status = ds::call<ds::GetSQLDAFn>(request->outputHdl"),
    Mutant("sql-output-sqlda-from-request", SQL,
           "ds::call<ds::GetSQLDAFn>(request->outputHdl", "ds::call<ds::GetSQLDAFn>(request->reqHdl"),
    Mutant("sql-fetch-trace-only-rows", SQL,
           'KQV_TRACE(kTraceDetail, "Fetch return status(%d)\\n", status);',
           'if (status == 0) KQV_TRACE(kTraceDetail, "Fetch return status(%d)\\n", status);'),
    Mutant("sql-close-when-not-open", SQL,
           "if (request->requestOpen != 1) KQV_RETURN(0);", "if (request->requestOpen == 0) KQV_RETURN(0);"),
    Mutant("sql-close-keeps-open-flag", SQL,
           "    request->requestOpen = 0;\n    const int32_t status =\n", "    const int32_t status =\n"),
    Mutant("sql-close-status-passed", SQL,
           '        KQV_TRACE(kTraceError, " CloseRequest returned with %d\\n", status);\n'
           "        KQV_RETURN(kqv::kSqlLayerFailure);",
           '        KQV_TRACE(kTraceError, " CloseRequest returned with %d\\n", status);\n        KQV_RETURN(status);'),
    Mutant("sql-drop-with-closed-path", SQL,
           "    if (request->pathOpen == 0) {\n", "    if (request->pathOpen == 2) {\n"),
    Mutant("sql-drop-later-status-wins", SQL,
           '        KQV_TRACE(kTraceError, "Drop planHdl failed with %d\\n", status);\n'
           "        if (result == 0) result = status;",
           '        KQV_TRACE(kTraceError, "Drop planHdl failed with %d\\n", status);\n        result = status;'),
    Mutant("sql-drop-skips-plan", SQL,
           "    int32_t status = dropObject(request->planHdl, ds::kSlotPlanDrop);",
           "    int32_t status = 0;"),
    Mutant("sql-drop-stops-after-request-failure", SQL,
           "    int32_t status = dropObject(request->planHdl, ds::kSlotPlanDrop);",
           "    if (result != 0) KQV_RETURN(result);\n    int32_t status = dropObject(request->planHdl, ds::kSlotPlanDrop);"),

    # --- Result tables ---------------------------------------------------
    Mutant("rslt-block-size-without-chain-word", UTIL,
           "table->BlockSize = elementSize * primarySize + static_cast<int32_t>(sizeof(void*));",
           "table->BlockSize = elementSize * primarySize;"),
    Mutant("rslt-init-failure-status", UTIL,
           "        KQV_RETURN(kqv::kRsltNoAnchor);", "        KQV_RETURN(kqv::kRsltNoBlock);"),
    Mutant("rslt-init-line-order", UTIL,
           '    KQV_TRACE(kTraceDetail, "ElementSize %d\\n", table->ElementSize);\n'
           '    KQV_TRACE(kTraceDetail, "PrimarySize %d\\n", table->PrimarySize);\n',
           '    KQV_TRACE(kTraceDetail, "PrimarySize %d\\n", table->PrimarySize);\n'
           '    KQV_TRACE(kTraceDetail, "ElementSize %d\\n", table->ElementSize);\n'),
    Mutant("rslt-new-block-threshold", UTIL, "if (table->FreeElements < 1) {", "if (table->FreeElements < 0) {"),
    Mutant("rslt-failed-block-not-counted", UTIL,
           "        table->TotalBlocks += 1;\n        if (block == nullptr) {",
           "        if (block == nullptr) {"),
    Mutant("rslt-block-not-chained", UTIL,
           "        if (table->LastBlock != nullptr) nextBlock(table->LastBlock) = block;\n", ""),
    Mutant("rslt-element-number", UTIL, "              index + 1, KQV_ADDR(slot)", "              index, KQV_ADDR(slot)"),
    Mutant("rslt-elements-not-counted", UTIL, "    table->TotalElements += 1;\n", ""),
    Mutant("rslt-destroy-verify-inverted", UTIL,
           "if (std::memcmp(table->EyeCatcher, kRsltEyeCatcher, sizeof table->EyeCatcher) != 0) {",
           "if (std::memcmp(table->EyeCatcher, kRsltEyeCatcher, sizeof table->EyeCatcher - 1) != 0) {"),
    Mutant("rslt-destroy-keeps-pointer", UTIL, "    *anchor = nullptr;\n", ""),
    Mutant("rslt-destroy-verify-line-gated", UTIL,
           "        KQV_TRACE_ALWAYS(\"KQVUTL09E RSLT DESTROY FAILED VERIFY\");\n        KQV_RETURN(kqv::kRsltNotAnAnchor);\n    }\n\n    while",
           "        KQV_TRACE(kTraceError, \"KQVUTL09E RSLT DESTROY FAILED VERIFY\");\n"
           "        KQV_RETURN(kqv::kRsltNotAnAnchor);\n    }\n\n    while"),

    # --- Catalog queries and node lists ----------------------------------
    Mutant("catalog-open-failure-succeeds", UTIL,
           "    if (status != 0) {\n        succeeded = false;\n        KQV_TRACE_MESSAGE(kTraceError, \"KQVUTL02E",
           "    if (status != 0) {\n        KQV_TRACE_MESSAGE(kTraceError, \"KQVUTL02E"),
    Mutant("catalog-close-failure-succeeds", UTIL,
           "            succeeded = false;\n            KQV_TRACE_MESSAGE(kTraceError, \"KQVUTL01E",
           "            KQV_TRACE_MESSAGE(kTraceError, \"KQVUTL01E"),
    Mutant("catalog-no-close", UTIL, "        status = kqvsqlc(&request);\n", "        status = 0;\n"),
    Mutant("catalog-row-count-before-fetch-ends", UTIL, "        afterFetch(rows);\n", "        afterFetch(1);\n"),
    Mutant("origin-split-agent-prefix", UTIL,
           'if (std::memcmp(parts->varnex, "ZAVRIN", 6) == 0) {', 'if (std::memcmp(parts->varnex, "ZAVRIN", 5) == 0) {'),
    Mutant("origin-split-system-width", UTIL,
           "takePart(parts->systemId, separator + 1, typeColon, 4);",
           "takePart(parts->systemId, separator + 1, typeColon, 8);"),
    Mutant("origin-split-varnex-width", UTIL,
           "takePart(parts->varnex, colon + 1, dot, sizeof parts->varnex);",
           "takePart(parts->varnex, colon + 1, dot, 7);"),
    Mutant("origin-keep-agent-prefix-length", UTIL,
           "return std::memcmp(name, kAgentPrefix, 7) == 0;", "return std::memcmp(name, kAgentPrefix, 6) == 0;"),
    Mutant("origin-keep-mode-2", UTIL, 'return std::memcmp(parts.type, "BKT", 3) == 0;',
           'return std::memcmp(parts.type, "GMR", 3) == 0;'),
    Mutant("origin-keep-mode-8", UTIL, "        case 0:\n        case 8:\n", "        case 0:\n"),
    Mutant("origin-affinity-pattern-length", UTIL, "statement.append(kAffinities, 32);",
           "statement.append(kAffinities, 33);"),
    Mutant("origin-node-like-spacing", UTIL, 'statement.append(" AND NODE LIKE \'");',
           'statement.append(" AND NODE LIKE  \'");'),
    Mutant("origin-node-filter-width", UTIL,
           "while (length < 9 && filter[length] != '\\0'", "while (length < 8 && filter[length] != '\\0'"),
    Mutant("origin-name-cut", UTIL, "    size_t length = fetchedValue(row, 0, 32, &value);",
           "    size_t length = fetchedValue(row, 0, 31, &value);"),
    Mutant("origin-get-real-node", UTIL, "    element->GetRealNode = 1;\n", "    element->GetRealNode = 0;\n"),
    Mutant("origin-not-linked", UTIL,
           "    kqv::linkAtFront(api->InodeList, reinterpret_cast<RSLTlink*>(element));\n", ""),
    Mutant("origin-result-without-nodes", UTIL,
           "KQV_RETURN(ran && stored > 0 ? 1 : 0);", "KQV_RETURN(ran ? 1 : 0);"),
    Mutant("fetched-value-column-count", UTIL,
           "if (sqlda == nullptr || n >= sqlda->columnCount) return 0;",
           "if (sqlda == nullptr || n > sqlda->columnCount) return 0;"),
    Mutant("realnode-agent-version-position", UTIL, "originNode->Affinities + 32, 2);",
           "originNode->Affinities + 31, 2);"),
    Mutant("realnode-varnex-type-vrk", UTIL, 'std::memcmp(origin->OriginType, "vRK", 3) == 0;',
           'std::memcmp(origin->OriginType, "vRK ", 4) == 0;'),
    Mutant("realnode-not-found-line", UTIL, "                    if (rows > 0) return;",
           "                    if (rows >= 0) return;"),
    Mutant("realnode-failure-ignored", UTIL, "                })) {\n            result = 0;\n        }",
           "                })) {\n        }"),
    Mutant("realnode-not-linked", UTIL,
           "    kqv::linkAtFront(api->RealNodeList, reinterpret_cast<RSLTlink*>(element));\n", ""),
    Mutant("realnode-duplicate-varnex-width", UTIL,
           "std::memcmp(node->RealNodeVarnex, varnex, 8) == 0) {", "std::memcmp(node->RealNodeVarnex, varnex, 7) == 0) {"),
    Mutant("text-quote-not-doubled", TEXT, "            if (text[i] == '\\'') put('\\'');\n", ""),

    # --- Registration and the request entries -----------------------------
    Mutant("vector-version-word", PROVIDER, "{23, KQV_PROVIDER_VERSION_NUMBER, 0},", "{23, 131, 0},"),
    Mutant("entry-list-reserved-word", PROVIDER, '{{"KQVDWSYS", 0, &PRB1_Vector}}', '{{"KQVDWSYS", 1, &PRB1_Vector}}'),
    Mutant("version-text", PROVIDER, '*version = KQV_PROVIDER_VERSION_TEXT;', '*version = "V131";'),
    Mutant("start-status-without-parameters", PROVIDER,
           "    if (parameters == nullptr) KQV_RETURN(kqv::kNoParameterList);\n    KQV_TRACE(kTraceInput",
           "    if (parameters == nullptr) KQV_RETURN(kqv::kNoWorkArea);\n    KQV_TRACE(kTraceInput"),
    Mutant("start-input-line-class", PROVIDER, 'KQV_TRACE(kTraceInput, "Invoked for table', 'KQV_TRACE(kTraceDetail, "Invoked for table'),
    Mutant("start-storage-not-cleared", PROVIDER, "    std::memset(work, 0, sizeof *work);\n", ""),
    Mutant("start-work-area-not-registered", PROVIDER,
           "    ds::call<ds::PutItemFn>(request, ds::Table::Common, ds::kSlotPutItem, ds::kItemWorkArea,\n"
           "                            storage);\n", ""),
    Mutant("end-destroys-nothing", PROVIDER, "    destroyTables(work);\n    KQV_RETURN(0);", "    KQV_RETURN(0);"),
    Mutant("end-destroy-order", PROVIDER,
           "    if (work->resultTable != nullptr) RSLTdestroy(&work->resultTable);\n"
           "    if (work->realNodeTable != nullptr) RSLTdestroy(&work->realNodeTable);\n",
           "    if (work->realNodeTable != nullptr) RSLTdestroy(&work->realNodeTable);\n"
           "    if (work->resultTable != nullptr) RSLTdestroy(&work->resultTable);\n"),
    Mutant("filter-any-operator", PROVIDER, "    if (filter->op != ds::kOperatorEqual) return;\n", ""),
    Mutant("filter-idname-width", PROVIDER, "copyFilterValue(work->idnameFilter, filter, 8);",
           "copyFilterValue(work->idnameFilter, filter, 9);"),
    Mutant("filter-originnode-not-blanked", PROVIDER,
           "        work->originnodeSet = 1;\n        std::memset(work->originnodeFilter, ' ', 32);\n",
           "        work->originnodeSet = 1;\n"),
    Mutant("filter-idname-derived-always", PROVIDER,
           "if (work->originnodeSet != 0 && work->idnameSet == 0) deriveIdname(work);",
           "if (work->originnodeSet != 0) deriveIdname(work);"),
    Mutant("filter-idname-colon-range", PROVIDER, "std::memchr(work->idnameFilter, ':', 8)",
           "std::memchr(work->idnameFilter, ':', 7)"),
    Mutant("process-origin-table-not-recorded", PROVIDER, "        work->originNodeTable = api.InodeTable;\n", ""),
    Mutant("process-keep-mode", PROVIDER, "buildOrigList(&api, 1) == 0", "buildOrigList(&api, 0) == 0"),
    Mutant("process-duplicate-check", PROVIDER, "buildNodeList(&api, 1) == 0", "buildNodeList(&api, 0) == 0"),
    Mutant("process-results-block", PROVIDER,
           "static_cast<int32_t>(sizeof(DWSysResultElement)), 10);", "static_cast<int32_t>(sizeof(DWSysResultElement)), 11);"),
    Mutant("process-rows-not-counted", PROVIDER, "        work->rowsReturned += 1;\n", ""),
    Mutant("process-pass-not-ended", PROVIDER,
           "        status = kqv::kNoMoreRows;\n        work->rowsReturned = 0;\n",
           "        status = kqv::kNoMoreRows;\n"),

    # --- Collection and summarisation ------------------------------------
    Mutant("statement-real-node-first-character", PROVIDER, "    size_t nameLength = 1;\n", "    size_t nameLength = 0;\n"),
    Mutant("statement-where-spacing", PROVIDER, 'statement.append(" WHERE ORIGINNODE =\'");',
           'statement.append(" WHERE ORIGINNODE = \'");'),
    Mutant("statement-origin-keeps-trailing-blanks", PROVIDER,
           "while (originLength > 0 && (node->RealNodeOrigNode[originLength - 1] == ' ' ||",
           "while (originLength > 0 && (node->RealNodeOrigNode[originLength - 1] == '\\t' ||"),
    Mutant("collect-column-cut", PROVIDER,
           "        std::memcpy(bytes + kColumnFields[k].offset, column->dataAddress, width);",
           "        std::memcpy(bytes + kColumnFields[k].offset, column->dataAddress, width - 1);"),
    Mutant("collect-derived-origin-ends-at-zero-only", PROVIDER,
           "    while (end < sizeof record->ORIGINNODE && record->ORIGINNODE[end] != ' ' &&",
           "    while (end < sizeof record->ORIGINNODE &&"),
    Mutant("collect-filter-key-width", PROVIDER,
           "std::memcpy(key, work->originnodeFilter, prefix < sizeof key ? prefix : sizeof key);",
           "std::memcpy(key, work->originnodeFilter, prefix < sizeof key ? prefix : sizeof key - 1);"),
    Mutant("collect-column-count", PROVIDER, "if (sqlda->columnCount == kRecordColumns) {",
           "if (sqlda->columnCount >= kRecordColumns) {"),
    Mutant("collect-open-failure-counted-nowhere", PROVIDER,
           "                result = 0;\n                KQV_TRACE(kTraceError, \"Unable to open request",
           "                KQV_TRACE(kTraceError, \"Unable to open request"),
    Mutant("collect-no-close", PROVIDER, "                status = kqvsqlc(&request);\n", "                status = 0;\n"),
    Mutant("collect-drop-unprepared", PROVIDER, "        if (prepared) {\n            status = kqvsqld",
           "        if (true) {\n            status = kqvsqld"),
    Mutant("merge-identity-width", PROVIDER_HEADER,
           "return std::memcmp(a.DW_NAME, b.DW_NAME, sizeof a.DW_NAME) == 0 &&",
           "return std::memcmp(a.DW_NAME, b.DW_NAME, 4) == 0 &&"),
    Mutant("merge-status-rule", PROVIDER, "if (element->row.STATUS < record->STATUS) {",
           "if (element->row.STATUS <= record->STATUS) {"),
    Mutant("merge-duplicate-line-class", PROVIDER,
           'KQV_TRACE(kTraceState, "Duplicate DW Systems record found.\\n");',
           'KQV_TRACE(kTraceDetail, "Duplicate DW Systems record found.\\n");'),
    Mutant("merge-dw-name-trace-width", PROVIDER, '"DW_NAME:    \\t\\t\\t%4.4s\\n"', '"DW_NAME:    \\t\\t\\t%8.8s\\n"'),

    # --- Tracing ---------------------------------------------------------
    Mutant("trace-entry-on-detail", TRACE, "entered_ = (flags_ & kTraceFlow) != 0;", "entered_ = (flags_ & kTraceDetail) != 0;"),
    Mutant("trace-exit-always", TRACE,
           "        if (entered_) RAS1_Event(&entry_, line, kTraceEventExit, value);",
           "        RAS1_Event(&entry_, line, kTraceEventExit, value);"),
    Mutant("trace-never-resyncs", TRACE,
           "entry.cachedSync.load(std::memory_order_relaxed) == sync",
           "entry.cachedSync.load(std::memory_order_relaxed) != 0"),
    Mutant("trace-unit-level", TRACE, '"level110", 8,', '"level111", 8,'),
    Mutant("trace-class-ignored", TRACE,
           "        if (kqvTrace.on(traceClass)) RAS1_Printf(", "        if (traceClass != 0) RAS1_Printf("),
]
