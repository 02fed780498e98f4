// The trace settings of a run (--trace, and .trace in a session), and what
// they traced.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "hub/trace.h"

namespace host {

class TraceSettings {
  public:
    // Applies the setting; throws std::invalid_argument as hub::trace does.
    // `how` names where it came from in warnings ("--trace", ".trace").
    void apply(const std::string& setting, std::string_view how = "--trace");

    // Every class off, and no setting left to warn of.
    void clear();

    // A warning for each setting whose unit, or function, ran no traced
    // code: a name the provider does not have traces nothing, and says
    // nothing. The warning names the units, or the unit's functions, that
    // did run. Nothing when no unit ran at all.
    void warnOfUnused(std::ostream& err) const;

  private:
    struct Applied {
        std::string text;  // as given, after where it came from
        hub::trace::SettingTarget target;
    };
    std::vector<Applied> applied_;
};

}  // namespace host
