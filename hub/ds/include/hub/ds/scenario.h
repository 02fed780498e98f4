// The whole hub that the data server's SQL service answers from: a plain SQL
// script loaded into an in-memory SQLite database. The script's conventions
// are described at the top of src/scenario.cpp.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "hub/ds/table_definition.h"

struct sqlite3;

namespace hub::ds {

// What HUB.AGENTS says about one agent.
struct AgentProfile {
    std::string node;
    bool reachable = true;
    std::optional<int32_t> columns;    // the shape of the agent's rows, if not the statement's
    std::optional<int32_t> failFetch;  // which Fetch after each open fails
};

// Read-only once loaded; statements of any number of threads run on it at once.
class Scenario {
  public:
    // Both throw std::runtime_error naming the scenario (the file's path),
    // SQLite's message and, where it is known, the failing statement and its
    // line.
    static std::shared_ptr<const Scenario> fromScript(std::string_view script,
                                                      std::string name = "(inline scenario)");
    static std::shared_ptr<const Scenario> fromFile(const std::filesystem::path& file);

    ~Scenario();
    Scenario(const Scenario&) = delete;
    Scenario& operator=(const Scenario&) = delete;

    const std::string& name() const { return name_; }

    // Null when HUB.AGENTS has no row for the node (compared exactly).
    std::optional<AgentProfile> agent(std::string_view node) const;

    // The definition of a provider's table in the hub's catalog: the
    // scenario's own (HUB.TABLECOLS), or the default scenario's when the
    // scenario has none for the table. Null when neither has one.
    std::optional<TableDefinition> tableDefinition(std::string_view table) const;

    // The default scenario, loaded once when first asked for.
    static const Scenario& defaultHub();

    // Opened with full mutexing: statements may be stepped from any thread.
    sqlite3* connection() const { return db_; }

  private:
    Scenario(std::string name, sqlite3* db, std::vector<TableDefinition> definitions)
        : name_(std::move(name)), db_(db), definitions_(std::move(definitions)) {}

    const TableDefinition* ownDefinition(std::string_view table) const;

    std::string name_;
    sqlite3* db_;
    std::vector<TableDefinition> definitions_;
};

// The hub that the stand-in ships: scenarios/default.sql.
std::string_view defaultScenarioScript();

// A table's definition in the current scenario's catalog, or in the default
// scenario's when there is no current scenario.
std::optional<TableDefinition> findTableDefinition(std::string_view table);

// The tables a scenario must leave, without rows: a start for a new one.
std::string_view scenarioSchema();

// The scenario that new paths answer from; paths already created keep theirs.
// Null means none: sql1cpth then fails.
void useScenario(std::shared_ptr<const Scenario> scenario);
std::shared_ptr<const Scenario> currentScenario();

}  // namespace hub::ds
