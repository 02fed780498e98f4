#include "line_reader.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "interrupt.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <dlfcn.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace host {

namespace {

// A line as a stream gives it: without a carriage return before its end, as
// text from Windows has one.
bool readLine(std::istream& in, std::string& line) {
    if (!std::getline(in, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

class StreamReader final : public LineReader {
  public:
    explicit StreamReader(std::istream& in) : in_(in) {}

    Read read(const std::string&) override {
        std::string line;
        if (readLine(in_, line)) return {Outcome::Line, std::move(line)};
        return {Outcome::End, {}};
    }

  private:
    std::istream& in_;
};

// A terminal without line editing: the terminal's own line discipline.
class PlainTerminalReader final : public LineReader {
  public:
    Read read(const std::string& prompt) override {
        InterruptCatcher::takeInterrupt();  // one pressed before the prompt drops no line
        std::cout << prompt << std::flush;
        std::string line;
        if (readLine(std::cin, line)) return {Outcome::Line, std::move(line)};
        // A read cut short by Ctrl-C fails like one at the end of input.
        if (InterruptCatcher::takeInterrupt()) {
            std::cin.clear();
            std::clearerr(stdin);
            std::cout << '\n';
            return {Outcome::Cancelled, {}};
        }
        return {Outcome::End, {}};
    }
};

#if !defined(_WIN32)
constexpr int kHistoryEntries = 1000;

// The editor's source of keys. Its own gives up on a read interrupted by a
// signal only at the second interruption, so that one Ctrl-C would not drop
// the line; this one ends the line (the editor takes the end of input for
// the end of the line) at the first, even one pressed while the editor was
// busy between two reads: SIGINT is let in only while the key is waited for.
extern "C" int readKey(FILE* stream) {
    const int descriptor = stream != nullptr ? fileno(stream) : STDIN_FILENO;
    sigset_t interrupt;
    sigset_t previous;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, &previous);
    int key = EOF;
    while (!InterruptCatcher::interruptPending()) {
        pollfd input{descriptor, POLLIN, 0};
        if (ppoll(&input, 1, nullptr, &previous) < 0) {
            if (errno == EINTR) continue;  // Ctrl-C, or a signal to read on after
            break;
        }
        unsigned char got = 0;
        if (read(descriptor, &got, 1) == 1) key = got;
        break;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return key;
}

// The few functions of libedit's readline interface that the reader uses,
// looked up when the library loads.
struct EditLibrary {
    void* handle = nullptr;
    char* (*readline)(const char*) = nullptr;
    int (*add_history)(const char*) = nullptr;
    int (*read_history)(const char*) = nullptr;
    int (*write_history)(const char*) = nullptr;
    void (*stifle_history)(int) = nullptr;
    int (*rl_initialize)() = nullptr;
    int* rl_catch_signals = nullptr;
    int (**rl_getc_function)(FILE*) = nullptr;

    // Null when the library or one of its functions is not there.
    static std::unique_ptr<EditLibrary> load() {
        auto library = std::make_unique<EditLibrary>();
        library->handle = dlopen("libedit.so.2", RTLD_NOW | RTLD_LOCAL);
        if (library->handle == nullptr) return nullptr;
        const bool found = library->find(library->readline, "readline") &&
                           library->find(library->add_history, "add_history") &&
                           library->find(library->read_history, "read_history") &&
                           library->find(library->write_history, "write_history") &&
                           library->find(library->stifle_history, "stifle_history") &&
                           library->find(library->rl_initialize, "rl_initialize") &&
                           library->find(library->rl_catch_signals, "rl_catch_signals") &&
                           library->find(library->rl_getc_function, "rl_getc_function");
        // Left loaded: the library keeps its state for the rest of the process.
        return found ? std::move(library) : nullptr;
    }

  private:
    template <typename Pointer>
    bool find(Pointer& pointer, const char* name) {
        pointer = reinterpret_cast<Pointer>(dlsym(handle, name));
        return pointer != nullptr;
    }
};

class EditingTerminalReader final : public LineReader {
  public:
    EditingTerminalReader(std::unique_ptr<EditLibrary> library, std::optional<std::filesystem::path> historyFile)
        : library_(std::move(library)), historyFile_(std::move(historyFile)) {
        // Ctrl-C is the session's own: the library is to leave SIGINT alone
        // (it would send the signal on to the whole process group).
        *library_->rl_catch_signals = 0;
        *library_->rl_getc_function = readKey;
        library_->rl_initialize();
        library_->stifle_history(kHistoryEntries);
        if (historyFile_) library_->read_history(historyFile_->c_str());
    }

    ~EditingTerminalReader() override {
        if (historyFile_) library_->write_history(historyFile_->c_str());
    }

    Read read(const std::string& prompt) override {
        InterruptCatcher::takeInterrupt();  // one pressed before the prompt drops no line
        char* line = library_->readline(prompt.c_str());
        if (line == nullptr) {
            if (InterruptCatcher::takeInterrupt()) {
                std::cout << '\n';
                return {Outcome::Cancelled, {}};
            }
            return {Outcome::End, {}};
        }
        std::string text(line);
        std::free(line);
        return {Outcome::Line, std::move(text)};
    }

    void remember(const std::string& entry) override { library_->add_history(entry.c_str()); }

    bool edits() const override { return true; }

  private:
    std::unique_ptr<EditLibrary> library_;
    std::optional<std::filesystem::path> historyFile_;
};
#endif

}  // namespace

std::unique_ptr<LineReader> terminalReader([[maybe_unused]] const std::optional<std::filesystem::path>& historyFile) {
#if !defined(_WIN32)
    if (auto library = EditLibrary::load()) {
        return std::make_unique<EditingTerminalReader>(std::move(library), historyFile);
    }
#endif
    return std::make_unique<PlainTerminalReader>();
}

std::unique_ptr<LineReader> streamReader(std::istream& in) { return std::make_unique<StreamReader>(in); }

bool inputIsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stdin)) != 0;
#else
    return isatty(STDIN_FILENO) != 0;
#endif
}

}  // namespace host
