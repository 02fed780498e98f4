// The trace facility's one shared state: settings, sinks, the sync words of
// the units it has seen, and counters. Everything here runs under one lock;
// traced code only comes here when its cached flags are out of date or it
// writes a line.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "class_rules.h"
#include "hub/trace.h"
#include "platform/ras1.h"
#include "sinks.h"

namespace hub::trace::detail {

class Facility {
  public:
    // Never destroyed, so that code tracing during the process's exit still
    // finds it.
    static Facility& instance();

    void setClasses(std::string_view unit, std::string_view function, int32_t classes);
    void clearSettings();
    int32_t classesOf(std::string_view unit, std::string_view function) const;

    // Resolves the function's flags and stores them, with the unit's sync
    // value, into the entry block; remembers the unit and its sync word.
    int32_t sync(TraceEntryBlock& entry);

    std::vector<KnownUnit> knownUnits() const;
    void forgetUnitsIn(const void* begin, std::size_t size);

    void write(const Record& record);

    void writeToStderr();
    void writeToFile(const std::string& path);
    void writeToNothing();
    void attach(Capture& capture);
    void detach(Capture& capture);

    uint64_t syncCalls() const;
    uint64_t syncCalls(std::string_view unit, std::string_view function) const;
    std::vector<std::string> syncedFunctions(std::string_view unit) const;
    void reset();

  private:
    struct Unit {
        std::atomic<int32_t>* syncWord;
        std::optional<KnownUnit> description;  // none if its blocks lack a unit block
    };

    Facility() = default;
    void remember(std::atomic<int32_t>* syncWord, const TraceUnitBlock* block);
    void bumpSyncWords();

    mutable std::mutex mutex_;
    ClassRules rules_;
    Sinks sinks_;
    // Every unit that has synced and is not forgotten; a handful per library.
    std::vector<Unit> units_;
    uint64_t syncCalls_ = 0;
    std::map<std::string, std::map<std::string, uint64_t, std::less<>>, std::less<>> syncCallsByFunction_;
};

// A small number for the calling thread, 1 for the first that asks.
unsigned threadNumber();

}  // namespace hub::trace::detail
