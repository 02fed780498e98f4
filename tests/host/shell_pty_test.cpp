// kqvhost -i as a person uses it: typed at a pseudo-terminal, read back from
// it. Every wait is bounded, so that a prompt that never comes fails the test
// instead of hanging the suite.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto kPatience = 120s;  // the 32-bit build runs under emulation

// A program on the far side of a pseudo-terminal.
class Terminal {
  public:
    Terminal(std::vector<std::string> arguments, const std::vector<std::string>& environment) {
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::vector<std::string> variables = environment;
        for (char** variable = environ; *variable != nullptr; ++variable) {
            const std::string name = std::string(*variable).substr(0, std::string(*variable).find('='));
            const bool replaced = std::any_of(environment.begin(), environment.end(),
                                              [&](const std::string& given) { return given.rfind(name + "=", 0) == 0; });
            if (!replaced && name != "KQVHOST_HISTORY") variables.emplace_back(*variable);
        }
        std::vector<char*> envp;
        for (std::string& variable : variables) envp.push_back(variable.data());
        envp.push_back(nullptr);

        winsize size{};
        size.ws_row = 50;
        size.ws_col = 250;  // no line wraps
        pid_ = forkpty(&fd_, nullptr, nullptr, &size);
        if (pid_ == 0) {
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
    }
    ~Terminal() {
        if (pid_ > 0 && !status_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0) close(fd_);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool started() const { return pid_ > 0; }

    void type(const std::string& keys) { ASSERT_EQ(write(fd_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size())); }

    // Waits for `text` in what the program wrote since the last wait, and
    // returns all of that up to and including the text; nothing on a timeout.
    std::optional<std::string> waitFor(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (true) {
            if (const std::size_t at = output_.find(text, seen_); at != std::string::npos) {
                std::string consumed = output_.substr(seen_, at + text.size() - seen_);
                seen_ = at + text.size();
                return consumed;
            }
            if (std::chrono::steady_clock::now() > deadline || !readSome()) return std::nullopt;
        }
    }

    // Waits until the program reads keys one by one, as the line editor
    // does once its prompt is up: keys typed before that are still read by
    // the terminal as the rest of a line.
    bool editing() {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        termios modes{};
        while (tcgetattr(fd_, &modes) == 0 && (modes.c_lflag & ICANON) != 0) {
            if (std::chrono::steady_clock::now() > deadline || !readSome()) return false;
        }
        return true;
    }

    // All the program wrote, for a failure's message.
    const std::string& output() const { return output_; }

    // The exit status once the program ends; -1 when it does not in time.
    int exitStatus() {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (!status_ && std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else if (!readSome()) {
                std::this_thread::sleep_for(50ms);
            }
        }
        return status_.value_or(-1);
    }

  private:
    // False once the terminal is closed.
    bool readSome() {
        pollfd ready{fd_, POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) return true;
        char buffer[4096];
        const ssize_t got = read(fd_, buffer, sizeof buffer);
        if (got <= 0) return false;
        // The terminal ends lines with CR LF.
        std::copy_if(buffer, buffer + got, std::back_inserter(output_), [](char c) { return c != '\r'; });
        return true;
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    std::string output_;
    std::size_t seen_ = 0;
    std::optional<int> status_;
};

class ShellAtATerminal : public ::testing::Test {
  protected:
    void SetUp() override {
        home_ = fs::temp_directory_path() / ("kqvhost-shell-" + std::to_string(getpid()));
        fs::create_directories(home_);
    }
    void TearDown() override { fs::remove_all(home_); }

    Terminal start(const std::vector<std::string>& options = {}) {
        std::vector<std::string> arguments{KQV_HOST_PATH, "-i"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return Terminal(arguments, {"HOME=" + home_.string(), "TERM=xterm"});
    }

    // The default hub and an origin node with `agents` agents behind it: a
    // scan that gathers from them all takes long.
    fs::path largeHub(int agents) const {
        std::ifstream standard(KQV_DEFAULT_SCENARIO);
        const fs::path file = home_ / "large.sql";
        std::ofstream out(file);
        out << standard.rdbuf()
            << "INSERT INTO Y6SRV.INODESTS VALUES ('ZAVRIN:PLX9.SYSZ:vRK', 'V', 'Y', "
               "'00000000000020000000000000000000050000000000');\n"
               "INSERT INTO Y6SRV.TNODELST WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
            << agents
            << ") SELECT 'QV:Z' || i || ':PLX9', 'V', 'ZAVRIN:PLX9.SYSZ:vRK' FROM n;\n"
               "INSERT INTO HUB.AGENTS (NODE) SELECT NODE FROM Y6SRV.TNODELST WHERE NODE LIKE '%:PLX9';\n";
        return file;
    }

    fs::path home_;
};

#define EXPECT_SHOWN(terminal, text) \
    EXPECT_TRUE((terminal).waitFor(text)) << "never shown: " << (text) << "\n--- the terminal:\n" << (terminal).output()

TEST_F(ShellAtATerminal, ASessionAsAPersonTypesIt) {
    Terminal terminal = start();
    ASSERT_TRUE(terminal.started());
    EXPECT_SHOWN(terminal, ".help lists the dot-commands");
    EXPECT_SHOWN(terminal, "kqvhost> ");

    // A statement over two lines.
    terminal.type("SELECT DW_NAME, STATUS\r");
    EXPECT_SHOWN(terminal, "    ...> ");
    terminal.type("FROM KQVDWSYS WHERE STATUS > 12;\r");
    EXPECT_SHOWN(terminal, "DW_NAME  STATUS\n-------  ------\nDWD2         16\n(1 row)\nkqvhost> ");

    terminal.type(".mode csv\rSELECT DW_NAME FROM KQVDWSYS WHERE STATUS = 12;\r");
    EXPECT_SHOWN(terminal, "DW_NAME\nDWC2\nkqvhost> ");

    // Trace classes switched on and off while the session runs: the
    // provider's lines follow at once.
    terminal.type(".trace kqvmsql=input\rSELECT COUNT(*) AS N FROM KQVDWSYS;\r");
    EXPECT_SHOWN(terminal, "kqvmsql.kqvsqlp:");
    EXPECT_SHOWN(terminal, "N\n10\nkqvhost> ");
    terminal.type(".trace off\rSELECT COUNT(*) AS M FROM KQVDWSYS;\r");
    const auto untraced = terminal.waitFor("M\n10\nkqvhost> ");
    ASSERT_TRUE(untraced) << terminal.output();
    EXPECT_EQ(untraced->find("kqvmsql."), std::string::npos) << *untraced;

    // A syntax error, and the next statement still answered.
    terminal.type("SELEC 1;\rSELECT 6 * 7 AS answer;\r");
    EXPECT_SHOWN(terminal, "kqvhost: near \"SELEC\": syntax error");
    EXPECT_SHOWN(terminal, "answer\n42\n");

    // Ctrl-C while a scan gathers from thousands of agents: the statement
    // stops, and the data server holds nothing open afterwards.
    terminal.type(".scenario " + largeHub(5000).string() + "\r.trace kqvmsql=input\r");
    terminal.type("SELECT COUNT(*) FROM KQVDWSYS;\r");
    EXPECT_SHOWN(terminal, ":PLX9')");  // a statement routed to one of the agents
    terminal.type("\x03");
    const auto stopped = terminal.waitFor("kqvhost: interrupted (in: SELECT COUNT(*) FROM KQVDWSYS)\n");
    ASSERT_TRUE(stopped) << terminal.output();
    // The agents not yet asked are not asked: no failure of each in the hub's log.
    std::size_t logged = 0;
    for (std::size_t at = stopped->find(" ds: "); at != std::string::npos; at = stopped->find(" ds: ", at + 1)) ++logged;
    EXPECT_LE(logged, 3u) << *stopped;
    terminal.type(".trace off\r.objects\r");
    EXPECT_SHOWN(terminal,
                 "request: 0, view storage: 0, path: 0, access plan: 0, SQL request: 0, output: 0\nkqvhost> ");

    terminal.type(".quit\r");
    EXPECT_EQ(terminal.exitStatus(), 0) << terminal.output();
}

// Lines are edited and remembered, characters beyond ASCII too: Ctrl-C
// drops the line being typed, the up arrow brings back the last statement,
// Ctrl-D leaves, and the history is kept in the home directory.
TEST_F(ShellAtATerminal, LinesAreEditedAndRemembered) {
    if (dlopen("libedit.so.2", RTLD_NOW | RTLD_LOCAL) == nullptr) GTEST_SKIP() << "libedit is not installed";
    Terminal terminal = start();
    ASSERT_TRUE(terminal.started());
    EXPECT_SHOWN(terminal, "kqvhost> ");
    ASSERT_TRUE(terminal.editing());
    terminal.type("SELECT hex('\u00e9') AS remembered;\r");
    EXPECT_SHOWN(terminal, "C3A9\n(1 row)\nkqvhost> ");
    ASSERT_TRUE(terminal.editing());
    terminal.type("SELECT 'dropped'");
    EXPECT_SHOWN(terminal, "'dropped'");  // all of it echoed before the Ctrl-C
    terminal.type("\x03");  // one Ctrl-C drops the line
    EXPECT_SHOWN(terminal, "kqvhost> ");
    ASSERT_TRUE(terminal.editing());
    terminal.type("\x1b[A\r");  // the up arrow
    EXPECT_SHOWN(terminal, "C3A9\n(1 row)\nkqvhost> ");
    ASSERT_TRUE(terminal.editing());
    terminal.type("\x04");
    EXPECT_EQ(terminal.exitStatus(), 0) << terminal.output();
    EXPECT_EQ(terminal.output().find("dropped\n(1 row)"), std::string::npos)
        << "the dropped line ran:\n" << terminal.output();

    std::ifstream history(home_ / ".kqvhost_history");
    const std::string kept((std::istreambuf_iterator<char>(history)), {});
    EXPECT_NE(kept.find("remembered"), std::string::npos) << kept;
}

}  // namespace
