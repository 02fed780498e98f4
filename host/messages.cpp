#include "messages.h"

#include <cerrno>
#include <system_error>

#include "result_format.h"

namespace host {

void printError(std::ostream& err, std::string_view message) {
    err << "kqvhost: " << escapedBytes(message, Backslash::AsIs) << '\n';
}

void printWarning(std::ostream& err, std::string_view message) {
    printError(err, "warning: " + std::string(message));
}

std::optional<std::string> writeFailure(std::ostream& out) {
    out.flush();
    if (out) return std::nullopt;
    // The stream has no reason of its own; the write that failed left it here.
    const int error = errno;
    return error != 0 ? ": " + std::generic_category().message(error) : std::string();
}

}  // namespace host
