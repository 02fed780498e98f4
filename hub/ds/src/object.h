// Data-server objects: what a handle points at, the registry of live objects,
// and the operations tables that class records point at.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hub/ds/seams.h"
#include "platform/dshandle.h"

namespace hub::ds {

// What a handle's object pointer points at. Callers read only the header.
struct ObjectCell {
    DSObjectHeader header;
    ObjectKind kind;
    uint64_t serial;
};
static_assert(std::is_standard_layout_v<ObjectCell>);
static_assert(offsetof(ObjectCell, header) == 0);

class Object {
  public:
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    ObjectKind kind() const { return cell_.kind; }
    uint64_t serial() const { return cell_.serial; }
    uint16_t checkNumber() const { return cell_.header.checkNumber; }
    DSHandle handle() { return DSHandle{cell_.header.checkNumber, 0, &cell_}; }
    // "path #12", for log lines.
    std::string describe() const;

    // Held while one of the object's operations runs.
    virtual std::mutex& mutex() { return mutex_; }

  protected:
    Object(ObjectKind kind, const DSClassRecord* classRecord);

  private:
    friend class Registry;
    ObjectCell cell_;
    std::mutex mutex_;
};

// Every live object, by address and by serial. Serials and check numbers are
// handed out here.
class Registry {
  public:
    static Registry& instance();

    // Makes the objects live with consecutive serials, in the order given.
    void adopt(std::initializer_list<std::shared_ptr<Object>> objects);

    // Null unless a live object's cell is at `address`.
    std::shared_ptr<Object> find(const void* address) const;
    // The same for an object whose owner keeps it alive while its operations
    // run (a Request's objects): no reference is taken, and while nothing has
    // been destroyed since, the thread's last such lookup is answered without
    // the lock.
    Object* findOwned(const void* address) const;

    // Freed once the last operation running on it returns. False if not live.
    bool destroy(uint64_t serial);
    bool spoil(uint64_t serial);

    std::size_t count() const;
    std::size_t count(ObjectKind kind) const;
    std::vector<LiveObject> list() const;
    // Destroys every object of the SQL service.
    std::size_t releaseSqlObjects();

  private:
    Registry() = default;

    mutable std::mutex mutex_;
    // Counts destroyed objects; written under the lock.
    std::atomic<uint64_t> destroyed_{0};
    uint64_t lastSerial_ = 0;
    uint16_t lastCheckNumber_ = 0;
    std::unordered_map<const void*, std::shared_ptr<Object>> byAddress_;
    std::map<uint64_t, Object*> bySerial_;
};

// One operations table. Slots without an operation of the object's kind hold
// a stub that logs the mistake and returns status::kUnsupported.
inline constexpr int kOperationSlots = 16;
using OperationTable = std::array<DSOperation, kOperationSlots>;

OperationTable operationTable(::ds::Table table, std::initializer_list<std::pair<int, DSOperation>> operations);

}  // namespace hub::ds
