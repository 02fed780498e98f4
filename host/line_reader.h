// Where an interactive session's lines come from: a terminal, with line
// editing and history where the editing library is at hand, or a stream
// (a pipe, a file), without prompts.
#pragma once

#include <filesystem>
#include <istream>
#include <memory>
#include <optional>
#include <string>

namespace host {

class LineReader {
  public:
    enum class Outcome {
        Line,       // a line, without its end
        Cancelled,  // Ctrl-C while the line was typed: it is dropped
        End,        // end of input (Ctrl-D at a terminal)
    };
    struct Read {
        Outcome outcome;
        std::string line;
    };

    virtual ~LineReader() = default;
    // `prompt` is shown only at a terminal.
    virtual Read read(const std::string& prompt) = 0;
    // An entry that is complete (a statement over several lines is one),
    // for the history.
    virtual void remember(const std::string& /*entry*/) {}
    // Whether lines are edited (the editing library was loaded).
    virtual bool edits() const { return false; }
};

// Lines typed at the terminal on standard input. The editing library
// (libedit) is loaded when the program runs, so that the program needs it
// only where it is installed; without it, lines are read as they come. The
// history is read from, and written back to, `historyFile` when one is given.
std::unique_ptr<LineReader> terminalReader(const std::optional<std::filesystem::path>& historyFile);

// Lines of a stream; no prompt is shown.
std::unique_ptr<LineReader> streamReader(std::istream& in);

// Whether standard input is a terminal.
bool inputIsTerminal();

}  // namespace host
