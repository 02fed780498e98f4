// The call log, injected failures and spoils armed for later calls.
#include <atomic>
#include <map>
#include <mutex>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "hub/ds/call.h"
#include "object.h"

namespace hub::ds {

std::string_view opName(Op op) {
    switch (op) {
        case Op::GetItem: return "GetItem";
        case Op::PutItem: return "PutItem";
        case Op::GetViewStorage: return "GetViewStorage";
        case Op::Sql1cpli: return "sql1cpli";
        case Op::Sql1cpth: return "sql1cpth";
        case Op::CreateAccessPlan: return "CreateAccessPlan";
        case Op::CreateRequest: return "CreateRequest";
        case Op::DropPath: return "DropPath";
        case Op::DropPlan: return "DropPlan";
        case Op::DropRequest: return "DropRequest";
        case Op::OpenRequest: return "OpenRequest";
        case Op::CloseRequest: return "CloseRequest";
        case Op::GetInputSQLDA: return "GetInputSQLDA";
        case Op::GetOutputSQLDA: return "GetOutputSQLDA";
        case Op::Fetch: return "Fetch";
    }
    return "?";
}

namespace {

struct NthCallFault {
    Op op;
    std::optional<int32_t> item;
    uint64_t n;
    int32_t status;
    uint64_t seen = 0;
};

struct PendingSpoil {
    enum class Subject { Serial, Target, Created } subject;
    uint64_t serial;
};

class CallLog {
  public:
    static CallLog& instance() {
        static CallLog* log = new CallLog;  // never destroyed, like the registry
        return *log;
    }

    std::pair<uint64_t, std::optional<int32_t>> begin(Op op, int32_t item) {
        const uint64_t index = counter_.fetch_add(1, std::memory_order_relaxed) + 1;
        if (!watching_.load(std::memory_order_acquire)) return {index, std::nullopt};
        std::lock_guard lock(mutex_);
        std::optional<int32_t> injected;
        if (const auto found = indexFaults_.find(index); found != indexFaults_.end()) {
            injected = found->second;
            indexFaults_.erase(found);
        }
        for (auto it = nthFaults_.begin(); it != nthFaults_.end();) {
            if (it->op == op && (!it->item || *it->item == item) && ++it->seen == it->n) {
                if (!injected) injected = it->status;
                it = nthFaults_.erase(it);
            } else {
                ++it;
            }
        }
        updateWatching();
        return {index, injected};
    }

    void finish(const CallRecord& call, std::string_view text) {
        if (!watching_.load(std::memory_order_acquire)) return;
        std::vector<uint64_t> toSpoil;
        {
            std::lock_guard lock(mutex_);
            const auto [first, last] = spoils_.equal_range(call.index);
            for (auto it = first; it != last; ++it) {
                switch (it->second.subject) {
                    case PendingSpoil::Subject::Serial: toSpoil.push_back(it->second.serial); break;
                    case PendingSpoil::Subject::Target: toSpoil.push_back(call.target); break;
                    case PendingSpoil::Subject::Created: toSpoil.push_back(call.created); break;
                }
            }
            spoils_.erase(first, last);
            if (recording_) {
                records_.push_back(call);
                records_.back().text = text;
            }
            updateWatching();
        }
        for (const uint64_t serial : toSpoil) {
            if (serial != 0) Registry::instance().spoil(serial);
        }
    }

    void setRecording(bool on) {
        std::lock_guard lock(mutex_);
        recording_ = on;
        updateWatching();
    }
    std::vector<CallRecord> records() const {
        std::lock_guard lock(mutex_);
        return records_;
    }
    uint64_t lastIndex() const { return counter_.load(std::memory_order_relaxed); }

    void addNthFault(NthCallFault fault) {
        std::lock_guard lock(mutex_);
        nthFaults_.push_back(fault);
        updateWatching();
    }
    void addIndexFault(uint64_t index, int32_t status) {
        std::lock_guard lock(mutex_);
        indexFaults_[index] = status;
        updateWatching();
    }
    void addSpoil(uint64_t index, PendingSpoil spoil) {
        std::lock_guard lock(mutex_);
        spoils_.emplace(index, spoil);
        updateWatching();
    }

    void reset() {
        std::lock_guard lock(mutex_);
        recording_ = false;
        records_.clear();
        nthFaults_.clear();
        indexFaults_.clear();
        spoils_.clear();
        counter_.store(0, std::memory_order_relaxed);
        updateWatching();
    }

  private:
    CallLog() = default;

    // Calls skip the lock while nothing is recorded or armed.
    void updateWatching() {
        watching_.store(recording_ || !nthFaults_.empty() || !indexFaults_.empty() || !spoils_.empty(),
                        std::memory_order_release);
    }

    std::atomic<uint64_t> counter_{0};
    std::atomic<bool> watching_{false};
    mutable std::mutex mutex_;
    bool recording_ = false;
    std::vector<CallRecord> records_;
    std::vector<NthCallFault> nthFaults_;
    std::map<uint64_t, int32_t> indexFaults_;
    std::multimap<uint64_t, PendingSpoil> spoils_;
};

}  // namespace

CallScope::CallScope(Op op, int32_t item, std::string_view text) : op_(op), item_(item), text_(text) {
    std::tie(index_, injected_) = CallLog::instance().begin(op, item);
}

int32_t CallScope::finish(int32_t status) {
    CallLog::instance().finish(CallRecord{index_, op_, item_, target_, status, {}, created_}, text_);
    return status;
}

void startRecording() { CallLog::instance().setRecording(true); }
void stopRecording() { CallLog::instance().setRecording(false); }
std::vector<CallRecord> recordedCalls() { return CallLog::instance().records(); }
uint64_t lastCallIndex() { return CallLog::instance().lastIndex(); }

void failNthCall(Op op, uint64_t n, int32_t status, std::optional<int32_t> item) {
    if (n == 0) throw std::invalid_argument("failNthCall: calls are counted from 1");
    CallLog::instance().addNthFault(NthCallFault{op, item, n, status});
}

void failCallAt(uint64_t index, int32_t status) { CallLog::instance().addIndexFault(index, status); }

void spoilAfterCall(uint64_t index, uint64_t serial) {
    CallLog::instance().addSpoil(index, PendingSpoil{PendingSpoil::Subject::Serial, serial});
}

void spoilAfterCall(uint64_t index, CallObject which) {
    const auto subject = which == CallObject::Target ? PendingSpoil::Subject::Target : PendingSpoil::Subject::Created;
    CallLog::instance().addSpoil(index, PendingSpoil{subject, 0});
}

void reset() {
    CallLog::instance().reset();
    Registry::instance().releaseSqlObjects();
}

}  // namespace hub::ds
