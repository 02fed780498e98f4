#include "hub/ds/console.h"

#include <sqlite3.h>

#include <atomic>
#include <cctype>

#include "hublog.h"
#include "interruption.h"

namespace hub::ds {

namespace {

// The connection whose statement is being interrupted; one at a time, as a
// console runs one statement at a time. Lock-free, for a signal handler.
std::atomic<sqlite3*> interruptedConnection{nullptr};
std::atomic<bool> refusalLogged{false};
static_assert(std::atomic<sqlite3*>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// Text that is nothing but blanks and whole comments: no statement has begun.
bool onlyBlanksAndComments(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        if (std::isspace(static_cast<unsigned char>(text[at]))) {
            ++at;
        } else if (text.substr(at, 2) == "--") {
            at = text.find('\n', at);
            if (at == std::string_view::npos) return true;
        } else if (text.substr(at, 2) == "/*") {
            const std::size_t close = text.find("*/", at + 2);
            if (close == std::string_view::npos) return false;  // the comment goes on
            at = close + 2;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

SplitStatements splitStatements(std::string_view text) {
    SplitStatements split;
    std::size_t start = 0;
    for (std::size_t end = text.find(';'); end != std::string_view::npos; end = text.find(';', end + 1)) {
        std::string candidate(text.substr(start, end + 1 - start));
        if (sqlite3_complete(candidate.c_str()) == 1) {
            split.statements.push_back(std::move(candidate));
            start = end + 1;
        }
    }
    if (!onlyBlanksAndComments(text.substr(start))) split.rest = text.substr(start);
    return split;
}

void interruptStatement(const Scenario& scenario) noexcept {
    refusalLogged.store(false);
    interruptedConnection.store(scenario.connection());
    sqlite3_interrupt(scenario.connection());
}

bool refuseWhileInterrupted(const Scenario& scenario, const std::string& where) {
    if (interruptedConnection.load() != scenario.connection()) return false;
    if (!refusalLogged.exchange(true)) {
        logLine(where, ": the statement is being interrupted: nothing more is started for it");
    }
    return true;
}

void interruptionSpent(const Scenario& scenario) {
    sqlite3* connection = scenario.connection();
    interruptedConnection.compare_exchange_strong(connection, nullptr);
}

}  // namespace hub::ds
