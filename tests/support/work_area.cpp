#include "work_area.h"

#include <cstring>
#include <stdexcept>

#include "util/kqvmutl.h"

// Exported by provider builds made with TEST_SEAMS, the only ones that tests
// calling the merge directly link.
extern "C" void (*kqvHeapRelease)(void*);

namespace kqvtest {

WorkArea::WorkArea() : work_(std::make_unique<DWSYWORK>()) {
    std::memcpy(work_->eyeCatcher, "DWSYWORK", 8);
    std::memset(work_->idnameFilter, ' ', 8);
    std::memset(work_->originnodeFilter, ' ', 32);
    if (RSLTinit(&work_->resultTable, static_cast<int32_t>(sizeof(DWSysResultElement)), 10) != 0) {
        throw std::runtime_error("no results table");
    }
    work_->resultList = &work_->resultTable->ElementList;
}

WorkArea::~WorkArea() {
    if (work_->resultTable != nullptr) RSLTdestroy(&work_->resultTable);
    if (work_->index.slots != nullptr) kqvHeapRelease(work_->index.slots);
}

}  // namespace kqvtest
