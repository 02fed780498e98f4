// The hub's trace facility: the static records that traced code hands it and
// the three operations it offers.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

extern "C" {

struct JwbldValues;

// Trace classes: bits of the flag word of a function.
enum : int32_t {
    kTraceDetail = 0x01,  // progress and data lines
    kTraceInput = 0x08,   // lines that echo a request's input
    kTraceState = 0x10,   // state changes of merged rows
    kTraceFlow = 0x40,    // entry and exit events
    kTraceError = 0x80,   // failure lines
    kTraceAll = kTraceDetail | kTraceInput | kTraceState | kTraceFlow | kTraceError,
};

// Kinds of RAS1_Event.
enum : int32_t {
    kTraceEventEntry = 0,       // no value
    kTraceEventExit = 1,        // followed by the 32-bit return value
    kTraceEventExitVoid = 2,    // no value
};

// One per source unit.
struct TraceUnitBlock {
    int32_t magic;              // 400
    int32_t attributes;
    const char* fileName;
    int32_t fileNameLength;
    const char* buildDate;      // "Mmm dd yyyy"
    int32_t buildDateLength;    // 11
    const char* buildTime;      // "hh:mm:ss"
    int32_t buildTimeLength;    // 8
    const char* level;          // "level110"
    int32_t levelLength;        // 8
    const char* star;           // "*"
    int32_t starLength;         // 1
    int32_t zero[2];
    void (*buildInformation)(const JwbldValues** values);
};

// One per traced function. The cached words are shared by every thread that
// runs the function and are refreshed without a lock.
struct TraceEntryBlock {
    const TraceUnitBlock* unit;
    const char* functionName;
    int32_t functionNameLength;
    int32_t sourceLine;
    std::atomic<int32_t>* unitSync;
    int32_t magic;              // 512
    std::atomic<int32_t> cachedFlags;
    std::atomic<int32_t> cachedSync;
    int32_t zero[2];
};

// Returns the function's current flag word and stores it, with the unit's
// current sync value, into the entry block.
int32_t RAS1_Sync(TraceEntryBlock* entry);

// kind 0: entry; kind 1: exit, followed by an int32_t value; kind 2: exit of
// a function without a result.
void RAS1_Event(TraceEntryBlock* entry, int32_t line, int32_t kind, ...);

// One trace line, formatted by the printf conventions.
void RAS1_Printf(TraceEntryBlock* entry, int32_t line, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

}  // extern "C"

static_assert(sizeof(std::atomic<int32_t>) == 4 && std::atomic<int32_t>::is_always_lock_free);

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(TraceUnitBlock) == 60);
static_assert(offsetof(TraceUnitBlock, buildInformation) == 56);
static_assert(sizeof(TraceEntryBlock) == 40);
static_assert(offsetof(TraceEntryBlock, unitSync) == 16);
static_assert(offsetof(TraceEntryBlock, cachedFlags) == 24);
static_assert(offsetof(TraceEntryBlock, cachedSync) == 28);
#endif
