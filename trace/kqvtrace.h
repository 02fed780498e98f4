// How every function of the provider traces: one unit block per source unit,
// one entry block per function, flags cached until the unit's sync word
// changes, and an exit event for every entry event.
#pragma once

#include <atomic>
#include <cinttypes>
#include <cstdint>

#include "platform/ras1.h"
#include "provider/generated/jwbld00.h"

// Address traces print an address as an unsigned integer of pointer width.
#define KQV_ADDR_x "%8" PRIxPTR
#define KQV_ADDR_X "%8" PRIXPTR
#define KQV_ADDR(p) reinterpret_cast<uintptr_t>(p)

namespace kqv {

inline constexpr int32_t kUnitBlockMagic = 400;
inline constexpr int32_t kEntryBlockMagic = 512;
inline constexpr int32_t kUnitAttributesProvider = 32768;
inline constexpr int32_t kUnitAttributesLibrary = 16777216;

// One call of a traced function.
class TraceCall {
  public:
    TraceCall(TraceEntryBlock& entry, int line) : entry_(entry) {
        const int32_t sync = entry.unitSync->load(std::memory_order_relaxed);
        flags_ = entry.cachedSync.load(std::memory_order_relaxed) == sync
                     ? entry.cachedFlags.load(std::memory_order_relaxed)
                     : RAS1_Sync(&entry);
        entered_ = (flags_ & kTraceFlow) != 0;
        if (entered_) RAS1_Event(&entry_, line, kTraceEventEntry);
    }
    TraceCall(const TraceCall&) = delete;
    TraceCall& operator=(const TraceCall&) = delete;

    bool on(int32_t traceClass) const { return (flags_ & traceClass) != 0; }
    TraceEntryBlock* entry() const { return &entry_; }

    int32_t exit(int line, int32_t value) const {
        if (entered_) RAS1_Event(&entry_, line, kTraceEventExit, value);
        return value;
    }
    void exitVoid(int line) const {
        if (entered_) RAS1_Event(&entry_, line, kTraceEventExitVoid);
    }

  private:
    TraceEntryBlock& entry_;
    int32_t flags_;
    bool entered_;
};

// Whether a call of the function traces nothing, as its cached flags tell;
// false while they are out of date.
inline bool traceOff(const TraceEntryBlock& entry) {
    return entry.cachedSync.load(std::memory_order_relaxed) == entry.unitSync->load(std::memory_order_relaxed) &&
           entry.cachedFlags.load(std::memory_order_relaxed) == 0;
}

}  // namespace kqv

// Defines the unit block and sync word of a source unit, dated when the unit
// was compiled.
#define KQV_TRACE_UNIT(fileName, attributes) KQV_TRACE_UNIT_DATED(fileName, attributes, __DATE__, __TIME__)

// The same with the date ("Oct  6 2006") and time ("12:43:57") given.
#define KQV_TRACE_UNIT_DATED(fileName, attributes, date, time)                                  \
    namespace {                                                                                 \
    std::atomic<int32_t> kqvTraceUnitSync{1};                                                   \
    const TraceUnitBlock kqvTraceUnit = {                                                       \
        ::kqv::kUnitBlockMagic, (attributes), fileName, sizeof(fileName) - 1, date, 11,         \
        time, 8, "level110", 8, "*", 1, {0, 0}, &jwbld00};                                      \
    }

// First statement of every traced function: its entry block and the call.
#define KQV_TRACE_BEGIN(function)                                                               \
    static TraceEntryBlock kqvTraceEntry = {&kqvTraceUnit, #function, sizeof(#function) - 1,    \
                                            __LINE__, &kqvTraceUnitSync,                        \
                                            ::kqv::kEntryBlockMagic, {0}, {0}, {0, 0}};         \
    const ::kqv::TraceCall kqvTrace(kqvTraceEntry, __LINE__)

// A line of the given class; not formatted when the class is off.
#define KQV_TRACE(traceClass, ...)                                                              \
    do {                                                                                        \
        if (kqvTrace.on(traceClass)) RAS1_Printf(kqvTrace.entry(), __LINE__, __VA_ARGS__);      \
    } while (0)

// A line written whatever the trace flags.
#define KQV_TRACE_ALWAYS(...) RAS1_Printf(kqvTrace.entry(), __LINE__, __VA_ARGS__)

#define KQV_RETURN(value) return kqvTrace.exit(__LINE__, (value))
#define KQV_RETURN_VOID()                                                                       \
    do {                                                                                        \
        kqvTrace.exitVoid(__LINE__);                                                            \
        return;                                                                                 \
    } while (0)
