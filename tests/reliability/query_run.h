// A whole query driven through a provider's entry vector as the data server
// drives it, what came back, and small helpers on rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hub/ds/request.h"
#include "platform/registration.h"
#include "provider/kqvdwsys.h"

namespace reliability {

inline constexpr int32_t kNoTable = 3;
inline constexpr int32_t kNoParameterList = 60;
inline constexpr int32_t kNoMoreRows = 62;
inline constexpr int32_t kNoViewStorage = 64;
inline constexpr int32_t kSqlLayerFailure = 64;
inline constexpr int32_t kNoWorkArea = 71;

enum class Entry { Start, Process, Terminate };

struct EntryCall {
    Entry entry;
    int32_t status;
    uint64_t lastDataServerCall;  // hub::ds::lastCallIndex() when the entry returned
};

struct QueryRun {
    std::vector<EntryCall> calls;
    std::vector<DWSysRecord> rows;  // as PutItem item 2 received them

    int32_t startStatus() const;
    std::vector<int32_t> processStatuses() const;
    int32_t terminateStatus() const;
};

struct QueryOptions {
    std::size_t maxProcessCalls = 1000;
    // Runs between the last processing call and termination.
    std::function<void()> beforeTermination;
};

// Start; processing until a call returns anything but 0 (a single call after
// a failed start, to see what the request's later calls get); termination.
QueryRun runWholeQuery(const PRB1_VectorRecord& entries, hub::ds::Request& request,
                       const QueryOptions& options = {});

// The request's handle with the check number that its object holds now: how
// the data server names a request whose handle a test has spoiled.
DSRequestHandle currentHandle(const hub::ds::Request& request);

bool sameBytes(const DWSysRecord& a, const DWSysRecord& b);
bool sameIdentity(const DWSysRecord& a, const DWSysRecord& b);
// DW_NAME/VARNNAME, STATUS and the whole record in hex, for failure messages.
std::string describe(const DWSysRecord& row);
std::string describe(const std::vector<DWSysRecord>& rows);
bool sameRows(const std::vector<DWSysRecord>& a, const std::vector<DWSysRecord>& b);

}  // namespace reliability
