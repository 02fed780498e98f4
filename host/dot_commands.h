// The dot-commands of an interactive session, in the manner of the sqlite3
// shell: .help lists them.
#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

#include "shell.h"

namespace host {

// Runs the statements and dot-commands of a file in the session; returns
// the status.
using ReadFile = std::function<int(const std::filesystem::path&)>;

struct DotOutcome {
    int status;  // an exit status
    bool quit;   // .quit: the session ends
};

// Runs the command on `line` (which begins with '.'); .read runs its file
// with `readFile`. Throws std::invalid_argument for a command used wrongly
// and std::runtime_error for one that fails (a file that cannot be opened,
// a scenario that does not load), the session left as it was.
DotOutcome runDotCommand(std::string_view line, Session& session, const ReadFile& readFile);

}  // namespace host
