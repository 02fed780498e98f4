#include "trace_settings.h"

#include <algorithm>

#include "messages.h"

namespace host {

namespace {

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

// A unit loaded twice (the same source in two libraries) is named once.
std::vector<std::string> unitsThatRan() {
    std::vector<std::string> names;
    for (const auto& unit : hub::trace::knownUnits()) {
        if (std::find(names.begin(), names.end(), unit.name) == names.end()) names.push_back(unit.name);
    }
    return names;
}

}  // namespace

void TraceSettings::apply(const std::string& setting, std::string_view how) {
    applied_.push_back({std::string(how) + " " + setting, hub::trace::applySetting(setting)});
}

void TraceSettings::clear() {
    hub::trace::clearSettings();
    applied_.clear();
}

void TraceSettings::warnOfUnused(std::ostream& err) const {
    const std::vector<std::string> units = unitsThatRan();
    if (units.empty()) return;
    for (const auto& [text, target] : applied_) {
        if (target.unit.empty()) continue;
        const std::vector<std::string> functions = hub::trace::syncedFunctions(target.unit);
        if (functions.empty()) {
            printWarning(err, text + " traced nothing: no unit '" + target.unit +
                                  "' ran (units that ran: " + joined(units) + ")");
        } else if (!target.function.empty() &&
                   std::find(functions.begin(), functions.end(), target.function) == functions.end()) {
            printWarning(err, text + " traced nothing: no function '" + target.function + "' of unit '" +
                                  target.unit + "' ran (its functions that ran: " + joined(functions) + ")");
        }
    }
}

}  // namespace host
