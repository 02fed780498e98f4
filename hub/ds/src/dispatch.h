// How every operation on an object runs: inside a CallScope, on a live
// object of the expected kind whose check number the handle matches, under
// the object's lock, and without letting an exception out to a C caller.
#pragma once

#include <exception>
#include <memory>
#include <mutex>
#include <string_view>

#include "hub/ds/call.h"
#include "hub/ds/status.h"
#include "hublog.h"
#include "object.h"

namespace hub::ds {

// Objects whose owner keeps them alive while their operations run say so
// with `static constexpr bool kOwnedByCaller = true`; the lookup then takes
// no reference.
template <typename T>
concept OwnedByCaller = T::kOwnedByCaller;

// `body(T& target, CallScope& call)` returns the status.
template <typename T, typename Body>
int32_t dispatch(Op op, DSHandle handle, int32_t item, std::string_view text, Body&& body) {
    CallScope call(op, item, text);
    std::shared_ptr<Object> held;
    Object* object;
    if constexpr (OwnedByCaller<T>) {
        object = Registry::instance().findOwned(handle.object);
    } else {
        held = Registry::instance().find(handle.object);
        object = held.get();
    }
    if (object) call.setTarget(object->serial());
    if (const auto injected = call.injectedFailure()) return call.finish(*injected);
    if (!object || object->kind() != T::kKind) {
        logLine(opName(op), ": the handle names ", object ? object->describe() : std::string("no live object"),
                ", not a ", kindName(T::kKind));
        return call.finish(status::kBadArgument);
    }
    if (object->checkNumber() != handle.checkNumber) {
        logLine(opName(op), ": the handle's check number ", handle.checkNumber, " is not that of ",
                object->describe());
        return call.finish(status::kCheckFailed);
    }
    auto& target = static_cast<T&>(*object);
    try {
        std::lock_guard lock(target.mutex());
        return call.finish(body(target, call));
    } catch (const std::exception& error) {
        logLine(opName(op), " on ", target.describe(), " failed: ", error.what());
        return call.finish(status::kInternalFailure);
    }
}

}  // namespace hub::ds
