// What every provider test starts from: a scenario loaded into the stand-in
// data server, its faults and call log reset, trace settings cleared and
// every trace record captured.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "hub/ds/request.h"
#include "hub/ds/scenario.h"
#include "hub/ds/seams.h"
#include "hub/trace.h"

namespace kqvtest {

// The project's default scenario (scenarios/default.sql).
std::string_view defaultScenarioScript();

// Values of one agent's status row, in column order after AGENT.
struct StatusRow {
    std::string agent;
    std::string originNode;
    std::string dwName;
    std::string varnex;
    int status = 0;
    std::string sysname = "SYS1";
    std::string rqmid = "RQM1";
    std::string timestamp = "1261208093000000";
    int numbers[6] = {1, 2, 3, 4, 5, 6};  // CONNHVTCT to TOTSTGCTL
    int dwlevel = 700;
};

// Builds a scenario script from the schema and rows given piece by piece.
class ScenarioBuilder {
  public:
    // An online origin node of type V with the affinity the provider asks
    // for and the given agent version at positions 33 and 34.
    ScenarioBuilder& originNode(std::string_view name, std::string_view agentVersion = "05");
    // Any catalog row.
    ScenarioBuilder& catalogRow(std::string_view node, std::string_view nodeType,
                                std::string_view online, std::string_view affinities);
    // A real node in the node list of `originNode`.
    ScenarioBuilder& realNode(std::string_view node, std::string_view originNode);
    // An agent the hub can route to.
    ScenarioBuilder& agent(std::string_view node, bool reachable = true, int columns = 0,
                           int failFetch = 0);
    ScenarioBuilder& row(const StatusRow& row);
    // Raw SQL appended as it is.
    ScenarioBuilder& sql(std::string_view statements);
    std::string script() const;

  private:
    std::string inserts_;
};

// A SQL literal: quoted, apostrophes doubled.
std::string sqlLiteral(std::string_view text);

class HubFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Makes the script the data server's current scenario.
    void useScenario(std::string_view script);

    // Trace classes for every unit and function.
    void traceAll(int32_t classes);

    // Texts of the captured lines (not events) of one unit, or one function.
    std::vector<std::string> lines(std::string_view unit, std::string_view function = {}) const {
        return capture_.lines(unit, function);
    }
    hub::trace::Capture& capture() { return capture_; }

  private:
    hub::trace::Capture capture_;
};

}  // namespace kqvtest
