// The request interface: request and view storage objects, and the Request
// that owns them for the host program or a test.
#include "hub/ds/request.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "dispatch.h"
#include "hub/ds/scenario.h"

namespace hub::ds {

struct Request::State {
    std::string tableName;
    std::vector<std::unique_ptr<char[]>> filterValues;
    std::vector<IndexFilter> filters;
    std::size_t nextFilter = 0;
    DSParameterList parameters{};
    DSHandle requestHandle{};
    DSHandle viewStorageHandle{};
    uint64_t requestSerial = 0;
    uint64_t viewStorageSerial = 0;
    std::size_t rowWidth = 0;
    bool keepRows = true;
    ReceivedRows rows;
    uint64_t rowsHandedBack = 0;
    const void* lastRow = nullptr;
    std::vector<std::pair<std::unique_ptr<unsigned char[]>, std::size_t>> storage;
    std::mutex mutex;  // the lock of both objects' operations
};

namespace {

class RequestObject final : public Object {
  public:
    static constexpr ObjectKind kKind = ObjectKind::Request;
    static constexpr bool kOwnedByCaller = true;  // by the Request
    RequestObject(const DSClassRecord* classRecord, Request::State& state) : Object(kKind, classRecord), state(state) {}
    std::mutex& mutex() override { return state.mutex; }
    Request::State& state;
};

class ViewStorageObject final : public Object {
  public:
    static constexpr ObjectKind kKind = ObjectKind::ViewStorage;
    static constexpr bool kOwnedByCaller = true;
    ViewStorageObject(const DSClassRecord* classRecord, Request::State& state)
        : Object(kKind, classRecord), state(state) {}
    std::mutex& mutex() override { return state.mutex; }
    Request::State& state;
};

int32_t getItem(DSHandle handle, int32_t item, void** out) {
    return dispatch<RequestObject>(Op::GetItem, handle, item, {}, [&](RequestObject& request, CallScope&) {
        if (out == nullptr) {
            logLine("GetItem item ", item, " on ", request.describe(), ": no place for the result (null)");
            return status::kBadArgument;
        }
        Request::State& state = request.state;
        switch (item) {
            case ::ds::kItemParameterList:
                *out = &state.parameters;
                return status::kOk;
            case ::ds::kItemIndexFilter:
                if (state.nextFilter < state.filters.size()) {
                    *out = &state.filters[state.nextFilter++];
                    return status::kOk;
                }
                // The next pass reads the filters afresh.
                state.nextFilter = 0;
                *out = nullptr;
                return status::kNoMoreFilters;
            default:
                logLine("GetItem on ", request.describe(), ": unknown item code ", item);
                return status::kUnknownItem;
        }
    });
}

int32_t putItem(DSHandle handle, int32_t item, void* value) {
    return dispatch<RequestObject>(Op::PutItem, handle, item, {}, [&](RequestObject& request, CallScope&) {
        Request::State& state = request.state;
        switch (item) {
            case ::ds::kItemWorkArea:
                state.parameters.workArea = value;
                return status::kOk;
            case ::ds::kItemRow: {
                if (value == nullptr) {
                    logLine("PutItem of a row on ", request.describe(), ": the row's address is null");
                    return status::kBadArgument;
                }
                ++state.rowsHandedBack;
                state.lastRow = value;
                if (state.keepRows) state.rows.add(value);
                return status::kOk;
            }
            default:
                logLine("PutItem on ", request.describe(), ": unknown item code ", item);
                return status::kUnknownItem;
        }
    });
}

int32_t getViewStorage(DSHandle handle, int32_t size, void** out) {
    return dispatch<ViewStorageObject>(Op::GetViewStorage, handle, 0, {}, [&](ViewStorageObject& storage, CallScope&) {
        if (size <= 0 || out == nullptr) {
            logLine("GetViewStorage on ", storage.describe(), ": ",
                    out == nullptr ? std::string("no place for the address (null)")
                                   : "cannot allocate " + std::to_string(size) + " bytes");
            return status::kBadArgument;
        }
        auto block = std::make_unique<unsigned char[]>(static_cast<std::size_t>(size));
        std::fill_n(block.get(), size, kViewStorageFill);
        *out = block.get();
        storage.state.storage.emplace_back(std::move(block), static_cast<std::size_t>(size));
        return status::kOk;
    });
}

const DSClassRecord* requestClass() {
    static const OperationTable sql = operationTable(::ds::Table::Sql, {});
    static const OperationTable common = operationTable(
        ::ds::Table::Common, {{::ds::kSlotGetItem, ::ds::slot<::ds::GetItemFn>(&getItem)},
                            {::ds::kSlotPutItem, ::ds::slot<::ds::PutItemFn>(&putItem)}});
    static const DSClassRecord record{nullptr, sql.data(), nullptr, common.data()};
    return &record;
}

const DSClassRecord* viewStorageClass() {
    static const OperationTable sql = operationTable(::ds::Table::Sql, {});
    static const OperationTable common = operationTable(
        ::ds::Table::Common, {{::ds::kSlotGetViewStorage, ::ds::slot<::ds::GetViewStorageFn>(&getViewStorage)}});
    static const DSClassRecord record{nullptr, sql.data(), nullptr, common.data()};
    return &record;
}

IndexFilter makeIndexFilter(const Filter& filter, const char* value) {
    constexpr std::size_t kColumnWidth = sizeof(IndexFilter::columnName) - 1;
    if (filter.column.size() > kColumnWidth) {
        throw std::invalid_argument("index filter column '" + filter.column + "' is longer than " +
                                    std::to_string(kColumnWidth) + " characters");
    }
    if (filter.value.size() > static_cast<std::size_t>(std::numeric_limits<int16_t>::max())) {
        throw std::invalid_argument("index filter value for '" + filter.column + "' is longer than 32767 bytes");
    }
    IndexFilter record{};
    record.op = filter.op;
    record.valueLength = filter.valueLength.value_or(static_cast<int16_t>(filter.value.size()));
    std::memset(record.columnName, ' ', kColumnWidth);
    std::memcpy(record.columnName, filter.column.data(), filter.column.size());
    record.columnName[kColumnWidth] = '\0';
    record.value = value;
    return record;
}

}  // namespace

namespace {

void setIndexFilters(Request::State& state, const std::vector<Filter>& filters) {
    std::vector<IndexFilter> records;
    std::vector<std::unique_ptr<char[]>> values;
    for (const Filter& filter : filters) {
        // Exactly as long as the value: a provider that reads past it is caught by tools.
        auto value = std::make_unique<char[]>(filter.value.size());
        std::memcpy(value.get(), filter.value.data(), filter.value.size());
        records.push_back(makeIndexFilter(filter, value.get()));
        values.push_back(std::move(value));
    }
    state.filters = std::move(records);
    state.filterValues = std::move(values);
    state.nextFilter = 0;
}

std::size_t catalogRowWidth(std::string_view table) {
    const std::optional<TableDefinition> definition = findTableDefinition(table);
    return definition ? definition->rowWidth() : 0;
}

}  // namespace

Request::Request(std::string tableName, std::vector<Filter> filters)
    : Request(tableName, std::move(filters), catalogRowWidth(tableName)) {}

Request::Request(std::string tableName, std::vector<Filter> filters, std::size_t rowWidth, bool keepRows)
    : state_(std::make_unique<State>()) {
    State& state = *state_;
    state.tableName = std::move(tableName);
    state.rowWidth = rowWidth;
    state.keepRows = keepRows;
    state.rows = ReceivedRows(rowWidth);
    setIndexFilters(state, filters);

    auto request = std::make_shared<RequestObject>(requestClass(), state);
    auto storage = std::make_shared<ViewStorageObject>(viewStorageClass(), state);
    Registry::instance().adopt({request, storage});
    state.requestHandle = request->handle();
    state.viewStorageHandle = storage->handle();
    state.requestSerial = request->serial();
    state.viewStorageSerial = storage->serial();

    state.parameters.workArea = nullptr;
    state.parameters.viewStorage = &state.viewStorageHandle;
    state.parameters.tableName = state.tableName.c_str();
}

Request::~Request() {
    if (!state_) return;
    Registry::instance().destroy(state_->requestSerial);
    Registry::instance().destroy(state_->viewStorageSerial);
}

Request::Request(Request&&) noexcept = default;

Request& Request::operator=(Request&& other) noexcept {
    if (this != &other) {
        Request doomed(std::move(*this));
        state_ = std::move(other.state_);
    }
    return *this;
}

DSRequestHandle Request::handle() const { return state_->requestHandle; }
DSHandle Request::viewStorageHandle() const { return state_->viewStorageHandle; }
DSParameterList& Request::parameters() { return state_->parameters; }
const std::string& Request::tableName() const { return state_->tableName; }
const std::vector<IndexFilter>& Request::indexFilters() const { return state_->filters; }
void* Request::workArea() const { return state_->parameters.workArea; }

std::vector<StorageBlock> Request::viewStorage() const {
    std::lock_guard lock(state_->mutex);
    std::vector<StorageBlock> blocks;
    for (const auto& [block, size] : state_->storage) blocks.push_back(StorageBlock{block.get(), size});
    return blocks;
}

Request::HandedBack Request::handedBack() const {
    std::lock_guard lock(state_->mutex);
    return {state_->rowsHandedBack, state_->lastRow};
}

const ReceivedRows& Request::rows() const { return state_->rows; }

ReceivedRows Request::takeRows() {
    std::lock_guard lock(state_->mutex);
    return std::exchange(state_->rows, ReceivedRows(state_->rowWidth));
}

void Request::setFilters(const std::vector<Filter>& filters) {
    std::lock_guard lock(state_->mutex);
    setIndexFilters(*state_, filters);
}

void Request::clearRows() {
    std::lock_guard lock(state_->mutex);
    state_->rows.clear();
}

}  // namespace hub::ds
