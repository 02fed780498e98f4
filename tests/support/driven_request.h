// One request on table KQVDWSYS driven through a provider's entries as the
// data server drives it: call by call, pass by pass, or whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "hub/ds/request.h"
#include "platform/registration.h"
#include "provider/kqvdwsys.h"

namespace kqvtest {

inline constexpr int32_t kNoMoreRows = 62;

// What a whole request got from each entry.
struct WholeRun {
    int32_t start = -1;
    std::vector<int32_t> processing;
    int32_t termination = -1;
    std::vector<DWSysRecord> rows;  // as PutItem item 2 received them
};

class DrivenRequest {
  public:
    // Through the entries of the provider linked into the test program.
    explicit DrivenRequest(std::vector<hub::ds::Filter> filters = {})
        : DrivenRequest(*CNT1_entryList[0].vector, std::move(filters)) {}
    DrivenRequest(const PRB1_VectorRecord& entries, std::vector<hub::ds::Filter> filters);
    ~DrivenRequest();  // ends the request if it was started and not ended
    DrivenRequest(const DrivenRequest&) = delete;
    DrivenRequest& operator=(const DrivenRequest&) = delete;

    int32_t start();
    int32_t process();
    int32_t terminate();
    // Processing calls until one returns other than 0, at most `maxCalls`;
    // the status of each.
    std::vector<int32_t> drain(std::size_t maxCalls = 100000);
    // The rows of one pass, from its first processing call to 62 (anything
    // else fails the test).
    std::vector<DWSysRecord> pass();
    // Start; processing until a call returns anything but 0 (a single call
    // after a failed start, to see what a request's later calls get);
    // `beforeTermination`; termination.
    WholeRun runWhole(std::size_t maxProcessCalls = 100000, const std::function<void()>& beforeTermination = {});

    hub::ds::Request& request() { return request_; }
    DWSYWORK& work() const;  // throws std::logic_error before a start registered one
    // Every row handed back so far.
    std::vector<DWSysRecord> rows() const;

  private:
    const PRB1_VectorRecord& entries_;
    hub::ds::Request request_;
    bool started_ = false;
    bool ended_ = false;
};

}  // namespace kqvtest
