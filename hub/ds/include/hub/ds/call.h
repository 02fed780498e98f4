// One call that reaches the data server, as its libraries see it: numbered,
// checked against the injected failures, recorded, and followed by the spoils
// armed for it. Every operation and entry runs inside one.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "hub/ds/seams.h"

namespace hub::ds {

class CallScope {
  public:
    // `text` must stay valid until finish().
    explicit CallScope(Op op, int32_t item = 0, std::string_view text = {});
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

    uint64_t index() const { return index_; }
    // The status a test made this call fail with; the call then does nothing.
    std::optional<int32_t> injectedFailure() const { return injected_; }

    void setTarget(uint64_t serial) { target_ = serial; }
    void setCreated(uint64_t serial) { created_ = serial; }

    // Records the call, applies the spoils armed for it, returns `status`.
    int32_t finish(int32_t status);

  private:
    Op op_;
    int32_t item_;
    std::string_view text_;
    uint64_t index_;
    uint64_t target_ = 0;
    uint64_t created_ = 0;
    std::optional<int32_t> injected_;
};

}  // namespace hub::ds
