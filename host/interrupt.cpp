#include "interrupt.h"

#include <atomic>
#include <csignal>

#include "hub/ds/console.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace host {

namespace {

// Lock-free, so that the handler may touch them.
std::atomic<bool> interruptPressed{false};
std::atomic<const hub::ds::Scenario*> runningOn{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<const hub::ds::Scenario*>::is_always_lock_free);

extern "C" void onInterrupt(int) {
#if defined(_WIN32)
    // The Windows runtime puts the default action back before it calls a handler.
    std::signal(SIGINT, onInterrupt);
#endif
    interruptPressed.store(true);
    if (const hub::ds::Scenario* scenario = runningOn.load()) {
        hub::ds::interruptStatement(*scenario);
        // The statement's message is to begin a line, not follow the "^C" of the terminal.
        [[maybe_unused]] const auto written = write(2, "\n", 1);
    }
}

#if !defined(_WIN32)
struct sigaction previousAction;
#else
void (*previousHandler)(int) = SIG_DFL;
#endif

}  // namespace

InterruptCatcher::InterruptCatcher() {
    interruptPressed.store(false);
#if defined(_WIN32)
    previousHandler = std::signal(SIGINT, onInterrupt);
#else
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a read at the prompt returns with EINTR
    sigaction(SIGINT, &action, &previousAction);
#endif
}

InterruptCatcher::~InterruptCatcher() {
#if defined(_WIN32)
    std::signal(SIGINT, previousHandler);
#else
    sigaction(SIGINT, &previousAction, nullptr);
#endif
}

bool InterruptCatcher::takeInterrupt() { return interruptPressed.exchange(false); }

bool InterruptCatcher::interruptPending() { return interruptPressed.load(); }

InterruptibleStatement::InterruptibleStatement(const hub::ds::Scenario& scenario) { runningOn.store(&scenario); }

InterruptibleStatement::~InterruptibleStatement() { runningOn.store(nullptr); }

}  // namespace host
