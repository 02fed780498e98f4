// Lines of the hub's log written by the data server, and SQL text as
// messages show it.
#pragma once

#include <optional>
#include <sstream>
#include <string>
#include <string_view>

namespace hub::ds {

inline constexpr std::string_view kLogComponent = "ds";

void writeLog(std::string_view component, const std::string& text);

template <typename... Parts>
void logLine(const Parts&... parts) {
    std::ostringstream out;
    (out << ... << parts);
    writeLog(kLogComponent, out.str());
}

// Text shown in a log line for a value handed in by a caller: quoted, with
// unprintable bytes escaped, and cut when very long.
std::string printable(std::string_view text);

// A statement as a message shows it: on one line and not too long.
std::string excerpt(std::string_view text);

// The engine takes a NUL byte for the end of SQL text, and would leave the
// rest unread: "line 2, column 7: a NUL byte ..." for the first one, null
// when the text holds none.
std::optional<std::string> nulByteError(std::string_view sql);

}  // namespace hub::ds
