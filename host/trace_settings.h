// The --trace settings of a run, and what they traced.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "hub/trace.h"

namespace host {

class TraceSettings {
  public:
    // Applies the setting; throws std::invalid_argument as hub::trace does.
    void apply(const std::string& setting);

    // A warning for each setting whose unit, or function, ran no traced
    // code: a name the provider does not have traces nothing, and says
    // nothing. The warning names the units, or the unit's functions, that
    // did run. Nothing when no unit ran at all.
    void warnOfUnused(std::ostream& err) const;

  private:
    struct Applied {
        std::string text;
        hub::trace::SettingTarget target;
    };
    std::vector<Applied> applied_;
};

}  // namespace host
