#include "class_rules.h"

#include <stdexcept>

namespace hub::trace::detail {

void ClassRules::set(std::string_view unit, std::string_view function, int32_t classes) {
    if (unit.empty()) {
        if (!function.empty()) {
            throw std::invalid_argument("trace classes for function '" + std::string(function) +
                                        "' need the name of its unit");
        }
        global_ = classes;
        return;
    }
    auto found = units_.find(unit);
    if (found == units_.end()) found = units_.emplace(std::string(unit), UnitRules{}).first;
    UnitRules& rules = found->second;
    if (function.empty()) {
        rules.whole = classes;
        return;
    }
    auto slot = rules.functions.find(function);
    if (slot == rules.functions.end()) {
        rules.functions.emplace(std::string(function), classes);
    } else {
        slot->second = classes;
    }
}

void ClassRules::clear() {
    global_ = 0;
    units_.clear();
}

int32_t ClassRules::resolve(std::string_view unit, std::string_view function) const {
    const auto rules = units_.find(unit);
    if (rules == units_.end()) return global_;
    if (const auto exact = rules->second.functions.find(function);
        exact != rules->second.functions.end()) {
        return exact->second;
    }
    return rules->second.whole.value_or(global_);
}

}  // namespace hub::trace::detail
