#include "trace_blocks.h"

#include <algorithm>
#include <string>

namespace hub::trace::detail {
namespace {

// Up to the first NUL or length characters, whichever comes first.
std::string_view boundedText(const char* text, int32_t length) {
    if (text == nullptr || length <= 0) return {};
    return {text, static_cast<std::size_t>(std::find(text, text + length, '\0') - text)};
}

}  // namespace

std::string_view unitNameOf(const TraceUnitBlock* unit) {
    if (unit == nullptr) return {};
    std::string_view name = boundedText(unit->fileName, unit->fileNameLength);
    if (const auto slash = name.find_last_of("/\\"); slash != std::string_view::npos) name.remove_prefix(slash + 1);
    return name.substr(0, name.find('.'));
}

std::string_view functionNameOf(const TraceEntryBlock& entry) {
    return boundedText(entry.functionName, entry.functionNameLength);
}

KnownUnit describe(const TraceUnitBlock& unit) {
    return KnownUnit{std::string(unitNameOf(&unit)),
                     std::string(boundedText(unit.fileName, unit.fileNameLength)),
                     unit.attributes,
                     std::string(boundedText(unit.buildDate, unit.buildDateLength)),
                     std::string(boundedText(unit.buildTime, unit.buildTimeLength)),
                     std::string(boundedText(unit.level, unit.levelLength)),
                     unit.buildInformation};
}

}  // namespace hub::trace::detail
