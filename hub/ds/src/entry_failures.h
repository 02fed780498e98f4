// Failures of provider entries during the scans of the statement that this
// thread runs. A scan cannot always report them through the engine (ending
// a scan has no status), so they are kept here until the statement's runner
// takes them.
#pragma once

#include <optional>
#include <string>

namespace hub::ds {

void recordEntryFailure(const std::string& message);
// Every failure recorded on this thread since the last call, in one message.
std::optional<std::string> takeEntryFailures();

}  // namespace hub::ds
