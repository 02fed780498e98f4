// Ctrl-C in an interactive session: it stops the statement that runs, or
// drops the line being typed, instead of ending the program.
#pragma once

#include "hub/ds/scenario.h"

namespace host {

// While it lives, SIGINT is caught. Blocking reads are not restarted after
// it, so that a read at the prompt returns and the line can be dropped.
class InterruptCatcher {
  public:
    InterruptCatcher();
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;

    // Whether Ctrl-C was pressed since the last call.
    static bool takeInterrupt();
    // Whether it was, leaving that for takeInterrupt to see.
    static bool interruptPending();
};

// While it lives, Ctrl-C interrupts the statement running on the scenario.
class InterruptibleStatement {
  public:
    explicit InterruptibleStatement(const hub::ds::Scenario& scenario);
    ~InterruptibleStatement();
    InterruptibleStatement(const InterruptibleStatement&) = delete;
    InterruptibleStatement& operator=(const InterruptibleStatement&) = delete;
};

}  // namespace host
