// The rules that say which trace classes are on for a function.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace hub::trace::detail {

// Not synchronised: the facility guards it.
class ClassRules {
  public:
    // Empty unit: the global default; empty function: the whole unit.
    // Throws std::invalid_argument for a function without a unit.
    void set(std::string_view unit, std::string_view function, int32_t classes);
    void clear();

    // The narrowest rule that applies: function, then unit, then global.
    int32_t resolve(std::string_view unit, std::string_view function) const;

  private:
    struct UnitRules {
        std::optional<int32_t> whole;
        std::map<std::string, int32_t, std::less<>> functions;
    };

    int32_t global_ = 0;
    std::map<std::string, UnitRules, std::less<>> units_;
};

}  // namespace hub::trace::detail
