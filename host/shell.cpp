#include "shell.h"

#include <chrono>
#include <cstdlib>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "dot_commands.h"
#include "hub/ds/console.h"
#include "hub/ds/sql_file.h"
#include "interrupt.h"
#include "messages.h"
#include "sql_session.h"
#include "version_report.h"

namespace host {

namespace {

const std::string kPrompt = "kqvhost> ";
const std::string kContinuation = "    ...> ";
// .read within .read within ...: a file that reads itself ends here.
constexpr int kDeepestRead = 16;

// The dot-command on the line, without the blanks before it; empty when
// the line holds none.
std::string_view dotCommandOf(std::string_view line) {
    const std::size_t first = line.find_first_not_of(" \t");
    return first != std::string_view::npos && line[first] == '.' ? line.substr(first) : std::string_view();
}

// Where lines come from: a terminal, standard input's pipe or a .read file.
struct Input {
    LineReader& reader;
    bool atTerminal;
    std::string source;  // for messages; empty for standard input
    int depth;           // of .read
};

class ShellRun {
  public:
    explicit ShellRun(Session& session) : session_(session) {}

    // The status of the first failure (at a terminal, 0: a failure is
    // reported and the session goes on), and whether .quit ended it.
    DotOutcome run(const Input& input) {
        std::string pending;  // a statement begun on earlier lines
        while (true) {
            const LineReader::Read read = input.reader.read(pending.empty() ? kPrompt : kContinuation);
            if (read.outcome == LineReader::Outcome::Cancelled) {
                pending.clear();
                continue;
            }
            if (read.outcome == LineReader::Outcome::End) break;
            const std::string& line = read.line;

            DotOutcome outcome{kExitOk, false};
            if (const std::string_view command = dotCommandOf(line); pending.empty() && !command.empty()) {
                input.reader.remember(line);
                outcome = dotCommand(command, input);
            } else {
                pending += line + '\n';
                outcome = statements(pending, input);
            }
            if (outcome.quit) return outcome;
            if (outcome.status != kExitOk && !input.atTerminal) return outcome;
        }
        if (input.atTerminal) std::cout << '\n';  // Ctrl-D left the cursor after the prompt
        // What the input ended in without a ';' runs as it is, as --read runs it.
        if (pending.empty()) return {kExitOk, false};
        const int status = statement(pending, input);
        return {input.atTerminal ? kExitOk : status, false};
    }

  private:
    // Runs the statements that `pending` completes and leaves in it what
    // follows them.
    DotOutcome statements(std::string& pending, const Input& input) {
        std::vector<std::string> complete;
        if (pending.find('\0') != std::string::npos) {
            complete.push_back(std::exchange(pending, {}));  // refused as a whole, with the byte's place
        } else {
            hub::ds::SplitStatements split = hub::ds::splitStatements(pending);
            complete = std::move(split.statements);
            if (!complete.empty()) {
                std::string entry = pending.substr(0, pending.size() - split.rest.size());
                while (!entry.empty() && (entry.back() == '\n' || entry.back() == ' ')) entry.pop_back();
                input.reader.remember(entry);
            }
            pending = std::move(split.rest);
        }
        // A failure, or Ctrl-C, drops the statements after it on the line.
        for (const std::string& text : complete) {
            if (const int status = statement(text, input); status != kExitOk) return {status, false};
        }
        return {kExitOk, false};
    }

    int statement(const std::string& text, const Input& input) {
        const auto started = std::chrono::steady_clock::now();
        std::size_t rows = 0;
        int status;
        {
            const InterruptibleStatement interruptible(*session_.scenario);
            status = runStatements(*session_.scenario, text, session_.format, session_.out(), std::cerr, input.source,
                                   &rows);
        }
        // Ctrl-C that came as the statement ended is spent on it.
        InterruptCatcher::takeInterrupt();
        if (session_.timer) {
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
            std::cerr << "Run time: " << std::fixed << std::setprecision(3) << took.count() << " s, " << rows
                      << (rows == 1 ? " row" : " rows") << '\n';
        }
        return status;
    }

    DotOutcome dotCommand(std::string_view line, const Input& input) {
        const std::string prefix = input.source.empty() ? std::string() : input.source + ": ";
        try {
            DotOutcome outcome = runDotCommand(line, session_, [&](const std::filesystem::path& file) {
                return readFile(file, input.depth + 1);
            });
            outcome.quit = outcome.quit || quitRead_;  // .quit in a file that .read ran
            return outcome;
        } catch (const std::exception& error) {
            printError(std::cerr, prefix + error.what());
            return {kExitBadInput, false};
        }
    }

    int readFile(const std::filesystem::path& file, int depth) {
        const std::string source = ".read " + file.string();
        if (depth > kDeepestRead) {
            throw std::runtime_error(source + ": .read nested more than " + std::to_string(kDeepestRead) + " deep");
        }
        std::istringstream text(hub::ds::readSqlFile(file, source));
        const std::unique_ptr<LineReader> reader = streamReader(text);
        const DotOutcome outcome = run(Input{*reader, false, source, depth});
        quitRead_ = outcome.quit;
        return outcome.status;
    }

    Session& session_;
    bool quitRead_ = false;
};

}  // namespace

std::optional<std::filesystem::path> defaultHistoryFile() {
    if (const char* named = std::getenv("KQVHOST_HISTORY"); named != nullptr && *named != '\0') return named;
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return std::filesystem::path(home) / ".kqvhost_history";
    }
    return std::nullopt;
}

int runShell(Session& session, const std::optional<std::filesystem::path>& historyFile) {
    ShellRun shell(session);
    if (!inputIsTerminal()) {
        const std::unique_ptr<LineReader> reader = streamReader(std::cin);
        return shell.run(Input{*reader, false, "", 0}).status;
    }
    const InterruptCatcher catcher;
    const std::unique_ptr<LineReader> reader = terminalReader(historyFile);
    std::cout << kHostVersion << ": table " << session.table << " of provider "
              << session.provider.path().lexically_normal().string() << " on " << session.scenario->name() << "\n"
              << "Statements end with ';'. .help lists the dot-commands; .quit or Ctrl-D leaves.\n";
    shell.run(Input{*reader, true, "", 0});
    return kExitOk;
}

}  // namespace host
