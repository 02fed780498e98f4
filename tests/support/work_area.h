// A work area laid out as the request start lays it, with filters reset as a
// gathering call resets them and an empty results table, for tests that call
// the collection and the merge directly. It destroys the tables it holds when
// it goes: the results and any identity index.
#pragma once

#include <memory>

#include "provider/kqvdwsys.h"

namespace kqvtest {

class WorkArea {
  public:
    WorkArea();
    ~WorkArea();
    WorkArea(const WorkArea&) = delete;
    WorkArea& operator=(const WorkArea&) = delete;

    DWSYWORK& work() { return *work_; }
    const DWSYWORK& work() const { return *work_; }

  private:
    std::unique_ptr<DWSYWORK> work_;
};

}  // namespace kqvtest
