// Scenarios: the hub as the data server's SQL service sees it.
//
// A scenario is a plain SQL script that the sqlite3 shell can run as it is
// (`sqlite3 :memory: < hub.sql`). It is run into a fresh in-memory database
// and must leave these tables, each with at least these columns (more
// columns and more tables are allowed):
//
//   ATTACH ':memory:' AS Y6SRV;  ATTACH ':memory:' AS KQV;  ATTACH ':memory:' AS HUB;
//   CREATE TABLE Y6SRV.INODESTS (NODE VARCHAR(32), NODETYPE CHAR(1), Y6ONLINE CHAR(1), AFFINITIES VARCHAR(44));
//   CREATE TABLE Y6SRV.TNODELST (NODE VARCHAR(32), NODETYPE CHAR(1), NODELIST VARCHAR(32));
//   CREATE TABLE HUB.AGENTS (NODE VARCHAR(32) PRIMARY KEY, REACHABLE INTEGER NOT NULL DEFAULT 1,
//                            COLUMNS INTEGER, FAIL_FETCH INTEGER);
//   CREATE TABLE KQV.QVALCSYS (AGENT VARCHAR(32) NOT NULL, ORIGINNODE CHAR(32), TIMESTAMP CHAR(16),
//                              VARNNAME CHAR(8), RQMID CHAR(4), SYSNAME CHAR(8), DW_NAME CHAR(8),
//                              CONNHVTCT INTEGER, STG_ALLOC INTEGER, STG_USED INTEGER, DUMPTBLSZ INTEGER,
//                              DUMPTBLIUS INTEGER, TOTSTGCTL INTEGER, STATUS INTEGER, DWLEVEL INTEGER);
//   INSERT INTO ... ;
//
// Y6SRV holds the hub's catalog, which statements read as they are.
//
// HUB.AGENTS lists the agents that a statement may be routed to with
// `FROM KQV.<table> AT('node')` (NODE compared as a fixed-width name is:
// trailing blanks do not count, leading ones and case do):
//   REACHABLE   0: the agent does not answer, OpenRequest fails.
//   COLUMNS     n (not null): the agent's rows carry n columns whatever the
//               statement selects: the first n of the select list, or all of
//               it followed by empty columns (length 0).
//   FAIL_FETCH  n (not null, above 0): the n-th Fetch after every open fails
//               with status kFetchFailed; the Fetches after it go on.
// An agent without a row is unknown: CreateAccessPlan fails.
//
// KQV.QVALCSYS holds every agent's rows; the AGENT column says whose. A
// statement routed to an agent sees only that agent's rows; a statement on
// it that is not routed is refused.
//
// HUB.TABLECOLS, if the scenario has it, defines the providers' tables
// (src/table_catalog.cpp); a table it does not define keeps its definition
// in the default scenario.
//
// How values come out of Fetch is decided by the declared type of the
// column they are read from (see ColumnForm in hub/ds/sqlservice.h): declare
// CHAR(n) for blank-padded text, INTEGER for 4-byte integers. To deliver bytes
// that no declared type would (embedded zeros, odd lengths), insert a BLOB
// (X'...') into any column; to deliver a negative length, insert NULL.
//
// Text compared with a literal ignores trailing blanks, so names and values
// may be stored blank-padded, as CHAR(n) holds them.
//
// A scenario reads and writes no file: its databases are attached as
// ':memory:' (src/scenario_guard.cpp says what is refused). After loading,
// the data server indexes the agents by name (KQV.QVALCSYS by AGENT,
// HUB.AGENTS by NODE), the database is read-only and LIKE is case-sensitive.
#include "hub/ds/scenario.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "dialect.h"
#include "hub/ds/sql_file.h"
#include "hublog.h"
#include "scenario_guard.h"
#include "sqlite_handles.h"
#include "table_catalog.h"

namespace hub::ds {

namespace {

struct RequiredTable {
    const char* schema;
    const char* table;
    std::vector<const char*> columns;
};

const std::vector<RequiredTable>& requiredTables() {
    static const std::vector<RequiredTable> tables{
        {"Y6SRV", "INODESTS", {"NODE", "NODETYPE", "Y6ONLINE", "AFFINITIES"}},
        {"Y6SRV", "TNODELST", {"NODE", "NODETYPE", "NODELIST"}},
        {"HUB", "AGENTS", {"NODE", "REACHABLE", "COLUMNS", "FAIL_FETCH"}},
        {"KQV",
         "QVALCSYS",
         {"AGENT", "ORIGINNODE", "TIMESTAMP", "VARNNAME", "RQMID", "SYSNAME", "DW_NAME", "CONNHVTCT", "STG_ALLOC",
          "STG_USED", "DUMPTBLSZ", "DUMPTBLIUS", "TOTSTGCTL", "STATUS", "DWLEVEL"}},
    };
    return tables;
}

std::string upper(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return result;
}

int lineOf(std::string_view script, const char* position) {
    return 1 + static_cast<int>(std::count(script.data(), position, '\n'));
}

const char* skipBlanksAndComments(const char* at, const char* end) {
    while (at < end) {
        if (std::isspace(static_cast<unsigned char>(*at))) {
            ++at;
        } else if (end - at >= 2 && at[0] == '-' && at[1] == '-') {
            while (at < end && *at != '\n') ++at;
        } else if (end - at >= 2 && at[0] == '/' && at[1] == '*') {
            constexpr std::string_view kClose = "*/";
            const char* close = std::search(at + 2, end, kClose.begin(), kClose.end());
            at = close == end ? end : close + 2;
        } else {
            break;
        }
    }
    return at;
}

// `refusal`: why the connection's guard refused an action, if it did.
void runScript(sqlite3* db, std::string_view script, const std::string& name, const std::string& refusal) {
    if (const auto nul = nulByteError(script)) throw std::runtime_error("scenario " + name + ": " + *nul);
    auto failure = [&](const char* at, const char* to) {
        const std::string reason = refusal.empty() ? sqlite3_errmsg(db) : sqlite3_errmsg(db) + (": " + refusal);
        return std::runtime_error("scenario " + name + ": line " + std::to_string(lineOf(script, at)) + ": " +
                                  reason + "; in: " + excerpt(std::string_view(at, to - at)));
    };
    const char* const end = script.data() + script.size();
    const char* at = script.data();
    while ((at = skipBlanksAndComments(at, end)) < end) {
        sqlite3_stmt* raw = nullptr;
        const char* tail = nullptr;
        const int prepared = sqlite3_prepare_v2(db, at, static_cast<int>(end - at), &raw, &tail);
        Statement statement(raw);
        if (prepared != SQLITE_OK) throw failure(at, end);
        if (statement) {
            int stepped;
            while ((stepped = sqlite3_step(statement.get())) == SQLITE_ROW) {
            }
            if (stepped != SQLITE_DONE) throw failure(at, tail);
        }
        at = tail;
    }
}

void checkTables(sqlite3* db, const std::string& name) {
    for (const RequiredTable& required : requiredTables()) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info(?1, ?2)", -1, &raw, nullptr) != SQLITE_OK) {
            throw std::runtime_error("scenario " + name + ": cannot read the tables: " + sqlite3_errmsg(db));
        }
        Statement statement(raw);
        sqlite3_bind_text(raw, 1, required.table, -1, SQLITE_STATIC);
        sqlite3_bind_text(raw, 2, required.schema, -1, SQLITE_STATIC);
        std::vector<std::string> columns;
        while (sqlite3_step(raw) == SQLITE_ROW) {
            columns.push_back(upper(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0))));
        }
        const std::string table = std::string(required.schema) + "." + required.table;
        if (columns.empty()) {
            throw std::runtime_error("scenario " + name + ": table " + table + " is missing (attach schema " +
                                     required.schema + " and create it)");
        }
        for (const char* column : required.columns) {
            if (std::find(columns.begin(), columns.end(), column) == columns.end()) {
                throw std::runtime_error("scenario " + name + ": table " + table + " has no column " + column);
            }
        }
    }
}

// A shape that an SQLDA cannot describe is the scenario's mistake, not the
// provider's: say so when loading.
void checkAgents(sqlite3* db, const std::string& name) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT NODE, COLUMNS FROM HUB.AGENTS WHERE COLUMNS < 0 OR COLUMNS > 32767", -1, &raw,
                           nullptr) != SQLITE_OK) {
        throw std::runtime_error("scenario " + name + ": cannot read HUB.AGENTS: " + sqlite3_errmsg(db));
    }
    Statement statement(raw);
    if (sqlite3_step(raw) == SQLITE_ROW) {
        const auto* node = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
        throw std::runtime_error("scenario " + name + ": HUB.AGENTS gives agent '" + (node ? node : "") +
                                 "' COLUMNS = " + std::to_string(sqlite3_column_int64(raw, 1)) +
                                 ", outside 0 to 32767");
    }
}

void execute(sqlite3* db, const char* sql, const std::string& name) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string reason = message ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        throw std::runtime_error("scenario " + name + ": " + sql + " failed: " + reason);
    }
}

// Routing looks an agent up by name for every statement: without these a
// scenario of many agents would time the data server's scans.
void indexAgentNames(sqlite3* db, const std::string& name) {
    const std::string collation(kFixedWidthCollation);
    for (const std::string& index :
         {"KQV.QVALCSYS_BY_AGENT_NAME ON QVALCSYS (AGENT COLLATE " + collation + ")",
          "HUB.AGENTS_BY_NAME ON AGENTS (NODE COLLATE " + collation + ")"}) {
        execute(db, ("CREATE INDEX IF NOT EXISTS " + index).c_str(), name);
    }
}

std::mutex& currentMutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

std::shared_ptr<const Scenario>& currentSlot() {
    static auto* slot = new std::shared_ptr<const Scenario>;
    return *slot;
}

}  // namespace

// Loaded once, when a catalog first needs it; kept for the whole process.
const Scenario& Scenario::defaultHub() {
    static const auto* hub = new std::shared_ptr<const Scenario>(fromScript(defaultScenarioScript(), "the default scenario"));
    return **hub;
}

std::shared_ptr<const Scenario> Scenario::fromScript(std::string_view script, std::string name) {
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(":memory:", &raw,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    Connection db(raw);
    if (opened != SQLITE_OK) {
        throw std::runtime_error("scenario " + name + ": cannot open a database: " +
                                 (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(opened)));
    }
    sqlite3_extended_result_codes(raw, 1);
    std::string refusal;
    guardLoading(raw, &refusal);
    runScript(raw, script, name, refusal);
    checkTables(raw, name);
    checkAgents(raw, name);
    indexAgentNames(raw, name);
    std::vector<TableDefinition> definitions = readTableCatalog(raw, name);
    execute(raw, "PRAGMA case_sensitive_like = ON", name);
    execute(raw, "PRAGMA query_only = ON", name);
    guardLoaded(raw);
    return std::shared_ptr<const Scenario>(new Scenario(std::move(name), db.release(), std::move(definitions)));
}

std::shared_ptr<const Scenario> Scenario::fromFile(const std::filesystem::path& file) {
    const std::string name = file.string();
    return fromScript(readSqlFile(file, "scenario " + name), name);
}

Scenario::~Scenario() { sqlite3_close_v2(db_); }

std::optional<AgentProfile> Scenario::agent(std::string_view node) const {
    static const std::string kAgentLookup = "SELECT REACHABLE, COLUMNS, FAIL_FETCH FROM HUB.AGENTS WHERE NODE = ?1 "
                                            "COLLATE " + std::string(kFixedWidthCollation);
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, kAgentLookup.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
        throw std::runtime_error("scenario " + name_ + ": cannot read HUB.AGENTS");
    }
    Statement statement(raw);
    sqlite3_bind_text(raw, 1, node.data(), static_cast<int>(node.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(raw) != SQLITE_ROW) return std::nullopt;
    AgentProfile profile;
    profile.node = std::string(node);
    profile.reachable = sqlite3_column_int64(raw, 0) != 0;
    if (sqlite3_column_type(raw, 1) != SQLITE_NULL) profile.columns = sqlite3_column_int(raw, 1);
    if (sqlite3_column_type(raw, 2) != SQLITE_NULL) profile.failFetch = sqlite3_column_int(raw, 2);
    return profile;
}

const TableDefinition* Scenario::ownDefinition(std::string_view table) const {
    for (const TableDefinition& definition : definitions_) {
        if (definition.name == table) return &definition;
    }
    return nullptr;
}

std::optional<TableDefinition> Scenario::tableDefinition(std::string_view table) const {
    if (const TableDefinition* own = ownDefinition(table)) return *own;
    if (const TableDefinition* standard = defaultHub().ownDefinition(table)) return *standard;
    return std::nullopt;
}

std::optional<TableDefinition> findTableDefinition(std::string_view table) {
    const std::shared_ptr<const Scenario> current = currentScenario();
    return current ? current->tableDefinition(table) : Scenario::defaultHub().tableDefinition(table);
}

std::string_view scenarioSchema() {
    return R"sql(
ATTACH ':memory:' AS Y6SRV;
ATTACH ':memory:' AS KQV;
ATTACH ':memory:' AS HUB;
CREATE TABLE Y6SRV.INODESTS (NODE VARCHAR(32), NODETYPE CHAR(1), Y6ONLINE CHAR(1), AFFINITIES VARCHAR(44));
CREATE TABLE Y6SRV.TNODELST (NODE VARCHAR(32), NODETYPE CHAR(1), NODELIST VARCHAR(32));
CREATE TABLE HUB.AGENTS (NODE VARCHAR(32) PRIMARY KEY, REACHABLE INTEGER NOT NULL DEFAULT 1,
                         COLUMNS INTEGER, FAIL_FETCH INTEGER);
CREATE TABLE KQV.QVALCSYS (AGENT VARCHAR(32) NOT NULL, ORIGINNODE CHAR(32), TIMESTAMP CHAR(16),
                           VARNNAME CHAR(8), RQMID CHAR(4), SYSNAME CHAR(8), DW_NAME CHAR(8),
                           CONNHVTCT INTEGER, STG_ALLOC INTEGER, STG_USED INTEGER, DUMPTBLSZ INTEGER,
                           DUMPTBLIUS INTEGER, TOTSTGCTL INTEGER, STATUS INTEGER, DWLEVEL INTEGER);
)sql";
}

void useScenario(std::shared_ptr<const Scenario> scenario) {
    std::shared_ptr<const Scenario> previous;  // released after the lock
    std::lock_guard lock(currentMutex());
    previous = std::exchange(currentSlot(), std::move(scenario));
}

std::shared_ptr<const Scenario> currentScenario() {
    std::lock_guard lock(currentMutex());
    return currentSlot();
}

}  // namespace hub::ds
