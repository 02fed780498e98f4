#include "query_run.h"

#include <cstdio>
#include <cstring>

#include "hub/ds/seams.h"

namespace reliability {

int32_t QueryRun::startStatus() const { return calls.empty() ? -1 : calls.front().status; }

std::vector<int32_t> QueryRun::processStatuses() const {
    std::vector<int32_t> statuses;
    for (const EntryCall& call : calls) {
        if (call.entry == Entry::Process) statuses.push_back(call.status);
    }
    return statuses;
}

int32_t QueryRun::terminateStatus() const { return calls.empty() ? -1 : calls.back().status; }

QueryRun runWholeQuery(const PRB1_VectorRecord& entries, hub::ds::Request& request,
                       const QueryOptions& options) {
    QueryRun run;
    const auto call = [&](Entry entry, PRB1_RequestEntry function) {
        const int32_t status = function(request.handle());
        run.calls.push_back(EntryCall{entry, status, hub::ds::lastCallIndex()});
        return status;
    };
    if (call(Entry::Start, entries.start.entry) != 0) {
        call(Entry::Process, entries.process.entry);
    } else {
        for (std::size_t n = 0; n < options.maxProcessCalls; ++n) {
            if (call(Entry::Process, entries.process.entry) != 0) break;
        }
    }
    if (options.beforeTermination) options.beforeTermination();
    call(Entry::Terminate, entries.terminate.entry);
    for (const hub::ds::ReceivedRow& row : request.rows()) run.rows.push_back(row.as<DWSysRecord>());
    return run;
}

DSRequestHandle currentHandle(const hub::ds::Request& request) {
    DSRequestHandle handle = request.handle();
    handle.checkNumber = static_cast<const DSObjectHeader*>(handle.object)->checkNumber;
    return handle;
}

bool sameBytes(const DWSysRecord& a, const DWSysRecord& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool sameIdentity(const DWSysRecord& a, const DWSysRecord& b) {
    return std::memcmp(a.DW_NAME, b.DW_NAME, sizeof a.DW_NAME) == 0 &&
           std::memcmp(a.VARNNAME, b.VARNNAME, sizeof a.VARNNAME) == 0;
}

std::string describe(const DWSysRecord& row) {
    std::string text = std::string(row.VARNNAME, sizeof row.VARNNAME) + "/" +
                       std::string(row.DW_NAME, sizeof row.DW_NAME) +
                       " STATUS=" + std::to_string(row.STATUS) + " [";
    const auto* bytes = reinterpret_cast<const unsigned char*>(&row);
    for (std::size_t i = 0; i < sizeof row; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
        text += hex;
    }
    return text + "]";
}

std::string describe(const std::vector<DWSysRecord>& rows) {
    std::string text;
    for (const DWSysRecord& row : rows) text += "\n  " + describe(row);
    return text.empty() ? " (none)" : text;
}

bool sameRows(const std::vector<DWSysRecord>& a, const std::vector<DWSysRecord>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!sameBytes(a[i], b[i])) return false;
    }
    return true;
}

}  // namespace reliability
