#include "dot_commands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "catalog_listing.h"
#include "hub/ds/scenario.h"
#include "hub/ds/seams.h"
#include "sql_session.h"
#include "version_report.h"

namespace host {

namespace {

constexpr std::string_view kHelp =
    ".help                 this list\n"
    ".tables               the providers' tables, then the scenario's\n"
    ".schema [TABLE]       how the hub's catalog defines a provider's table; a scenario's table as created\n"
    ".mode table|csv|json  how results are printed\n"
    ".output [FILE]        results to FILE (emptied first); without FILE, to standard output again\n"
    ".read FILE            run the statements and dot-commands of FILE\n"
    ".trace SETTING|off    switch trace classes on, as --trace does (kqvmsql=input); off: every class off\n"
    ".timer on|off         after each statement, its wall time and the rows it printed\n"
    ".scenario [FILE]      load another hub from FILE (its tables answered by the same provider);\n"
    "                      without FILE, name the one loaded\n"
    ".objects              what the data server holds open, by kind (between statements: nothing)\n"
    ".version              what --version prints: the host's version, the provider's version and build\n"
    ".quit                 end the session (so does Ctrl-D; Ctrl-C stops the running statement)\n";

// The words after the command's name: separated by blanks, a word in quotes
// ('...' or "...") may hold blanks.
std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> found;
    std::size_t at = 0;
    while (true) {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
        if (at == text.size()) return found;
        if (text[at] == '\'' || text[at] == '"') {
            const std::size_t close = text.find(text[at], at + 1);
            if (close == std::string_view::npos) throw std::invalid_argument("a quote is not closed: " + std::string(text));
            found.emplace_back(text.substr(at + 1, close - at - 1));
            at = close + 1;
        } else {
            const std::size_t start = at;
            while (at < text.size() && !std::isspace(static_cast<unsigned char>(text[at]))) ++at;
            found.emplace_back(text.substr(start, at - start));
        }
    }
}

struct Command {
    std::string usage;  // after the name
    std::size_t fewest;
    std::size_t most;
    std::function<DotOutcome(Session&, const std::vector<std::string>&, const ReadFile&)> run;
};

constexpr DotOutcome kDone{kExitOk, false};

bool onOrOff(const std::string& word, const std::string& command) {
    if (word == "on") return true;
    if (word == "off") return false;
    throw std::invalid_argument("." + command + " " + word + ": expected on or off");
}

DotOutcome loadScenario(Session& session, const std::filesystem::path& file) {
    std::shared_ptr<const hub::ds::Scenario> next = hub::ds::Scenario::fromFile(file);
    attachRegisteredTables(*next, session.table, session.passes);
    hub::ds::useScenario(next);
    session.scenario = std::move(next);
    return kDone;
}

DotOutcome redirectOutput(Session& session, const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        session.outputFile.reset();
        return kDone;
    }
    errno = 0;
    auto file = std::make_unique<std::ofstream>(arguments[0], std::ios::trunc);
    if (!*file) {
        throw std::runtime_error(".output " + arguments[0] + ": cannot open it for writing" +
                                 (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()));
    }
    session.outputFile = std::move(file);
    return kDone;
}

DotOutcome printOpenObjects(Session& session) {
    using hub::ds::ObjectKind;
    const char* separator = "";
    for (const ObjectKind kind : {ObjectKind::Request, ObjectKind::ViewStorage, ObjectKind::Path,
                                  ObjectKind::AccessPlan, ObjectKind::SqlRequest, ObjectKind::Output}) {
        session.out() << std::exchange(separator, ", ") << hub::ds::kindName(kind) << ": "
                      << hub::ds::liveObjects(kind);
    }
    session.out() << '\n';
    return kDone;
}

DotOutcome quit(Session&, const std::vector<std::string>&, const ReadFile&) { return {kExitOk, true}; }

const std::map<std::string, Command, std::less<>> kCommands{
    {"help", {"", 0, 0, [](Session& s, const auto&, const auto&) { s.out() << kHelp; return kDone; }}},
    {"tables", {"", 0, 0, [](Session& s, const auto&, const auto&) { printTables(s.out(), *s.scenario); return kDone; }}},
    {"schema",
     {"[TABLE]", 0, 1,
      [](Session& s, const auto& a, const auto&) {
          printSchema(s.out(), *s.scenario, a.empty() ? std::nullopt : std::optional<std::string>(a[0]));
          return kDone;
      }}},
    {"mode",
     {"table|csv|json", 1, 1, [](Session& s, const auto& a, const auto&) { s.format = parseFormat(a[0]); return kDone; }}},
    {"output", {"[FILE]", 0, 1, [](Session& s, const auto& a, const auto&) { return redirectOutput(s, a); }}},
    {"read", {"FILE", 1, 1, [](Session&, const auto& a, const auto& read) { return DotOutcome{read(a[0]), false}; }}},
    {"trace",
     {"SETTING...|off", 1, SIZE_MAX,
      [](Session& s, const auto& a, const auto&) {
          if (a.size() == 1 && a[0] == "off") {
              s.trace.clear();
          } else {
              for (const std::string& setting : a) s.trace.apply(setting, ".trace");
          }
          return kDone;
      }}},
    {"timer",
     {"on|off", 1, 1, [](Session& s, const auto& a, const auto&) { s.timer = onOrOff(a[0], "timer"); return kDone; }}},
    {"scenario",
     {"[FILE]", 0, 1,
      [](Session& s, const auto& a, const auto&) {
          if (!a.empty()) return loadScenario(s, a[0]);
          s.out() << s.scenario->name() << '\n';
          return kDone;
      }}},
    {"objects", {"", 0, 0, [](Session& s, const auto&, const auto&) { return printOpenObjects(s); }}},
    {"version",
     {"", 0, 0,
      [](Session& s, const auto&, const auto&) {
          printVersion(s.out(), s.provider, s.provider.table(s.table));
          return kDone;
      }}},
    {"quit", {"", 0, 0, quit}},
    {"exit", {"", 0, 0, quit}},
};

}  // namespace

DotOutcome runDotCommand(std::string_view line, Session& session,
                         const ReadFile& readFile) {
    line.remove_prefix(1);
    const std::size_t nameEnd = std::min(line.size(), line.find_first_of(" \t"));
    const std::string name(line.substr(0, nameEnd));
    const std::vector<std::string> arguments = words(line.substr(nameEnd));
    const auto command = kCommands.find(name);
    if (command == kCommands.end()) throw std::invalid_argument("unknown command ." + name + " (.help lists them)");
    const Command& c = command->second;
    if (arguments.size() < c.fewest || arguments.size() > c.most) {
        throw std::invalid_argument("usage: ." + name + (c.usage.empty() ? "" : " " + c.usage));
    }
    return c.run(session, arguments, readFile);
}

}  // namespace host
