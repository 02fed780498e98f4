// Handles and objects of the hub's data server, and the rule by which every
// operation on a data-server object is called.
#pragma once

#include <cstdint>

extern "C" {

// Reference to one data-server object, passed by value.
struct DSHandle {
    uint16_t checkNumber;
    uint16_t spare;
    void* object;
};

// The handle that names one request of the data server.
typedef DSHandle DSRequestHandle;

// One slot of an operations table. Each slot is cast to the signature of the
// operation it holds before it is called.
typedef void (*DSOperation)(void);

// The class record of a data-server object: one word per operations table.
struct DSClassRecord {
    const void* reserved0;
    const DSOperation* sqlOperations;     // operations of the SQL service
    const void* reserved2;
    const DSOperation* commonOperations;  // request and storage operations
};

// The leading part of every data-server object, as far as callers read it.
struct DSObjectHeader {
    uint32_t reserved0;
    uint16_t checkNumber;
    uint16_t reserved1;
    const DSClassRecord* classRecord;
};

}  // extern "C"

#if UINTPTR_MAX == 0xFFFFFFFFu
#include <cstddef>
static_assert(sizeof(DSHandle) == 8);
static_assert(offsetof(DSHandle, checkNumber) == 0);
static_assert(offsetof(DSHandle, object) == 4);
static_assert(offsetof(DSObjectHeader, checkNumber) == 4);
static_assert(offsetof(DSObjectHeader, classRecord) == 8);
static_assert(offsetof(DSClassRecord, sqlOperations) == 4);
static_assert(offsetof(DSClassRecord, commonOperations) == 12);
#endif

namespace ds {

// Status taken for an operation whose handle fails its check.
inline constexpr int32_t kStatusCheckFailed = 2;

enum class Table { Sql, Common };

// Calls slot `slot` of the chosen operations table of the object behind `h`,
// as an operation of type `Fn` (first parameter: the handle by value). The
// operation is called only when the handle's check number equals the
// object's; otherwise nothing is called and the status is 2. A handle
// without an object counts as failing its check.
template <typename Fn, typename... Args>
inline int32_t call(DSHandle h, Table table, int slot, Args... args) {
    const auto* object = static_cast<const DSObjectHeader*>(h.object);
    if (object == nullptr || object->checkNumber != h.checkNumber) return kStatusCheckFailed;
    const DSClassRecord* cls = object->classRecord;
    const DSOperation* ops = table == Table::Sql ? cls->sqlOperations : cls->commonOperations;
    return reinterpret_cast<Fn*>(ops[slot])(h, args...);
}

// Puts an operation of exactly type `Fn` into an operations table.
template <typename Fn>
inline DSOperation slot(Fn* fn) {
    return reinterpret_cast<DSOperation>(fn);
}

}  // namespace ds
