#include <ostream>
#include <utility>
#include <vector>

#include "hub/ds/status.h"
#include "hublog.h"
#include "object.h"

namespace hub::ds {

std::string_view kindName(ObjectKind kind) {
    switch (kind) {
        case ObjectKind::Request: return "request";
        case ObjectKind::ViewStorage: return "view storage";
        case ObjectKind::Path: return "path";
        case ObjectKind::AccessPlan: return "access plan";
        case ObjectKind::SqlRequest: return "SQL request";
        case ObjectKind::Output: return "output";
    }
    return "object";
}

Object::Object(ObjectKind kind, const DSClassRecord* classRecord)
    : cell_{DSObjectHeader{0, 0, 0, classRecord}, kind, 0} {}

std::string Object::describe() const {
    return std::string(kindName(kind())) + " #" + std::to_string(serial());
}

Registry& Registry::instance() {
    // Never destroyed: objects may still be dropped while the process exits.
    static Registry* registry = new Registry;
    return *registry;
}

void Registry::adopt(std::initializer_list<std::shared_ptr<Object>> objects) {
    std::lock_guard lock(mutex_);
    for (const auto& object : objects) {
        if (++lastCheckNumber_ == 0) ++lastCheckNumber_;
        object->cell_.header.checkNumber = lastCheckNumber_;
        object->cell_.serial = ++lastSerial_;
        byAddress_.emplace(&object->cell_, object);
        bySerial_.emplace(object->cell_.serial, object.get());
    }
}

std::shared_ptr<Object> Registry::find(const void* address) const {
    std::lock_guard lock(mutex_);
    const auto found = byAddress_.find(address);
    return found == byAddress_.end() ? nullptr : found->second;
}

Object* Registry::findOwned(const void* address) const {
    struct LastFound {
        const void* address = nullptr;
        uint64_t destroyed = 0;
        Object* object = nullptr;
    };
    thread_local LastFound last;
    if (last.object != nullptr && last.address == address &&
        last.destroyed == destroyed_.load(std::memory_order_acquire)) {
        return last.object;
    }
    std::lock_guard lock(mutex_);
    const auto found = byAddress_.find(address);
    Object* object = found == byAddress_.end() ? nullptr : found->second.get();
    last = {address, destroyed_.load(std::memory_order_relaxed), object};
    return object;
}

bool Registry::destroy(uint64_t serial) {
    std::shared_ptr<Object> doomed;  // released after the lock
    std::lock_guard lock(mutex_);
    const auto found = bySerial_.find(serial);
    if (found == bySerial_.end()) return false;
    destroyed_.fetch_add(1, std::memory_order_release);
    const auto byAddress = byAddress_.find(&found->second->cell_);
    doomed = std::move(byAddress->second);
    byAddress_.erase(byAddress);
    bySerial_.erase(found);
    return true;
}

bool Registry::spoil(uint64_t serial) {
    std::lock_guard lock(mutex_);
    const auto found = bySerial_.find(serial);
    if (found == bySerial_.end()) return false;
    uint16_t& checkNumber = found->second->cell_.header.checkNumber;
    const uint16_t spoiled = static_cast<uint16_t>(checkNumber + 0x8000u);
    checkNumber = spoiled != 0 ? spoiled : 1;
    return true;
}

std::size_t Registry::count() const {
    std::lock_guard lock(mutex_);
    return bySerial_.size();
}

std::size_t Registry::count(ObjectKind kind) const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& [serial, object] : bySerial_) n += object->kind() == kind ? 1 : 0;
    return n;
}

std::vector<LiveObject> Registry::list() const {
    std::lock_guard lock(mutex_);
    std::vector<LiveObject> objects;
    for (const auto& [serial, object] : bySerial_) objects.push_back(LiveObject{serial, object->kind()});
    return objects;
}

std::size_t Registry::releaseSqlObjects() {
    std::vector<std::shared_ptr<Object>> doomed;  // released after the lock
    std::lock_guard lock(mutex_);
    for (auto it = bySerial_.begin(); it != bySerial_.end();) {
        const ObjectKind kind = it->second->kind();
        if (kind == ObjectKind::Request || kind == ObjectKind::ViewStorage) {
            ++it;
            continue;
        }
        destroyed_.fetch_add(1, std::memory_order_release);
        const auto byAddress = byAddress_.find(&it->second->cell_);
        doomed.push_back(std::move(byAddress->second));
        byAddress_.erase(byAddress);
        it = bySerial_.erase(it);
    }
    return doomed.size();
}

namespace {

void reportUnsupported(::ds::Table table, int slot, DSHandle handle) {
    const auto object = Registry::instance().find(handle.object);
    logLine("slot ", slot, " of the ", table == ::ds::Table::Sql ? "SQL" : "common",
            " operations table was called on ", object ? object->describe() : std::string("an unknown object"),
            ", which has no operation there");
}

template <::ds::Table T, int Slot>
int32_t unsupportedOperation(DSHandle handle) {
    reportUnsupported(T, Slot, handle);
    return status::kUnsupported;
}

template <::ds::Table T, std::size_t... Slots>
OperationTable unsupportedTable(std::index_sequence<Slots...>) {
    return OperationTable{::ds::slot(&unsupportedOperation<T, static_cast<int>(Slots)>)...};
}

}  // namespace

OperationTable operationTable(::ds::Table table, std::initializer_list<std::pair<int, DSOperation>> operations) {
    constexpr auto slots = std::make_index_sequence<kOperationSlots>();
    OperationTable result = table == ::ds::Table::Sql ? unsupportedTable<::ds::Table::Sql>(slots)
                                                     : unsupportedTable<::ds::Table::Common>(slots);
    for (const auto& [slot, operation] : operations) result.at(static_cast<std::size_t>(slot)) = operation;
    return result;
}

std::size_t liveObjects() { return Registry::instance().count(); }
std::size_t liveObjects(ObjectKind kind) { return Registry::instance().count(kind); }
std::vector<LiveObject> listLiveObjects() { return Registry::instance().list(); }

std::ostream& operator<<(std::ostream& out, const LiveObject& object) {
    return out << kindName(object.kind) << " #" << object.serial;
}

uint64_t serialOf(DSHandle handle) {
    const auto object = Registry::instance().find(handle.object);
    return object ? object->serial() : 0;
}

bool spoil(DSHandle handle) {
    const uint64_t serial = serialOf(handle);
    return serial != 0 && Registry::instance().spoil(serial);
}

std::size_t releaseLeftovers() { return Registry::instance().releaseSqlObjects(); }

}  // namespace hub::ds
