// The C++ entries of the trace facility.
#include "hub/trace.h"

#include <ostream>

#include "facility.h"

namespace hub::trace {
namespace {

detail::Facility& facility() { return detail::Facility::instance(); }

bool belongsTo(const Record& record, std::string_view unit, std::string_view function) {
    return record.unit == unit && (function.empty() || record.function == function);
}

}  // namespace

std::string_view kindName(Kind kind) {
    switch (kind) {
        case Kind::Line: return "Line";
        case Kind::Entry: return "Entry";
        case Kind::Exit: return "Exit";
        case Kind::ExitVoid: return "ExitVoid";
        case Kind::Log: return "Log";
    }
    return "?";
}

std::ostream& operator<<(std::ostream& out, const Record& record) {
    return out << kindName(record.kind) << " " << record.unit << "." << record.function << ":"
               << record.line << " value=" << record.value << " \"" << record.text << "\"";
}

void setClasses(std::string_view unit, std::string_view function, int32_t classes) {
    facility().setClasses(unit, function, classes);
}

void clearSettings() { facility().clearSettings(); }

int32_t classesOf(std::string_view unit, std::string_view function) {
    return facility().classesOf(unit, function);
}

void writeToStderr() { facility().writeToStderr(); }
void writeToFile(const std::string& path) { facility().writeToFile(path); }
void writeToNothing() { facility().writeToNothing(); }

void log(std::string_view component, std::string_view text) {
    facility().write(Record{std::string(component), {}, 0, Kind::Log, 0, std::string(text)});
}

std::vector<KnownUnit> knownUnits() { return facility().knownUnits(); }

std::vector<std::string> syncedFunctions(std::string_view unit) { return facility().syncedFunctions(unit); }

void forgetUnitsIn(const void* begin, std::size_t size) { facility().forgetUnitsIn(begin, size); }

uint64_t syncCalls() { return facility().syncCalls(); }

uint64_t syncCalls(std::string_view unit, std::string_view function) {
    return facility().syncCalls(unit, function);
}

void reset() { facility().reset(); }

Capture::Capture(bool alsoToStream) : alsoToStream_(alsoToStream) { facility().attach(*this); }

Capture::~Capture() { facility().detach(*this); }

void Capture::append(const Record& record) {
    const std::lock_guard lock(mutex_);
    records_.push_back(record);
}

std::vector<Record> Capture::records() const {
    const std::lock_guard lock(mutex_);
    return records_;
}

std::vector<Record> Capture::records(std::string_view unit, std::string_view function) const {
    const std::lock_guard lock(mutex_);
    std::vector<Record> selected;
    for (const Record& record : records_) {
        if (belongsTo(record, unit, function)) selected.push_back(record);
    }
    return selected;
}

std::vector<std::string> Capture::lines() const {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const Record& record : records_) {
        if (record.kind == Kind::Line) texts.push_back(record.text);
    }
    return texts;
}

std::vector<std::string> Capture::lines(std::string_view unit, std::string_view function) const {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const Record& record : records_) {
        if (record.kind == Kind::Line && belongsTo(record, unit, function)) texts.push_back(record.text);
    }
    return texts;
}

void Capture::clear() {
    const std::lock_guard lock(mutex_);
    records_.clear();
}

}  // namespace hub::trace
