// Trace settings as they are given on a command line.
#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "hub/trace.h"
#include "platform/ras1.h"

namespace hub::trace {
namespace {

constexpr std::array<std::pair<std::string_view, int32_t>, 7> kClassNames{{
    {"detail", kTraceDetail},
    {"input", kTraceInput},
    {"state", kTraceState},
    {"flow", kTraceFlow},
    {"error", kTraceError},
    {"all", kTraceAll},
    {"none", 0},
}};

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

// A class given as a number; anything that fits in 32 bits, as the facility
// may know more classes than the provider tests.
std::optional<int32_t> parseNumber(std::string_view item) {
    int base = 10;
    if (item.size() > 2 && item[0] == '0' && (item[1] == 'x' || item[1] == 'X')) {
        base = 16;
        item.remove_prefix(2);
    }
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), value, base);
    if (error != std::errc{} || end != item.data() + item.size()) return std::nullopt;
    return static_cast<int32_t>(value);
}

int32_t parseClass(std::string_view item, std::string_view list) {
    if (item.empty()) throw std::invalid_argument("empty trace class in " + quoted(list));
    for (const auto& [name, bits] : kClassNames) {
        if (equalsIgnoringCase(item, name)) return bits;
    }
    if (std::isdigit(static_cast<unsigned char>(item.front()))) {
        if (const auto number = parseNumber(item)) return *number;
        throw std::invalid_argument("bad trace class number " + quoted(item) + " in " + quoted(list) +
                                    " (decimal or 0x-prefixed hexadecimal, at most 32 bits)");
    }
    throw std::invalid_argument("unknown trace class " + quoted(item) + " in " + quoted(list) +
                                " (known: detail, input, state, flow, error, all, none, or a number such as 0x41)");
}

bool isNameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '$';
}

void checkName(std::string_view what, std::string_view name, std::string_view setting) {
    const auto bad = std::find_if_not(name.begin(), name.end(), isNameCharacter);
    if (bad != name.end()) {
        throw std::invalid_argument("trace setting " + quoted(setting) + ": " + std::string(what) + " " +
                                    quoted(name) + " holds the character " + quoted(std::string_view(&*bad, 1)));
    }
}

}  // namespace

int32_t parseClasses(std::string_view text) {
    if (text.empty()) throw std::invalid_argument("no trace classes given");
    int32_t classes = 0;
    std::string_view rest = text;
    while (true) {
        const auto comma = rest.find(',');
        classes |= parseClass(rest.substr(0, comma), text);
        if (comma == std::string_view::npos) return classes;
        rest.remove_prefix(comma + 1);
    }
}

SettingTarget applySetting(std::string_view setting) {
    const auto equals = setting.find('=');
    if (equals == std::string_view::npos) {
        try {
            setClasses({}, {}, parseClasses(setting));
        } catch (const std::invalid_argument& error) {
            throw std::invalid_argument("trace setting " + quoted(setting) + ": " + error.what());
        }
        return {};
    }
    const std::string_view target = setting.substr(0, equals);
    const std::string_view classText = setting.substr(equals + 1);
    if (classText.find('=') != std::string_view::npos) {
        throw std::invalid_argument("trace setting " + quoted(setting) + ": more than one '='");
    }
    const auto dot = target.find('.');
    const std::string_view unit = target.substr(0, dot);
    const std::string_view function = dot == std::string_view::npos ? std::string_view{} : target.substr(dot + 1);
    if (unit.empty()) throw std::invalid_argument("trace setting " + quoted(setting) + ": the unit name is missing");
    checkName("unit", unit, setting);
    if (dot != std::string_view::npos) {
        if (function.empty()) {
            throw std::invalid_argument("trace setting " + quoted(setting) + ": the function name after '.' is missing");
        }
        checkName("function", function, setting);
    }
    int32_t classes = 0;
    try {
        classes = parseClasses(classText);
    } catch (const std::invalid_argument& error) {
        throw std::invalid_argument("trace setting " + quoted(setting) + ": " + error.what());
    }
    setClasses(unit, function, classes);
    return {std::string(unit), std::string(function)};
}

}  // namespace hub::trace
