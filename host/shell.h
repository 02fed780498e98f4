// kqvhost -i: an interactive session on the scenario's hub, loaded and its
// provider registered once for the whole session. Statements end with ';'
// and may span lines; lines that begin with '.' are dot-commands
// (dot_commands.h).
#pragma once

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "hub/ds/scenario.h"
#include "line_reader.h"
#include "provider_library.h"
#include "result_format.h"
#include "trace_settings.h"

namespace host {

// What a session works on, and what its dot-commands change.
struct Session {
    ProviderLibrary& provider;
    const std::string table;  // the provider's table that every hub must define
    const int passes;
    std::shared_ptr<const hub::ds::Scenario> scenario;
    TraceSettings& trace;
    Format format = Format::Table;
    bool timer = false;
    // .output FILE; standard output when none.
    std::unique_ptr<std::ofstream> outputFile;

    std::ostream& out() { return outputFile ? *outputFile : std::cout; }
};

// Reads statements and dot-commands from standard input until its end or
// .quit. At a terminal: a banner and prompts, lines edited where libedit is
// at hand, a failure reported and the session going on, Ctrl-C stopping the
// running statement; returns 0. From a pipe or a file: no banner or prompt,
// and the first failure ends the session with its status (as --read -).
// `historyFile`: where a terminal session keeps its history, if anywhere.
int runShell(Session& session, const std::optional<std::filesystem::path>& historyFile);

// The history file of a user's sessions: $KQVHOST_HISTORY, or else
// ~/.kqvhost_history; none without either variable.
std::optional<std::filesystem::path> defaultHistoryFile();

}  // namespace host
