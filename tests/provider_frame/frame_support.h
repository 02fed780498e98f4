// Helpers shared by the request-frame tests: address texts as the provider's
// traces print them, the work area of a request, trace events, and the forms
// of a build date and time.
#pragma once

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "hub/ds/request.h"
#include "hub/trace.h"
#include "platform/ras1.h"
#include "provider/kqvdwsys.h"

namespace frametest {

// "%8x" / "%8X" of an address as an unsigned integer of pointer width: in the
// 32-bit build this is exactly "%8x" / "%8X" of the address.
inline std::string hex(const void* address) {
    char text[32];
    std::snprintf(text, sizeof text, "%8" PRIxPTR, reinterpret_cast<uintptr_t>(address));
    return text;
}
inline std::string upperHex(const void* address) {
    char text[32];
    std::snprintf(text, sizeof text, "%8" PRIXPTR, reinterpret_cast<uintptr_t>(address));
    return text;
}

inline DWSYWORK* workAreaOf(const hub::ds::Request& request) {
    return static_cast<DWSYWORK*>(request.workArea());
}

// The entry and exit events of one function, in order.
inline std::vector<hub::trace::Record> eventsOf(const hub::trace::Capture& capture,
                                                std::string_view unit, std::string_view function) {
    std::vector<hub::trace::Record> events;
    for (auto& record : capture.records(unit, function)) {
        if (record.kind != hub::trace::Kind::Line) events.push_back(record);
    }
    return events;
}

// What RSLTdestroy traces for a table it frees: its figures, each block in
// chain order, then the anchor.
inline std::vector<std::string> destroyLines(const void* anchor, int32_t elements, int32_t blocks,
                                             int32_t blockSize, const std::vector<const void*>& freedBlocks) {
    std::vector<std::string> expected = {"RSLT anchor at " + hex(anchor) + "\n",
                                         "     Total Elements: " + std::to_string(elements) + "\n",
                                         "     Total Blocks:   " + std::to_string(blocks) + "\n",
                                         "     Block Size:     " + std::to_string(blockSize) + "\n"};
    for (const void* block : freedBlocks) {
        expected.push_back("RSLT Freeing block at " + hex(block) + " for " + std::to_string(blockSize) + " bytes\n");
    }
    expected.push_back("Freeing RSLT block at " + hex(anchor) + "\n");
    expected.push_back("RSLTDestroy done...\n");
    return expected;
}

// One expected trace line and the class that gates it (0: written whatever
// the flags).
struct ClassedLine {
    int32_t traceClass;
    std::string text;
};

// The lines that must appear when `classes` are on.
inline std::vector<std::string> linesUnder(const std::vector<ClassedLine>& lines, int32_t classes) {
    std::vector<std::string> wanted;
    for (const auto& line : lines) {
        if (line.traceClass == 0 || (line.traceClass & classes) != 0) wanted.push_back(line.text);
    }
    return wanted;
}

// Class settings every classed-line table is run under.
inline const std::vector<int32_t>& classSettings() {
    static const std::vector<int32_t> settings = {
        0,
        kTraceAll,
        kTraceDetail,
        kTraceInput,
        kTraceError,
        kTraceFlow,
        kTraceAll & ~kTraceDetail,
        kTraceAll & ~kTraceInput,
        kTraceAll & ~kTraceError,
    };
    return settings;
}

// The forms of a build date ("Dec  9 2026") and time ("06:27:43").
inline const std::regex& buildDateForm() {
    // Three-letter month, day padded with a blank, four-digit year.
    static const std::regex form("(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                 "( [1-9]|[12][0-9]|3[01]) [0-9]{4}");
    return form;
}
inline const std::regex& buildTimeForm() {
    static const std::regex form("([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]");
    return form;
}

}  // namespace frametest
