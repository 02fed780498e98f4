#include "hublog.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "hub/trace.h"

namespace hub::ds {

void writeLog(std::string_view component, const std::string& text) { hub::trace::log(component, text); }

std::string printable(std::string_view text) {
    constexpr std::size_t kShown = 300;
    std::string out = "'";
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        }
    }
    out += '\'';
    if (text.size() > kShown) out += "... (" + std::to_string(text.size()) + " bytes)";
    return out;
}

std::string excerpt(std::string_view text) {
    constexpr std::size_t kShown = 200;
    std::string result;
    bool space = false;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            space = !result.empty();
            continue;
        }
        if (space) result += ' ';
        space = false;
        result += c;
        if (result.size() >= kShown) return result + "...";
    }
    return result;
}

std::optional<std::string> nulByteError(std::string_view sql) {
    const std::size_t nul = sql.find('\0');
    if (nul == std::string_view::npos) return std::nullopt;
    const std::string_view before = sql.substr(0, nul);
    const auto line = 1 + std::count(before.begin(), before.end(), '\n');
    const std::size_t lineStart = before.rfind('\n');
    const std::size_t column = nul - (lineStart == std::string_view::npos ? 0 : lineStart + 1) + 1;
    return "line " + std::to_string(line) + ", column " + std::to_string(column) +
           ": a NUL byte, which SQL text cannot hold";
}

}  // namespace hub::ds
