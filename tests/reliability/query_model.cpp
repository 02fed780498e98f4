#include "query_model.h"

#include <algorithm>
#include <deque>
#include <string_view>

#include "hub/ds/status.h"
#include "reliability_support.h"

namespace reliability {

namespace {

using hub::ds::ObjectKind;
using hub::ds::Op;

ExpectedLine provider(std::string function, std::string text) {
    return {"kqvdwsys", std::move(function), std::move(text)};
}
ExpectedLine sqlLayer(std::string function, std::string text) {
    return {"kqvmsql", std::move(function), std::move(text)};
}
ExpectedLine utility(std::string function, std::string text) {
    return {"kqvmutl", std::move(function), std::move(text)};
}

const std::string kParameterListMissing = "Data server parameter list not found.\n";
const std::string kWorkAreaMissing = "Unable to locate pWorkA work area.\n";

std::size_t lostFrom(const std::map<std::string, std::size_t>& positions, const std::string& key) {
    const auto found = positions.find(key);
    return found == positions.end() ? kNever : found->second;
}
std::size_t lostFrom(const std::map<std::size_t, std::size_t>& positions, std::size_t key) {
    const auto found = positions.find(key);
    return found == positions.end() ? kNever : found->second;
}

}  // namespace

std::vector<std::size_t> QueryShape::membersOf(const std::string& origin) const {
    // The collection walks the real node list newest first, so the node list
    // delivered them in the reverse of the visiting order.
    std::vector<std::size_t> members;
    for (std::size_t i = realNodes.size(); i-- > 0;) {
        if (realNodes[i].origin == origin) members.push_back(i);
    }
    return members;
}

Gathering simulateGathering(const QueryShape& shape, const GatheringFault& fault) {
    Gathering gathering;
    const auto tableLine = [&](const char* text) {
        gathering.status = kNoTable;
        gathering.lines.push_back(utility("RSLTinit", "KQVUTL07E RSLT TABLE ALLOCATION FAILED"));
        gathering.lines.push_back(provider("qvdwsypr", text));
        return gathering;
    };
    if (fault.tableNotCreated && fault.table == ResultTable::OriginNodes) {
        return tableLine("Unable to allocate Storage for LIKE Node result\n");
    }
    if (fault.tableNotCreated && fault.table == ResultTable::RealNodes) {
        return tableLine("Unable to allocate Storage for AtNode result\n");
    }

    // Origin nodes kept, in fetch order.
    std::vector<std::string> kept;
    std::size_t attempt = 0;
    for (std::size_t i = 0; i < shape.origins.size() && i + 1 < fault.originsLostFrom; ++i) {
        if (!shape.origins[i].kept) continue;
        if (++attempt == fault.originElementLost) continue;
        kept.push_back(shape.origins[i].name);
    }
    if (fault.originQueryFails || kept.empty()) {
        gathering.status = kNoMoreRows;
        gathering.lines.push_back(provider("qvdwsypr", "buildOrigList returned no data\n"));
        return gathering;
    }

    // Real nodes stored, origin nodes newest first.
    std::vector<std::size_t> stored;
    attempt = 0;
    for (auto origin = kept.rbegin(); origin != kept.rend(); ++origin) {
        const std::vector<std::size_t> members = shape.membersOf(*origin);
        const std::size_t limit = lostFrom(fault.nodeListLostFrom, *origin);
        for (std::size_t j = 0; j < members.size() && j + 1 < limit; ++j) {
            if (++attempt == fault.realNodeElementLost) continue;
            stored.push_back(members[j]);
        }
    }
    if (fault.nodeListQueryFails) {
        gathering.status = kNoMoreRows;
        gathering.lines.push_back(provider("qvdwsypr", "buildNodeList returned no data\n"));
        return gathering;
    }

    if (fault.tableNotCreated && fault.table == ResultTable::Results) {
        gathering.status = kNoTable;
        gathering.lines.push_back(utility("RSLTinit", "KQVUTL07E RSLT TABLE ALLOCATION FAILED"));
        gathering.lines.push_back(provider("qvdwsypr", "Unable to allocate Storage for Group result\n"));
        return gathering;
    }

    // Rows merged in visiting order; each new one goes to the front, and a
    // duplicate keeps the row merged first.
    std::deque<DWSysRecord> results;
    attempt = 0;
    for (auto node = stored.rbegin(); node != stored.rend(); ++node) {
        const std::vector<DWSysRecord>& rows = shape.realNodes[*node].rows;
        const std::size_t limit = lostFrom(fault.routedLostFrom, *node);
        for (std::size_t k = 0; k < rows.size() && k + 1 < limit; ++k) {
            const bool merged = std::any_of(results.begin(), results.end(), [&](const DWSysRecord& row) {
                return sameIdentity(row, rows[k]);
            });
            if (merged) continue;
            if (++attempt == fault.resultElementLost) continue;
            results.push_front(rows[k]);
        }
    }
    gathering.rows.assign(results.begin(), results.end());
    return gathering;
}

EntryOutcome simulateEntries(const Gathering& gathering, const RequestFault& fault,
                             std::size_t maxProcessCalls) {
    EntryOutcome outcome;
    std::size_t calls = 0;
    bool requestSpoiled = false;
    bool storageSpoiled = false;
    // Whether the next call of the request interface does its work.
    const auto works = [&](bool onStorage) {
        ++calls;
        bool& spoiled = onStorage ? storageSpoiled : requestSpoiled;
        if (spoiled) return false;
        if (calls != fault.call) return true;
        if (fault.spoiled) spoiled = true;
        return false;
    };

    bool registered = false;
    if (!works(false)) {
        outcome.start = kNoParameterList;
        outcome.lines.push_back(provider("qvdwsysr", kParameterListMissing));
    } else if (!works(true)) {
        outcome.start = kNoViewStorage;
    } else {
        registered = works(false);
        outcome.start = 0;
    }

    bool gathered = false;
    int32_t rowsReturned = 0;
    std::size_t cursor = 0;
    const auto process = [&]() -> int32_t {
        if (!works(false)) {
            outcome.lines.push_back(provider("qvdwsypr", kParameterListMissing));
            return kNoParameterList;
        }
        if (!registered) {
            outcome.lines.push_back(provider("qvdwsypr", kWorkAreaMissing));
            return kNoWorkArea;
        }
        if (rowsReturned == 0) {
            works(false);  // the index filters: none, whether the call works or not
            gathered = true;
            cursor = 0;
            outcome.lines.insert(outcome.lines.end(), gathering.lines.begin(), gathering.lines.end());
            if (gathering.status != 0) return gathering.status;
        }
        if (cursor < gathering.rows.size()) {
            ++rowsReturned;
            if (works(false)) outcome.rows.push_back(gathering.rows[cursor]);
            ++cursor;
            return 0;
        }
        rowsReturned = 0;
        return kNoMoreRows;
    };
    if (outcome.start != 0) {
        outcome.processing.push_back(process());
    } else {
        for (std::size_t n = 0; n < maxProcessCalls; ++n) {
            outcome.processing.push_back(process());
            if (outcome.processing.back() != 0) break;
        }
    }

    if (!works(false)) {
        outcome.termination = kNoParameterList;
        outcome.lines.push_back(provider("qvdwsyts", kParameterListMissing));
        outcome.tablesLeftByTermination = gathered;
    } else if (!registered) {
        outcome.termination = kNoWorkArea;
        outcome.lines.push_back(provider("qvdwsyts", kWorkAreaMissing));
    } else {
        outcome.termination = 0;
    }
    return outcome;
}

SqlLayerEffect sqlLayerEffect(Op op, FaultKind kind, int32_t status) {
    SqlLayerEffect effect;
    const std::string s = std::to_string(status);
    const bool spoiled = kind == FaultKind::SpoiledCheck;
    switch (op) {
        case Op::Sql1cpli:
            // Its value is the context that sql1cpth expects back.
            effect.prepare = hub::ds::status::kBadContext;
            effect.lines.push_back(sqlLayer("kqvsqlp", "Create Path failed with " +
                                                           std::to_string(effect.prepare) + "\n"));
            break;
        case Op::Sql1cpth:
            effect.prepare = status;
            effect.lines.push_back(sqlLayer("kqvsqlp", "Create Path failed with " + s + "\n"));
            break;
        case Op::CreateAccessPlan:
            effect.prepare = status;
            effect.lines.push_back(sqlLayer("kqvsqlp", "Create Access Plan failed with " + s + "\n"));
            // The release drops the path through the spoiled handle: refused.
            if (spoiled) effect.leftovers[ObjectKind::Path] = 1;
            break;
        case Op::CreateRequest:
            effect.prepare = status;
            effect.lines.push_back(sqlLayer("kqvsqlp", "Create Request failed with " + s + ".\n"));
            if (spoiled) effect.leftovers[ObjectKind::Path] = 1;
            break;
        case Op::GetInputSQLDA:
            effect.prepare = kSqlLayerFailure;
            effect.lines.push_back(sqlLayer("kqvsqlp", " GetInputSQLDA failed with " + s + "\n"));
            if (spoiled) effect.leftovers = {{ObjectKind::SqlRequest, 1}, {ObjectKind::Output, 1}};
            break;
        case Op::OpenRequest:
            effect.open = kSqlLayerFailure;
            effect.lines.push_back(sqlLayer("kqvsqli", " OpenRequest returned with " + s + "\n"));
            break;
        case Op::GetOutputSQLDA:
            effect.open = kSqlLayerFailure;
            effect.lines.push_back(
                sqlLayer("kqvsqli", " GetOutputSQLDA request returned with " + s + "\n"));
            break;
        case Op::Fetch:
            effect.endsFetching = true;
            effect.lines.push_back(sqlLayer("kqvsqlf", "Fetch return status(" + s + ")\n"));
            break;
        case Op::CloseRequest:
            effect.close = kSqlLayerFailure;
            effect.lines.push_back(sqlLayer("kqvsqlc", " CloseRequest returned with " + s + "\n"));
            break;
        case Op::DropRequest:
            effect.drop = status;
            effect.lines.push_back(sqlLayer("kqvsqld", "Drop reqHdl failed with " + s + "\n"));
            effect.leftovers = {{ObjectKind::SqlRequest, 1}, {ObjectKind::Output, 1}};
            break;
        case Op::DropPlan:
            effect.drop = status;
            effect.lines.push_back(sqlLayer("kqvsqld", "Drop planHdl failed with " + s + "\n"));
            effect.leftovers[ObjectKind::AccessPlan] = 1;
            break;
        case Op::DropPath:
            effect.drop = status;
            effect.lines.push_back(sqlLayer("kqvsqld", "Drop pathHdl failed with " + s + "\n"));
            effect.leftovers[ObjectKind::Path] = 1;
            break;
        default:
            break;
    }
    // A spoiled request stays spoiled: its drop is refused too.
    if (spoiled && (op == Op::OpenRequest || op == Op::CloseRequest)) {
        effect.drop = ::ds::kStatusCheckFailed;
        effect.lines.push_back(sqlLayer("kqvsqld", "Drop reqHdl failed with " +
                                                       std::to_string(effect.drop) + "\n"));
        effect.leftovers = {{ObjectKind::SqlRequest, 1}, {ObjectKind::Output, 1}};
    }
    return effect;
}

bool isFailureLine(const std::string& text) {
    static const std::vector<std::string_view> markers{
        "failed with", "returned with", "incorrectly called", "KQVUTL", "Unexpected format",
        "Unable to", "not found", "Count of colums", "returned no data", "Fetch return status("};
    return std::any_of(markers.begin(), markers.end(),
                       [&](std::string_view marker) { return text.find(marker) != std::string::npos; });
}

}  // namespace reliability
