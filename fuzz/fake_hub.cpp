#include "fake_hub.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/ras1.h"
#include "platform/registration.h"
#include "provider/generated/jwbld00.h"

namespace fuzzing {

namespace {

enum ObjectType { kRequest, kStorage, kPath, kPlan, kSqlRequest, kOutput };

// Statuses of the fake, as the stand-in hub numbers them.
constexpr int32_t kNoMoreFilters = 1;
constexpr int32_t kUnknownItem = 4;
constexpr int32_t kBadArgument = 8;
constexpr int32_t kUnknownServer = 16;
constexpr int32_t kBadContext = 20;
constexpr int32_t kNotOpen = 40;
constexpr int32_t kEndOfData = 100;
constexpr int32_t kSqlContext = 0x44530101;

// The most columns a row describes.
constexpr int kOutputColumns = 16;

FakeHub* currentHub = nullptr;

[[noreturn]] void misuse(const char* what) {
    std::fprintf(stderr, "fake data server: %s\n", what);
    std::abort();
}

}  // namespace

struct FakeHub::Object {
    DSObjectHeader header;  // what callers read: check number at 4, class record at 8
    int type;
    Cursor* cursor;
    RequestState* owner;
    Object* output;  // of an SQL request
};

struct FakeHub::Cursor {
    ResultSet set;
    std::size_t next = 0;
    bool open = false;
    std::unique_ptr<char[]> input;
    std::unique_ptr<char[]> output;
    std::vector<std::unique_ptr<char[]>> values;  // the current row's values

    // The status of this statement's injected fault at `op`, or 0.
    int32_t fault(FaultOp op) const { return set.fault == op ? set.faultStatus : 0; }
};

struct FakeHub::RequestState {
    DSParameterList parameters{};
    DSHandle storageHandle{};
    std::string tableName = "KQVDWSYS";
    std::vector<std::unique_ptr<char[]>> filterValues;
    std::vector<std::unique_ptr<IndexFilter>> filters;
    std::size_t nextFilter = 0;
    std::vector<std::unique_ptr<char[]>> storage;
    std::vector<DWSysRecord> rows;
};

namespace {

using Object = FakeHub::Object;

DSHandle handleOf(Object* object) { return DSHandle{object->header.checkNumber, 0, object}; }

Object* expect(DSHandle handle, int type) {
    Object* object = FakeHub::current().live(handle);
    if (object->type != type) misuse("an operation was called on an object of another kind");
    return object;
}

// --- SQL objects ---------------------------------------------------------------

int32_t dropPath(DSHandle handle) {
    Object* path = expect(handle, kPath);
    if (const int32_t status = path->cursor->fault(FaultOp::DropPath)) return status;
    FakeHub::current().destroy(path);
    return 0;
}

int32_t createAccessPlan(DSHandle handle, const char* statement, DSHandle* plan) {
    Object* path = expect(handle, kPath);
    if (statement == nullptr || plan == nullptr) return kBadArgument;
    FakeHub::current().recordStatement(statement);
    FakeHub::current().answer(statement, *path->cursor);
    if (const int32_t status = path->cursor->fault(FaultOp::CreateAccessPlan)) return status;
    *plan = handleOf(FakeHub::current().make(kPlan, path->cursor, nullptr));
    return 0;
}

int32_t createRequest(DSHandle handle, DSHandle* request, void* reserved1, void* reserved2, void* reserved3,
                      void* reserved4, int32_t planCount, DSHandle* plans, DSHandle** outputs, void* reserved5) {
    Object* path = expect(handle, kPath);
    if (request == nullptr || reserved1 || reserved2 || reserved3 || reserved4 || reserved5 || planCount != 1 ||
        plans == nullptr || outputs == nullptr || *outputs == nullptr) {
        return kBadArgument;
    }
    Object* plan = expect(plans[0], kPlan);
    if (plan->cursor != path->cursor) misuse("CreateRequest with the plan of another path");
    if (const int32_t status = path->cursor->fault(FaultOp::CreateRequest)) return status;
    Object* created = FakeHub::current().make(kSqlRequest, path->cursor, nullptr);
    created->output = FakeHub::current().make(kOutput, path->cursor, nullptr);
    *request = handleOf(created);
    (*outputs)[0] = handleOf(created->output);
    return 0;
}

int32_t dropPlan(DSHandle handle) {
    Object* plan = expect(handle, kPlan);
    if (const int32_t status = plan->cursor->fault(FaultOp::DropPlan)) return status;
    FakeHub::current().destroy(plan);
    return 0;
}

int32_t dropRequest(DSHandle handle) {
    Object* request = expect(handle, kSqlRequest);
    if (const int32_t status = request->cursor->fault(FaultOp::DropRequest)) return status;
    FakeHub::current().destroy(request->output);
    FakeHub::current().destroy(request);
    return 0;
}

int32_t openRequest(DSHandle handle, SQLDA* input) {
    Object* request = expect(handle, kSqlRequest);
    FakeHub::Cursor& cursor = *request->cursor;
    if (input != nullptr && input != reinterpret_cast<SQLDA*>(cursor.input.get())) return kBadArgument;
    if (const int32_t status = cursor.fault(FaultOp::OpenRequest)) return status;
    cursor.open = true;
    cursor.next = 0;
    return 0;
}

int32_t closeRequest(DSHandle handle) {
    Object* request = expect(handle, kSqlRequest);
    if (const int32_t status = request->cursor->fault(FaultOp::CloseRequest)) return status;
    request->cursor->open = false;
    return 0;
}

int32_t getInputSqlda(DSHandle handle, SQLDA** sqlda) {
    Object* request = expect(handle, kSqlRequest);
    if (sqlda == nullptr) return kBadArgument;
    FakeHub::Cursor& cursor = *request->cursor;
    if (const int32_t status = cursor.fault(FaultOp::GetInputSQLDA)) return status;
    if (!cursor.input) {
        cursor.input = std::make_unique<char[]>(offsetof(SQLDA, column));
        std::memset(cursor.input.get(), 0, offsetof(SQLDA, column));
    }
    *sqlda = reinterpret_cast<SQLDA*>(cursor.input.get());
    return 0;
}

// The output SQLDA has room for the most columns that a row of the result
// set claims, up to kOutputColumns, and no more, as a data server may
// allocate it: a read past the columns of such a row is a read past the
// SQLDA.
std::size_t outputRoom(const ResultSet& set) {
    int16_t room = 0;
    for (const Row& row : set.rows) room = std::max(room, row.columnCount);
    return static_cast<std::size_t>(std::min<int>(room, kOutputColumns));
}

std::size_t outputSqldaSize(const ResultSet& set) {
    return offsetof(SQLDA, column) + outputRoom(set) * sizeof(SQLVAR);
}

int32_t getOutputSqlda(DSHandle handle, SQLDA** sqlda) {
    Object* output = expect(handle, kOutput);
    if (sqlda == nullptr) return kBadArgument;
    FakeHub::Cursor& cursor = *output->cursor;
    if (const int32_t status = cursor.fault(FaultOp::GetOutputSQLDA)) return status;
    if (!cursor.output) {
        const std::size_t size = outputSqldaSize(cursor.set);
        cursor.output = std::make_unique<char[]>(size);
        std::memset(cursor.output.get(), 0, size);
    }
    *sqlda = reinterpret_cast<SQLDA*>(cursor.output.get());
    return 0;
}

int32_t fetch(DSHandle handle, SQLDA* sqlda) {
    Object* output = expect(handle, kOutput);
    FakeHub::Cursor& cursor = *output->cursor;
    if (sqlda == nullptr || sqlda != reinterpret_cast<SQLDA*>(cursor.output.get())) return kBadArgument;
    if (!cursor.open) return kNotOpen;
    // The previous row's values are gone, as the data server reuses them.
    cursor.values.clear();
    if (cursor.next >= cursor.set.rows.size()) {
        const int32_t status = cursor.fault(FaultOp::Fetch);
        return status != 0 ? status : kEndOfData;
    }
    const Row& row = cursor.set.rows[cursor.next++];
    const std::size_t room = outputRoom(cursor.set);
    std::memset(reinterpret_cast<char*>(sqlda) + offsetof(SQLDA, column), 0, room * sizeof(SQLVAR));
    sqlda->columnCount = row.columnCount;
    const std::size_t described = std::min(row.columns.size(), room);
    for (std::size_t k = 0; k < described; ++k) {
        const Column& column = row.columns[k];
        SQLVAR* descriptor = sqldaColumn(sqlda, static_cast<int>(k));
        descriptor->dataLength = column.dataLength;
        if (!column.hasAddress) continue;
        const std::size_t claimed = column.dataLength > 0 ? static_cast<std::size_t>(column.dataLength) : 0;
        const std::size_t size = std::max(column.bytes.size(), claimed);
        auto value = std::make_unique<char[]>(size);
        std::fill_n(value.get(), size, 'Z');
        std::memcpy(value.get(), column.bytes.data(), column.bytes.size());
        descriptor->dataAddress = value.get();
        cursor.values.push_back(std::move(value));
    }
    return 0;
}

// --- Request and view storage --------------------------------------------------

int32_t getItem(DSHandle handle, int32_t item, void** out) {
    Object* request = expect(handle, kRequest);
    if (out == nullptr) return kBadArgument;
    FakeHub::RequestState& state = *request->owner;
    switch (item) {
        case ::ds::kItemParameterList:
            *out = &state.parameters;
            return 0;
        case ::ds::kItemIndexFilter:
            if (state.nextFilter < state.filters.size()) {
                *out = state.filters[state.nextFilter++].get();
                return 0;
            }
            state.nextFilter = 0;
            *out = nullptr;
            return kNoMoreFilters;
        default:
            return kUnknownItem;
    }
}

int32_t putItem(DSHandle handle, int32_t item, void* value) {
    Object* request = expect(handle, kRequest);
    FakeHub::RequestState& state = *request->owner;
    switch (item) {
        case ::ds::kItemWorkArea:
            state.parameters.workArea = value;
            return 0;
        case ::ds::kItemRow:
            if (value == nullptr) return kBadArgument;
            state.rows.push_back(*static_cast<const DWSysRecord*>(value));
            return 0;
        default:
            return kUnknownItem;
    }
}

int32_t getViewStorage(DSHandle handle, int32_t size, void** out) {
    Object* storage = expect(handle, kStorage);
    if (size <= 0 || out == nullptr) return kBadArgument;
    auto block = std::make_unique<char[]>(static_cast<std::size_t>(size));
    std::fill_n(block.get(), size, static_cast<char>(0xA5));
    *out = block.get();
    storage->owner->storage.push_back(std::move(block));
    return 0;
}

// --- Class records ---------------------------------------------------------------

void unsupportedOperation() { misuse("an empty slot of an operations table was called"); }

struct OperationTable {
    DSOperation slots[16];
};

OperationTable table(std::initializer_list<std::pair<int, DSOperation>> operations) {
    OperationTable result;
    std::fill(std::begin(result.slots), std::end(result.slots), ::ds::slot<void()>(&unsupportedOperation));
    for (const auto& [slot, operation] : operations) result.slots[slot] = operation;
    return result;
}

const DSClassRecord* classRecord(int type) {
    using namespace ::ds;
    static const OperationTable none = table({});
    static const OperationTable path =
        table({{kSlotPathDrop, slot<DropFn>(&dropPath)},
               {kSlotPathCreateRequest, slot<CreateRequestFn>(&createRequest)},
               {kSlotPathCreateAccessPlan, slot<CreateAccessPlanFn>(&createAccessPlan)}});
    static const OperationTable plan = table({{kSlotPlanDrop, slot<DropFn>(&dropPlan)}});
    static const OperationTable request = table({{kSlotRequestDrop, slot<DropFn>(&dropRequest)},
                                                 {kSlotOpenRequest, slot<OpenRequestFn>(&openRequest)},
                                                 {kSlotCloseRequest, slot<CloseRequestFn>(&closeRequest)},
                                                 {kSlotGetInputSQLDA, slot<GetSQLDAFn>(&getInputSqlda)}});
    static const OperationTable output = table({{kSlotFetch, slot<FetchFn>(&fetch)},
                                                {kSlotGetOutputSQLDA, slot<GetSQLDAFn>(&getOutputSqlda)}});
    static const OperationTable requestCommon = table({{kSlotGetItem, slot<GetItemFn>(&getItem)},
                                                       {kSlotPutItem, slot<PutItemFn>(&putItem)}});
    static const OperationTable storageCommon = table({{kSlotGetViewStorage, slot<GetViewStorageFn>(&getViewStorage)}});
    static const DSClassRecord records[] = {
        {nullptr, none.slots, nullptr, requestCommon.slots}, {nullptr, none.slots, nullptr, storageCommon.slots},
        {nullptr, path.slots, nullptr, none.slots},          {nullptr, plan.slots, nullptr, none.slots},
        {nullptr, request.slots, nullptr, none.slots},       {nullptr, output.slots, nullptr, none.slots},
    };
    return &records[type];
}

}  // namespace

ResultSet readResultSet(ByteReader& in) {
    ResultSet set;
    set.fault = static_cast<FaultOp>(in.u8() % static_cast<uint8_t>(FaultOp::Count));
    set.faultStatus = in.i16();
    if (set.faultStatus == 0) set.faultStatus = 1;  // a failing call never reports success
    const std::size_t rows = in.u8();
    for (std::size_t r = 0; r < rows && !in.exhausted(); ++r) {
        Row row;
        row.columnCount = in.i16();
        const std::size_t described = in.u8() % (kOutputColumns + 1);
        for (std::size_t k = 0; k < described; ++k) {
            Column column;
            column.dataLength = in.i16();
            column.hasAddress = (in.u8() & 1) != 0;
            if (column.hasAddress) column.bytes = in.counted();
            row.columns.push_back(std::move(column));
        }
        set.rows.push_back(std::move(row));
    }
    return set;
}

FakeHub::FakeHub(std::function<ResultSet()> next) : next_(std::move(next)) {
    if (currentHub != nullptr) misuse("two fake data servers at once");
    currentHub = this;
}

FakeHub::~FakeHub() {
    for (Object* object : objects_) delete object;
    currentHub = nullptr;
}

FakeHub& FakeHub::current() {
    if (currentHub == nullptr) misuse("no fake data server");
    return *currentHub;
}

FakeHub::Object* FakeHub::live(DSHandle handle) {
    const auto found = std::find(objects_.begin(), objects_.end(), static_cast<Object*>(handle.object));
    if (found == objects_.end()) misuse("an operation was called on an object that is not alive");
    return *found;
}

void FakeHub::destroy(Object* object) {
    const auto found = std::find(objects_.begin(), objects_.end(), object);
    if (found == objects_.end()) misuse("an object was destroyed twice");
    objects_.erase(found);
    delete object;
}

FakeHub::Object* FakeHub::make(int type, Cursor* cursor, RequestState* owner) {
    if (++lastCheckNumber_ == 0) ++lastCheckNumber_;
    auto* object = new Object{{0, lastCheckNumber_, 0, classRecord(type)}, type, cursor, owner, nullptr};
    objects_.push_back(object);
    return object;
}

void FakeHub::answer(const char* statement, Cursor& cursor) {
    if (answerer_) cursor.set.rows = answerer_(statement);
}

FakeHub::Cursor* FakeHub::adopt(std::unique_ptr<Cursor> cursor) {
    cursors_.push_back(std::move(cursor));
    return cursors_.back().get();
}

DSRequestHandle FakeHub::newRequest(const std::vector<FilterSeed>& filters) {
    auto state = std::make_unique<RequestState>();
    for (const FilterSeed& seed : filters) {
        auto filter = std::make_unique<IndexFilter>();
        std::memset(filter.get(), 0, sizeof *filter);
        filter->op = seed.op;
        filter->valueLength = seed.valueLength;
        std::memcpy(filter->columnName, seed.column.data(), std::min<std::size_t>(seed.column.size(), 10));
        filter->columnName[10] = '\0';
        if (seed.hasValue) {
            // Exactly as long as the value, and at least as long as its length says.
            const std::size_t size = std::max<std::size_t>(
                seed.value.size(), seed.valueLength > 0 ? static_cast<std::size_t>(seed.valueLength) : 0);
            auto value = std::make_unique<char[]>(size);
            std::fill_n(value.get(), size, 'V');
            std::memcpy(value.get(), seed.value.data(), seed.value.size());
            filter->value = value.get();
            state->filterValues.push_back(std::move(value));
        }
        state->filters.push_back(std::move(filter));
    }
    state->parameters.tableName = state->tableName.c_str();
    Object* storage = make(kStorage, nullptr, state.get());
    state->storageHandle = handleOf(storage);
    state->parameters.viewStorage = &state->storageHandle;
    Object* request = make(kRequest, nullptr, state.get());
    requests_.push_back(std::move(state));
    return handleOf(request);
}

const std::vector<DWSysRecord>& FakeHub::rowsReceived() const {
    static const std::vector<DWSysRecord> none;
    return requests_.empty() ? none : requests_.back()->rows;
}

}  // namespace fuzzing

// --- The entries the provider links against -------------------------------------

extern "C" {

int32_t sql1cpli(void) { return fuzzing::kSqlContext; }

int32_t sql1cpth(const char* serverName, int32_t context, DSHandle* path) {
    using fuzzing::FakeHub;
    if (serverName == nullptr || std::strcmp(serverName, "SRVR01") != 0) return fuzzing::kUnknownServer;
    if (context != fuzzing::kSqlContext) return fuzzing::kBadContext;
    if (path == nullptr) return fuzzing::kBadArgument;
    FakeHub& hub = FakeHub::current();
    auto cursor = std::make_unique<FakeHub::Cursor>();
    cursor->set = hub.nextResultSet();
    FakeHub::Cursor* adopted = hub.adopt(std::move(cursor));
    if (const int32_t status = adopted->fault(fuzzing::FaultOp::CreatePath)) return status;
    *path = fuzzing::handleOf(hub.make(fuzzing::kPath, adopted, nullptr));
    return 0;
}

int32_t RAS1_Sync(TraceEntryBlock* entry) {
    entry->cachedFlags.store(kTraceAll, std::memory_order_relaxed);
    entry->cachedSync.store(entry->unitSync->load(std::memory_order_relaxed), std::memory_order_relaxed);
    return kTraceAll;
}

void RAS1_Event(TraceEntryBlock*, int32_t, int32_t kind, ...) {
    if (kind != kTraceEventExit) return;
    va_list arguments;
    va_start(arguments, kind);
    (void)va_arg(arguments, int32_t);
    va_end(arguments);
}

void RAS1_Printf(TraceEntryBlock*, int32_t, const char* format, ...) {
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
}

int32_t kglcnmnt(CNT1_ContentsRecord*, int32_t) { return 0; }
int32_t kglcnt1h(void) { return 0; }

const char* const info_strings[] = {"fuzz build", nullptr};
const char* const comment_strings[] = {nullptr};
const JwbldValues values_list = {1, 0, info_strings, comment_strings};
void jwbld00(const JwbldValues** values) { *values = &values_list; }

}  // extern "C"
