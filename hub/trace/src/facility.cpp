#include "facility.h"

#include <algorithm>

#include "trace_blocks.h"

namespace hub::trace::detail {

Facility& Facility::instance() {
    static Facility* const facility = new Facility;
    return *facility;
}

unsigned threadNumber() {
    static std::atomic<unsigned> lastNumber{0};
    thread_local const unsigned number = ++lastNumber;
    return number;
}

void Facility::setClasses(std::string_view unit, std::string_view function, int32_t classes) {
    const std::lock_guard lock(mutex_);
    rules_.set(unit, function, classes);
    bumpSyncWords();
}

void Facility::clearSettings() {
    const std::lock_guard lock(mutex_);
    rules_.clear();
    bumpSyncWords();
}

int32_t Facility::classesOf(std::string_view unit, std::string_view function) const {
    const std::lock_guard lock(mutex_);
    return rules_.resolve(unit, function);
}

int32_t Facility::sync(TraceEntryBlock& entry) {
    const std::string_view unit = unitNameOf(entry.unit);
    const std::string_view function = functionNameOf(entry);
    const std::lock_guard lock(mutex_);
    ++syncCalls_;
    ++syncCallsByFunction_[std::string(unit)][std::string(function)];

    const int32_t flags = rules_.resolve(unit, function);
    // Stored under the lock: two threads refreshing the same block around a
    // settings change could otherwise leave old flags beside a new sync value.
    entry.cachedFlags.store(flags, std::memory_order_relaxed);
    if (entry.unitSync != nullptr) {
        remember(entry.unitSync, entry.unit);
        entry.cachedSync.store(entry.unitSync->load(std::memory_order_relaxed), std::memory_order_relaxed);
    }
    return flags;
}

void Facility::remember(std::atomic<int32_t>* syncWord, const TraceUnitBlock* block) {
    auto known = std::find_if(units_.begin(), units_.end(), [&](const Unit& unit) { return unit.syncWord == syncWord; });
    if (known == units_.end()) known = units_.insert(units_.end(), Unit{syncWord, std::nullopt});
    if (!known->description && block != nullptr) known->description = describe(*block);
}

std::vector<KnownUnit> Facility::knownUnits() const {
    const std::lock_guard lock(mutex_);
    std::vector<KnownUnit> described;
    for (const Unit& unit : units_) {
        if (unit.description) described.push_back(*unit.description);
    }
    return described;
}

void Facility::forgetUnitsIn(const void* begin, std::size_t size) {
    // Compared as integers: the words need not lie in one object with the range.
    const auto first = reinterpret_cast<std::uintptr_t>(begin);
    const std::lock_guard lock(mutex_);
    std::erase_if(units_, [&](const Unit& unit) {
        return reinterpret_cast<std::uintptr_t>(unit.syncWord) - first < size;
    });
}

void Facility::bumpSyncWords() {
    for (const Unit& unit : units_) {
        std::atomic<int32_t>& word = *unit.syncWord;
        // Never 0: that is what a block that has not synced yet caches.
        auto next = static_cast<int32_t>(static_cast<uint32_t>(word.load(std::memory_order_relaxed)) + 1u);
        if (next == 0) next = 1;
        word.store(next, std::memory_order_relaxed);
    }
}

void Facility::write(const Record& record) {
    const unsigned thread = threadNumber();
    const std::lock_guard lock(mutex_);
    sinks_.write(record, thread);
}

void Facility::writeToStderr() {
    const std::lock_guard lock(mutex_);
    sinks_.toStderr();
}

void Facility::writeToFile(const std::string& path) {
    const std::lock_guard lock(mutex_);
    sinks_.toFile(path);
}

void Facility::writeToNothing() {
    const std::lock_guard lock(mutex_);
    sinks_.toNothing();
}

void Facility::attach(Capture& capture) {
    const std::lock_guard lock(mutex_);
    sinks_.attach(capture);
}

void Facility::detach(Capture& capture) {
    const std::lock_guard lock(mutex_);
    sinks_.detach(capture);
}

uint64_t Facility::syncCalls() const {
    const std::lock_guard lock(mutex_);
    return syncCalls_;
}

uint64_t Facility::syncCalls(std::string_view unit, std::string_view function) const {
    const std::lock_guard lock(mutex_);
    const auto counters = syncCallsByFunction_.find(unit);
    if (counters == syncCallsByFunction_.end()) return 0;
    const auto counter = counters->second.find(function);
    return counter == counters->second.end() ? 0 : counter->second;
}

std::vector<std::string> Facility::syncedFunctions(std::string_view unit) const {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    if (const auto counters = syncCallsByFunction_.find(unit); counters != syncCallsByFunction_.end()) {
        for (const auto& [function, calls] : counters->second) names.push_back(function);
    }
    return names;
}

void Facility::reset() {
    const std::lock_guard lock(mutex_);
    rules_.clear();
    sinks_.toStderr();
    syncCalls_ = 0;
    syncCallsByFunction_.clear();
    bumpSyncWords();
}

}  // namespace hub::trace::detail
