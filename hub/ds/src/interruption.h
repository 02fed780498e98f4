// A statement that the console interrupts (hub/ds/console.h) fails with
// SQLite's "interrupted" as soon as the engine looks; until then, the
// provider whose scan it runs may still be gathering, one statement per
// agent. The SQL service refuses that work at once, and says so once, rather
// than have each of those statements fail on its own.
#pragma once

#include <string>

#include "hub/ds/scenario.h"

namespace hub::ds {

// True when a statement on the scenario's connection is being interrupted:
// the call is to be refused with status::kInterrupted. The first refusal of
// an interruption is logged, naming `where`.
bool refuseWhileInterrupted(const Scenario& scenario, const std::string& where);

// A new statement starts on the connection: an interruption of an earlier
// one is spent.
void interruptionSpent(const Scenario& scenario);

}  // namespace hub::ds
