#include "driven_request.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kqvtest {

DrivenRequest::DrivenRequest(const PRB1_VectorRecord& entries, std::vector<hub::ds::Filter> filters)
    : entries_(entries), request_("KQVDWSYS", std::move(filters)) {}

DrivenRequest::~DrivenRequest() {
    if (started_ && !ended_) entries_.terminate.entry(request_.handle());
}

int32_t DrivenRequest::start() {
    const int32_t status = entries_.start.entry(request_.handle());
    started_ = status == 0;
    return status;
}

int32_t DrivenRequest::process() { return entries_.process.entry(request_.handle()); }

int32_t DrivenRequest::terminate() {
    ended_ = true;
    return entries_.terminate.entry(request_.handle());
}

std::vector<int32_t> DrivenRequest::drain(std::size_t maxCalls) {
    std::vector<int32_t> statuses;
    // Bounded, so that a provider that never says "no more rows" fails the test.
    for (std::size_t call = 0; call < maxCalls; ++call) {
        statuses.push_back(process());
        if (statuses.back() != 0) break;
    }
    return statuses;
}

std::vector<DWSysRecord> DrivenRequest::pass() {
    request_.clearRows();
    const std::vector<int32_t> statuses = drain();
    EXPECT_EQ(statuses.back(), kNoMoreRows) << "the pass does not end with 62";
    return rows();
}

WholeRun DrivenRequest::runWhole(std::size_t maxProcessCalls, const std::function<void()>& beforeTermination) {
    WholeRun run;
    run.start = start();
    run.processing = run.start == 0 ? drain(maxProcessCalls) : std::vector<int32_t>{process()};
    if (beforeTermination) beforeTermination();
    run.termination = terminate();
    run.rows = rows();
    return run;
}

DWSYWORK& DrivenRequest::work() const {
    auto* work = static_cast<DWSYWORK*>(request_.workArea());
    if (work == nullptr) throw std::logic_error("the request has no work area");
    return *work;
}

std::vector<DWSysRecord> DrivenRequest::rows() const {
    std::vector<DWSysRecord> rows;
    for (const auto& row : request_.rows()) rows.push_back(row.as<DWSysRecord>());
    return rows;
}

}  // namespace kqvtest
