// What a user hands the host program: scenario text and statement text, any
// bytes included. A scenario is loaded after the tables that every scenario
// must have; statements run on the default scenario. Neither may hang,
// crash, write a file or change the loaded scenario.
//
// input := mode:u8 text
//   mode even: the text is statements, run on the default scenario;
//   mode odd: the text is a scenario's, after the required tables.
//
// The engine's work per input is bounded (a progress handler on every
// connection), so that a statement that runs for ever by right, as a
// recursive CTE without end does, fails; a loop of the hub's own code around
// the engine still runs for ever, and shows as a timeout.
#include <sqlite3.h>

#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

#include "hub/ds/scenario.h"
#include "hub/ds/statements.h"
#include "require.h"
#include "targets.h"

namespace fuzzing {

namespace {

// Reads every byte of every value while it is valid, as the host's output
// does, so that a view the runner hands out into freed memory shows.
class ValueReader : public hub::ds::ResultSink {
  public:
    void begin(const hub::ds::ResultHeader&) override {}
    void row(std::span<const hub::ds::ValueView> values) override {
        for (const auto& value : values) {
            std::string_view bytes;
            if (const auto* text = std::get_if<std::string_view>(&value)) bytes = *text;
            if (const auto* blob = std::get_if<hub::ds::BlobView>(&value)) bytes = blob->bytes;
            for (const char c : bytes) sum_ += static_cast<unsigned char>(c);
        }
    }
    void end() override {}

  private:
    unsigned sum_ = 0;
};

// About a million of the engine's instructions per input: some tens of
// milliseconds, twenty times what the seed's generated hub of a thousand
// agents takes (a recursive CTE of a hundred thousand rows is cut short: it
// would only slow the fuzzing down).
constexpr int kInstructionsPerCheck = 1000;
constexpr int kChecksPerInput = 1000;
int checksLeft = kChecksPerInput;

int onProgress(void*) { return --checksLeft < 0 ? 1 : 0; }

// Run by SQLite for every connection it opens from now on.
int boundWork(sqlite3* db, char**, const sqlite3_api_routines*) {
    sqlite3_progress_handler(db, kInstructionsPerCheck, onProgress, nullptr);
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 1 << 20);
    return SQLITE_OK;
}

struct Fixture {
    std::shared_ptr<const hub::ds::Scenario> scenario;
    std::string state;  // of the scenario once loaded
};

int64_t number(sqlite3* db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    KQV_REQUIRE(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK, "a check does not prepare");
    const int64_t value = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
    sqlite3_finalize(statement);
    return value;
}

// What statements on a loaded scenario may not change: its rows, its
// databases, its being read-only, its case-sensitive LIKE.
std::string stateOf(const hub::ds::Scenario& scenario) {
    sqlite3* db = scenario.connection();
    return "changes " + std::to_string(sqlite3_total_changes64(db)) + ", agents " +
           std::to_string(number(db, "SELECT COUNT(*) FROM HUB.AGENTS")) + ", databases " +
           std::to_string(number(db, "SELECT COUNT(*) FROM pragma_database_list")) + ", query_only " +
           std::to_string(number(db, "PRAGMA query_only")) + ", 'a' LIKE 'A' " +
           std::to_string(number(db, "SELECT 'a' LIKE 'A'"));
}

Fixture& fixture() {
    static Fixture* const loaded = [] {
        KQV_REQUIRE(sqlite3_auto_extension(reinterpret_cast<void (*)()>(boundWork)) == SQLITE_OK,
                    "the work bound is not installed");
        auto* fixture = new Fixture;
        fixture->scenario = hub::ds::Scenario::fromScript(hub::ds::defaultScenarioScript(), "the default scenario");
        fixture->state = stateOf(*fixture->scenario);
        return fixture;
    }();
    return *loaded;
}

}  // namespace

void runHostInput(const uint8_t* data, std::size_t size) {
    Fixture& loaded = fixture();
    if (size == 0) return;
    const bool isScenario = (data[0] & 1) != 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    checksLeft = kChecksPerInput;
    if (isScenario) {
        try {
            hub::ds::Scenario::fromScript(std::string(hub::ds::scenarioSchema()) + text, "(fuzz input)");
        } catch (const std::runtime_error&) {
        }
        return;
    }
    try {
        ValueReader reader;
        hub::ds::runStatements(*loaded.scenario, text, reader);
    } catch (const hub::ds::StatementError&) {
    } catch (const hub::ds::EntryFailure&) {
    }
    checksLeft = kChecksPerInput;
    KQV_REQUIRE(stateOf(*loaded.scenario) == loaded.state, "statements changed the loaded scenario");
}

}  // namespace fuzzing
