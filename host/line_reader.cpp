#include "line_reader.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iostream>

#include "interrupt.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <dlfcn.h>
#include <locale.h>
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

// The next byte typed; EOF at the end of input or once Ctrl-C is pressed.
// The editor's own reader gives up on a read interrupted by a signal only at
// the second interruption, so that one Ctrl-C would not drop the line; this
// one gives up at the first, even one pressed while the editor was busy
// between two reads: SIGINT is let in only while a key is waited for.
int readByte(int descriptor) {
    sigset_t interrupt;
    sigset_t previous;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, &previous);
    int byte = EOF;
    while (!InterruptCatcher::interruptPending()) {
        pollfd input{descriptor, POLLIN, 0};
        if (ppoll(&input, 1, nullptr, &previous) < 0) {
            if (errno == EINTR) continue;  // Ctrl-C, or a signal to read on after
            break;
        }
        unsigned char got = 0;
        if (read(descriptor, &got, 1) == 1) byte = got;
        break;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return byte;
}

// The editor's source of keys: a character, decoded from the bytes typed in
// the locale the reader uses (the editor takes each value for a character),
// or EOF, which the editor takes for the end of the line.
extern "C" int readKey(FILE* stream) {
    const int descriptor = stream != nullptr ? fileno(stream) : STDIN_FILENO;
    std::mbstate_t state{};
    while (true) {
        const int byte = readByte(descriptor);
        if (byte == EOF) return EOF;
        const char narrow = static_cast<char>(byte);
        wchar_t wide = 0;
        const std::size_t used = std::mbrtowc(&wide, &narrow, 1, &state);
        if (used == static_cast<std::size_t>(-2)) continue;  // a character of several bytes, not complete
        if (used == static_cast<std::size_t>(-1)) return byte;  // not a character: the byte as it is
        return static_cast<int>(wide);
    }
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

// The character set of the user's environment (LANG, LC_ALL, LC_CTYPE), in
// use on the calling thread while it lives: the editor reads and shows
// characters beyond ASCII only in it. The rest of the program keeps the C
// locale, on every thread.
class UserCharacterSet {
  public:
    UserCharacterSet() : locale_(newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0))) {
        if (locale_ != static_cast<locale_t>(0)) previous_ = uselocale(locale_);
    }
    ~UserCharacterSet() {
        if (locale_ == static_cast<locale_t>(0)) return;
        uselocale(previous_);
        freelocale(locale_);
    }
    UserCharacterSet(const UserCharacterSet&) = delete;
    UserCharacterSet& operator=(const UserCharacterSet&) = delete;

  private:
    locale_t locale_;
    locale_t previous_ = LC_GLOBAL_LOCALE;
};

class EditingTerminalReader final : public LineReader {
  public:
    EditingTerminalReader(std::unique_ptr<EditLibrary> library, std::optional<std::filesystem::path> historyFile)
        : library_(std::move(library)), historyFile_(std::move(historyFile)) {
        const UserCharacterSet characters;
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
        char* line = nullptr;
        {
            const UserCharacterSet characters;
            line = library_->readline(prompt.c_str());
        }
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
