// The C entries through which traced code reaches the facility.
#include "platform/ras1.h"

#include <cstdarg>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "facility.h"
#include "trace_blocks.h"

namespace {

using hub::trace::Kind;
using hub::trace::Record;
using hub::trace::detail::Facility;
using hub::trace::detail::functionNameOf;
using hub::trace::detail::unitNameOf;

Record recordOf(const TraceEntryBlock& entry, int32_t line, Kind kind, std::string text) {
    return Record{std::string(unitNameOf(entry.unit)), std::string(functionNameOf(entry)), line, kind, 0,
                  std::move(text)};
}

// "kqvmsql.kqvsqlf:42", for the hub's log.
std::string placeOf(const TraceEntryBlock& entry, int32_t line) {
    return std::string(unitNameOf(entry.unit)) + "." + std::string(functionNameOf(entry)) + ":" + std::to_string(line);
}

std::string formatted(const char* format, va_list arguments) {
    va_list sizing;
    va_copy(sizing, arguments);
    const int size = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    if (size < 0) return "(trace line not formattable: \"" + std::string(format) + "\")";
    std::string text(static_cast<std::size_t>(size), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, arguments);
    return text;
}

// Traced code is built without exceptions: none may leave these entries.
// What fails (memory, mostly) is reported on standard error, which needs no
// allocation.
template <typename Body>
auto shielded(const char* entryName, Body body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "trace: %s failed: %s\n", entryName, error.what());
    } catch (...) {
        std::fprintf(stderr, "trace: %s failed\n", entryName);
    }
    return decltype(body())();
}

void writeEvent(TraceEntryBlock& entry, int32_t line, int32_t kind, va_list arguments) {
    switch (kind) {
        case kTraceEventEntry:
            Facility::instance().write(recordOf(entry, line, Kind::Entry, "Entry"));
            return;
        case kTraceEventExit: {
            const int32_t value = va_arg(arguments, int);
            Record record = recordOf(entry, line, Kind::Exit, "Exit, status=" + std::to_string(value));
            record.value = value;
            Facility::instance().write(record);
            return;
        }
        case kTraceEventExitVoid:
            Facility::instance().write(recordOf(entry, line, Kind::ExitVoid, "Exit"));
            return;
        default:
            hub::trace::log("trace", "unknown event kind " + std::to_string(kind) + " from " + placeOf(entry, line));
            return;
    }
}

void writeLine(TraceEntryBlock& entry, int32_t line, const char* format, va_list arguments) {
    if (format == nullptr) {
        hub::trace::log("trace", "trace line without a format from " + placeOf(entry, line));
        return;
    }
    Facility::instance().write(recordOf(entry, line, Kind::Line, formatted(format, arguments)));
}

}  // namespace

extern "C" {

int32_t RAS1_Sync(TraceEntryBlock* entry) {
    if (entry == nullptr) return 0;
    return shielded("RAS1_Sync", [&] {
        return Facility::instance().sync(*entry);
    });
}

void RAS1_Event(TraceEntryBlock* entry, int32_t line, int32_t kind, ...) {
    if (entry == nullptr) return;
    va_list arguments;
    va_start(arguments, kind);
    shielded("RAS1_Event", [&] { writeEvent(*entry, line, kind, arguments); });
    va_end(arguments);
}

void RAS1_Printf(TraceEntryBlock* entry, int32_t line, const char* format, ...) {
    if (entry == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    shielded("RAS1_Printf", [&] { writeLine(*entry, line, format, arguments); });
    va_end(arguments);
}

}  // extern "C"
