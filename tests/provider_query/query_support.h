// What the query tests share: a work area and real node list built by hand
// for calling the collection and the summarisation directly, and readers of
// what the stand-in hub saw.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "driven_request.h"
#include "hub_fixture.h"
#include "work_area.h"
#include "platform/ras1.h"
#include "provider/kqvdwsys.h"

#ifndef KQV_TEST_KEEPS_HIGHEST_STATUS
#error "KQV_TEST_KEEPS_HIGHEST_STATUS must say which STATUS rule the linked provider follows"
#endif

namespace querytest {

// Duplicates keep the highest STATUS (the Windows rule) rather than the first.
inline constexpr bool kKeepsHighestStatus = KQV_TEST_KEEPS_HIGHEST_STATUS != 0;

using kqvtest::DrivenRequest;
using kqvtest::kNoMoreRows;
inline constexpr std::string_view kPanelSuffix = ":vRK:HarborStatusPanel";

// The fixed start of every per-node statement, up to and including " AT('".
inline constexpr std::string_view kStatementHead =
    "SELECT ORIGINNODE, TIMESTAMP, VARNNAME, RQMID, SYSNAME, DW_NAME, CONNHVTCT, STG_ALLOC, "
    "STG_USED, DUMPTBLSZ, DUMPTBLIUS, TOTSTGCTL, STATUS, DWLEVEL  FROM KQV.QVALCSYS AT('";

// The per-node statement for the two literal contents exactly as written
// (apostrophes already doubled).
std::string nodeStatement(std::string_view atLiteral, std::string_view originLiteral);

// `text` cut or filled with `fill` to `width` bytes.
std::string padded(std::string_view text, std::size_t width, char fill = ' ');

// A fixed-width field with all its bytes.
template <std::size_t N>
std::string field(const char (&bytes)[N]) {
    return std::string(bytes, N);
}

// A row as a node would deliver it; fields blank-padded.
struct RowValues {
    std::string dwName = "DW1";
    std::string varnex = "PLX1";
    int32_t status = 0;
    std::string sysname = "SYS1";
    std::string timestamp = "1261208093000000";
    std::string rqmid = "RQM1";
    std::string originNode = "ZAVRIN:PLX1.SYS1:vRK";
    int32_t numbers[6] = {1, 2, 3, 4, 5, 6};
    int32_t dwlevel = 700;
};
DWSysRecord makeRecord(const RowValues& values);

// A work area laid out as the request start lays it, with filters reset as a
// gathering call resets them and an empty results table.
class OwnWorkArea : public kqvtest::WorkArea {
  public:
    void setOriginnodeFilter(std::string_view value);
    // The results list walked from First.
    std::vector<DWSysRecord> results() const;
};

// A real node table filled by hand, walked in the order the nodes were added.
class RealNodeList {
  public:
    RealNodeList();
    ~RealNodeList();
    RealNodeList(const RealNodeList&) = delete;
    RealNodeList& operator=(const RealNodeList&) = delete;

    // Fields copied as given into zero-filled fields (cut to the field); the
    // varnex is blank-padded.
    RealNodeElement& add(std::string_view realNode, std::string_view originNode,
                         std::string_view varnex);
    QVDWSYAPI& api() { return api_; }

  private:
    QVDWSYAPI api_{};
};

// Statements sent to the agents (CreateAccessPlan on KQV.QVALCSYS), in order.
std::vector<hub::ds::CallRecord> nodeStatementCalls();
std::vector<std::string> nodeStatements();
// The agent that each node statement was routed to, apostrophes undoubled.
std::vector<std::string> queriedAgents();

// Every class but the given one.
inline constexpr int32_t allClassesBut(int32_t traceClass) { return kTraceAll & ~traceClass; }

// Texts of the lines of `unit`/`function` that start with `prefix`.
std::vector<std::string> linesStartingWith(const std::vector<std::string>& lines,
                                           std::string_view prefix);

class QueryTest : public kqvtest::HubFixture {
  protected:
    void SetUp() override {
        HubFixture::SetUp();
        hub::ds::startRecording();
    }

    // Lines of `unit`/`function` written by `run`, once with only
    // `traceClass` on and once with every other class on. Faults and the
    // capture are reset before each run.
    struct GatedLines {
        std::vector<std::string> classOn;
        std::vector<std::string> classOff;
    };
    GatedLines linesGatedBy(int32_t traceClass, std::string_view unit, std::string_view function,
                            const std::function<void()>& run);

    // The value of the last exit event of `function` (flow class must be on).
    int32_t lastExitValue(std::string_view unit, std::string_view function);
};

}  // namespace querytest
