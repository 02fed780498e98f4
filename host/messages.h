// What the host writes on standard error, and whether what it wrote reached
// its streams.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace host {

// "kqvhost: <message>" on a line of its own, the message escaped as values
// are (a backslash left as it is, as paths on Windows have them): text from a
// file or a statement reaches the terminal as no control byte.
void printError(std::ostream& err, std::string_view message);
void printWarning(std::ostream& err, std::string_view message);

// Flushes `out`. When it, or an earlier write, failed: why, as the system
// tells it (": No space left on device"), or an empty text.
std::optional<std::string> writeFailure(std::ostream& out);

}  // namespace host
