// What tests see of the data server and how they break it: the call log, the
// live objects, injected failures and spoiled check numbers. All of it is
// process-wide and thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dshandle.h"

namespace hub::ds {

enum class Op {
    GetItem,
    PutItem,
    GetViewStorage,
    Sql1cpli,
    Sql1cpth,
    CreateAccessPlan,
    CreateRequest,
    DropPath,
    DropPlan,
    DropRequest,
    OpenRequest,
    CloseRequest,
    GetInputSQLDA,
    GetOutputSQLDA,
    Fetch,
};
std::string_view opName(Op op);

enum class ObjectKind { Request, ViewStorage, Path, AccessPlan, SqlRequest, Output };
std::string_view kindName(ObjectKind kind);

// One call that reached the data server. Calls are numbered from 1 after
// reset(), whether recording or not.
struct CallRecord {
    uint64_t index;
    Op op;
    int32_t item;      // GetItem/PutItem item code, else 0
    uint64_t target;   // serial of the object called, 0 for the two entries
    int32_t status;
    std::string text;  // CreateAccessPlan: the statement; sql1cpth: the server name
    uint64_t created;  // serial of the object the call created (for CreateRequest
                       // the request; its output is created + 1), else 0
};

void startRecording();
void stopRecording();
std::vector<CallRecord> recordedCalls();
// Index of the latest call so far (0 before any).
uint64_t lastCallIndex();

// The n-th call of `op` from now on (counted from 1; with `item`, only calls
// with that item code count) returns `status` and does nothing else: no
// handle is written, nothing is created or changed.
void failNthCall(Op op, uint64_t n, int32_t status, std::optional<int32_t> item = std::nullopt);
// The call numbered `index` does the same.
void failCallAt(uint64_t index, int32_t status);

// Changes the object's stored check number so that every handle to it fails
// its check. False if the handle names no live object.
bool spoil(DSHandle handle);
// Spoils object `serial` right after call `index` has completed.
void spoilAfterCall(uint64_t index, uint64_t serial);
enum class CallObject { Target, Created };
// Spoils the object that call `index` is made on, or the one it creates,
// right after it has completed.
void spoilAfterCall(uint64_t index, CallObject which);

std::size_t liveObjects();
std::size_t liveObjects(ObjectKind kind);
struct LiveObject {
    uint64_t serial;
    ObjectKind kind;
    bool operator==(const LiveObject&) const = default;
};
// In creation order; prints as "path #12".
std::vector<LiveObject> listLiveObjects();
std::ostream& operator<<(std::ostream& out, const LiveObject& object);
// Serial of the live object the handle points at (check number not
// compared); 0 if none.
uint64_t serialOf(DSHandle handle);
// Frees every path, access plan, SQL request and output still alive: what a
// provider failed to drop. Returns how many there were.
std::size_t releaseLeftovers();

// Recording off and cleared, faults and pending spoils dropped, call numbers
// back to 0, leftovers released. Objects owned by a live Request stay.
void reset();

}  // namespace hub::ds
