// The scenario used when none is named: a small hub that shows every
// behaviour of the table.
#pragma once

#include <string_view>

namespace host {

std::string_view defaultScenario();

}  // namespace host
