// The SQL service: path, access plan, SQL request and output objects, whose
// statements run on the scenario that was current when the path was created.
#include "hub/ds/sqlservice.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "dialect.h"
#include "dispatch.h"
#include "hub/ds/scenario.h"
#include "interruption.h"
#include "sql/dssql.h"
#include "sqlda.h"
#include "sqlite_handles.h"

namespace hub::ds {

namespace {

struct Prepared {
    Statement statement;
    std::string error;  // empty when prepared
};

Prepared prepare(const Scenario& scenario, const std::string& sql) {
    sqlite3* db = scenario.connection();
    ConnectionLock lock(db);
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    Prepared result;
    if (sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size() + 1), SQLITE_PREPARE_PERSISTENT, &raw,
                           &tail) != SQLITE_OK) {
        result.error = sqlite3_errmsg(db);
        return result;
    }
    result.statement.reset(raw);
    while (tail != nullptr && (std::isspace(static_cast<unsigned char>(*tail)) || *tail == ';')) ++tail;
    if (!result.statement) {
        result.error = "the statement is empty";
    } else if (tail != nullptr && *tail != '\0') {
        result.error = "more than one statement";
    } else if (!sqlite3_stmt_readonly(raw) || sqlite3_column_count(raw) == 0) {
        result.error = "not a query";
    }
    if (!result.error.empty()) result.statement.reset();
    return result;
}

// The schemas whose tables (or their indexes) the statement's program opens.
std::vector<std::string> schemasRead(sqlite3* db, const std::string& sql) {
    ConnectionLock lock(db);
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, ("EXPLAIN " + sql).c_str(), -1, &raw, nullptr) != SQLITE_OK) {
        throw std::runtime_error(std::string("cannot explain the statement: ") + sqlite3_errmsg(db));
    }
    Statement explained(raw);
    std::vector<std::string> schemas;
    while (sqlite3_step(raw) == SQLITE_ROW) {
        const auto* opcode = reinterpret_cast<const char*>(sqlite3_column_text(raw, 1));
        const std::string_view op = opcode ? opcode : "";
        if (op != "OpenRead" && op != "ReopenIdx" && op != "OpenWrite") continue;
        const char* schema = sqlite3_db_name(db, sqlite3_column_int(raw, 4));
        if (schema && std::find(schemas.begin(), schemas.end(), schema) == schemas.end()) schemas.emplace_back(schema);
    }
    return schemas;
}

// A statement at the hub reads none of the agents' tables, and one routed to
// an agent reads nothing else, whatever names lead there (an unqualified
// table name, a view). Returns why the statement is refused, or nothing.
std::string misreadTables(const Scenario& scenario, const TranslatedStatement& translated, sqlite3_stmt* prepared) {
    if (sqlite3_stmt_isexplain(prepared)) return {};
    for (const std::string& schema : schemasRead(scenario.connection(), translated.sql)) {
        const bool agents = isAgentSchema(schema);
        if (agents && !translated.agent) {
            return "the statement reads an agent's table (schema " + schema +
                   "): route the statement with AT('node')";
        }
        if (!agents && translated.agent) {
            return "a statement routed to an agent reads only the agent's tables, not those of schema " + schema;
        }
    }
    return {};
}

class PathObject final : public Object {
  public:
    static constexpr ObjectKind kKind = ObjectKind::Path;
    PathObject(std::shared_ptr<const Scenario> scenario, std::string server);

    const std::shared_ptr<const Scenario> scenario;
    const std::string server;
};

class PlanObject final : public Object {
  public:
    static constexpr ObjectKind kKind = ObjectKind::AccessPlan;
    PlanObject(const PathObject& path, TranslatedStatement translated, std::optional<AgentProfile> agent);

    const std::shared_ptr<const Scenario> scenario;
    const uint64_t pathSerial;
    const TranslatedStatement translated;
    const std::optional<AgentProfile> agent;
};

// The state of one statement, shared by its request and output objects,
// whose operations all run under its lock.
struct Cursor {
    enum class State { Closed, Open, Exhausted };

    Cursor(std::shared_ptr<const Scenario> scenario, Statement prepared, std::optional<AgentProfile> agent,
           int deliveredColumns)
        : scenario(std::move(scenario)),
          statement(std::move(prepared)),
          agent(std::move(agent)),
          output(statement.get(), deliveredColumns),
          input(0) {}

    std::shared_ptr<const Scenario> scenario;  // outlives the statement
    Statement statement;
    std::optional<AgentProfile> agent;
    OutputColumns output;
    SqldaBuffer input;
    State state = State::Closed;
    int32_t fetchesSinceOpen = 0;
    std::mutex mutex;
};

class SqlRequestObject final : public Object {
  public:
    static constexpr ObjectKind kKind = ObjectKind::SqlRequest;
    explicit SqlRequestObject(std::shared_ptr<Cursor> cursor);
    std::mutex& mutex() override { return cursor->mutex; }

    const std::shared_ptr<Cursor> cursor;
    uint64_t outputSerial = 0;
};

class OutputObject final : public Object {
  public:
    static constexpr ObjectKind kKind = ObjectKind::Output;
    explicit OutputObject(std::shared_ptr<Cursor> cursor);
    std::mutex& mutex() override { return cursor->mutex; }

    const std::shared_ptr<Cursor> cursor;
};

std::string agentDescription(const std::optional<AgentProfile>& agent) {
    return agent ? "agent " + printable(agent->node) : std::string("the hub");
}

// --- Path -------------------------------------------------------------------

int32_t dropPath(DSHandle handle) {
    return dispatch<PathObject>(Op::DropPath, handle, 0, {}, [](PathObject& path, CallScope&) {
        Registry::instance().destroy(path.serial());
        return status::kOk;
    });
}

int32_t createAccessPlan(DSHandle handle, const char* statement, DSHandle* plan) {
    const std::string_view text = statement ? std::string_view(statement) : std::string_view();
    return dispatch<PathObject>(Op::CreateAccessPlan, handle, 0, text, [&](PathObject& path, CallScope& call) {
        const std::string where = "CreateAccessPlan on " + path.describe();
        if (refuseWhileInterrupted(*path.scenario, where)) return status::kInterrupted;
        if (statement == nullptr || plan == nullptr) {
            logLine(where, ": ", statement == nullptr ? "the statement" : "the place for the plan's handle",
                    " is null");
            return status::kBadArgument;
        }
        TranslatedStatement translated;
        try {
            translated = translateStatement(text);
        } catch (const DialectError& error) {
            logLine(where, ": ", error.what(), "; statement: ", printable(text));
            return status::kBadStatement;
        }
        std::optional<AgentProfile> agent;
        if (translated.agent) {
            agent = path.scenario->agent(*translated.agent);
            if (!agent) {
                logLine(where, ": unknown agent ", printable(*translated.agent), " (not in HUB.AGENTS of scenario ",
                        path.scenario->name(), "); statement: ", printable(text));
                return status::kUnknownAgent;
            }
        }
        const Prepared prepared = prepare(*path.scenario, translated.sql);
        if (!prepared.statement) {
            logLine(where, ": the statement cannot be prepared: ", prepared.error, "; statement: ", printable(text));
            return status::kBadStatement;
        }
        if (const std::string refusal = misreadTables(*path.scenario, translated, prepared.statement.get());
            !refusal.empty()) {
            logLine(where, ": ", refusal, "; statement: ", printable(text));
            return status::kBadStatement;
        }
        auto created = std::make_shared<PlanObject>(path, std::move(translated), std::move(agent));
        Registry::instance().adopt({created});
        *plan = created->handle();
        call.setCreated(created->serial());
        return status::kOk;
    });
}

int32_t createRequest(DSHandle handle, DSHandle* request, void* reserved1, void* reserved2, void* reserved3,
                      void* reserved4, int32_t planCount, DSHandle* plans, DSHandle** outputs, void* reserved5) {
    return dispatch<PathObject>(Op::CreateRequest, handle, 0, {}, [&](PathObject& path, CallScope& call) {
        const std::string where = "CreateRequest on " + path.describe();
        const auto refuse = [&](const std::string& reason, int32_t code = status::kBadArgument) {
            logLine(where, ": ", reason);
            return code;
        };
        if (request == nullptr) return refuse("the place for the request's handle is null");
        if (reserved1 || reserved2 || reserved3 || reserved4 || reserved5) {
            return refuse("the reserved arguments (3 to 6 and 10) must be null");
        }
        if (planCount != 1) return refuse("planCount is " + std::to_string(planCount) + ", not 1");
        if (plans == nullptr) return refuse("the list of plans is null");
        if (outputs == nullptr || *outputs == nullptr) return refuse("the list for the output handle is null");

        const std::shared_ptr<Object> found = Registry::instance().find(plans[0].object);
        if (!found || found->kind() != ObjectKind::AccessPlan) {
            return refuse("plans[0] names " + (found ? found->describe() : std::string("no live object")) +
                          ", not an access plan");
        }
        if (found->checkNumber() != plans[0].checkNumber) {
            return refuse("the check number of plans[0] is not that of " + found->describe(), status::kCheckFailed);
        }
        const auto& plan = static_cast<const PlanObject&>(*found);
        if (plan.pathSerial != path.serial()) {
            return refuse(plan.describe() + " belongs to path #" + std::to_string(plan.pathSerial));
        }

        Prepared prepared = prepare(*plan.scenario, plan.translated.sql);
        if (!prepared.statement) {
            return refuse("the statement of " + plan.describe() + " cannot be prepared: " + prepared.error,
                          status::kBadStatement);
        }
        const int columns = plan.agent && plan.agent->columns ? *plan.agent->columns
                                                              : sqlite3_column_count(prepared.statement.get());
        auto cursor = std::make_shared<Cursor>(plan.scenario, std::move(prepared.statement), plan.agent, columns);
        auto created = std::make_shared<SqlRequestObject>(cursor);
        auto output = std::make_shared<OutputObject>(cursor);
        Registry::instance().adopt({created, output});
        created->outputSerial = output->serial();
        *request = created->handle();
        (*outputs)[0] = output->handle();
        call.setCreated(created->serial());
        return status::kOk;
    });
}

// --- Access plan ---------------------------------------------------------------

int32_t dropPlan(DSHandle handle) {
    return dispatch<PlanObject>(Op::DropPlan, handle, 0, {}, [](PlanObject& plan, CallScope&) {
        Registry::instance().destroy(plan.serial());
        return status::kOk;
    });
}

// --- SQL request ------------------------------------------------------------------

int32_t dropRequest(DSHandle handle) {
    return dispatch<SqlRequestObject>(Op::DropRequest, handle, 0, {}, [](SqlRequestObject& request, CallScope&) {
        Registry::instance().destroy(request.outputSerial);
        Registry::instance().destroy(request.serial());
        return status::kOk;
    });
}

int32_t openRequest(DSHandle handle, SQLDA* input) {
    return dispatch<SqlRequestObject>(Op::OpenRequest, handle, 0, {}, [&](SqlRequestObject& request, CallScope&) {
        Cursor& cursor = *request.cursor;
        if (input != nullptr && input != cursor.input.get()) {
            logLine("OpenRequest on ", request.describe(), ": the input SQLDA is not the one GetInputSQLDA handed out");
            return status::kBadArgument;
        }
        if (cursor.agent && !cursor.agent->reachable) {
            logLine("OpenRequest on ", request.describe(), ": ", agentDescription(cursor.agent),
                    " does not answer (REACHABLE = 0)");
            return status::kAgentUnreachable;
        }
        sqlite3_reset(cursor.statement.get());
        cursor.state = Cursor::State::Open;
        cursor.fetchesSinceOpen = 0;
        return status::kOk;
    });
}

int32_t closeRequest(DSHandle handle) {
    return dispatch<SqlRequestObject>(Op::CloseRequest, handle, 0, {}, [](SqlRequestObject& request, CallScope&) {
        Cursor& cursor = *request.cursor;
        sqlite3_reset(cursor.statement.get());
        cursor.state = Cursor::State::Closed;
        return status::kOk;
    });
}

int32_t getInputSqlda(DSHandle handle, SQLDA** sqlda) {
    return dispatch<SqlRequestObject>(Op::GetInputSQLDA, handle, 0, {}, [&](SqlRequestObject& request, CallScope&) {
        if (sqlda == nullptr) {
            logLine("GetInputSQLDA on ", request.describe(), ": the place for the SQLDA's address is null");
            return status::kBadArgument;
        }
        *sqlda = request.cursor->input.get();
        return status::kOk;
    });
}

// --- Output --------------------------------------------------------------------

int32_t getOutputSqlda(DSHandle handle, SQLDA** sqlda) {
    return dispatch<OutputObject>(Op::GetOutputSQLDA, handle, 0, {}, [&](OutputObject& output, CallScope&) {
        if (sqlda == nullptr) {
            logLine("GetOutputSQLDA on ", output.describe(), ": the place for the SQLDA's address is null");
            return status::kBadArgument;
        }
        *sqlda = output.cursor->output.sqlda();
        return status::kOk;
    });
}

int32_t fetch(DSHandle handle, SQLDA* sqlda) {
    return dispatch<OutputObject>(Op::Fetch, handle, 0, {}, [&](OutputObject& output, CallScope&) {
        Cursor& cursor = *output.cursor;
        if (sqlda == nullptr || sqlda != cursor.output.sqlda()) {
            logLine("Fetch on ", output.describe(), ": the SQLDA is not the one GetOutputSQLDA handed out");
            return status::kBadArgument;
        }
        if (cursor.state == Cursor::State::Closed) {
            logLine("Fetch on ", output.describe(), " before its request was opened");
            return status::kNotOpen;
        }
        ++cursor.fetchesSinceOpen;
        if (cursor.agent && cursor.agent->failFetch == cursor.fetchesSinceOpen) {
            logLine("Fetch on ", output.describe(), ": ", agentDescription(cursor.agent), " fails Fetch ",
                    cursor.fetchesSinceOpen, " after the open (FAIL_FETCH)");
            return status::kFetchFailed;
        }
        if (cursor.state == Cursor::State::Exhausted) return status::kEndOfData;

        sqlite3* db = cursor.scenario->connection();
        ConnectionLock lock(db);
        const int stepped = sqlite3_step(cursor.statement.get());
        if (stepped == SQLITE_DONE) {
            cursor.state = Cursor::State::Exhausted;
            return status::kEndOfData;
        }
        if (stepped != SQLITE_ROW) {
            logLine("Fetch on ", output.describe(), ": SQLite failed: ", sqlite3_errmsg(db));
            return status::kFetchFailed;
        }
        if (const auto tooLong = cursor.output.deliverRow(cursor.statement.get())) {
            logLine("Fetch on ", output.describe(), ": the value of column ", *tooLong,
                    " is longer than 32767 bytes and was cut there");
        }
        return status::kOk;
    });
}

// --- Class records -----------------------------------------------------------------

// None of the SQL service's objects has a common operation.
const DSOperation* noCommonOperations() {
    static const OperationTable common = operationTable(::ds::Table::Common, {});
    return common.data();
}

const DSClassRecord* pathClass() {
    static const OperationTable sql = operationTable(
        ::ds::Table::Sql, {{::ds::kSlotPathDrop, ::ds::slot<::ds::DropFn>(&dropPath)},
                         {::ds::kSlotPathCreateRequest, ::ds::slot<::ds::CreateRequestFn>(&createRequest)},
                         {::ds::kSlotPathCreateAccessPlan, ::ds::slot<::ds::CreateAccessPlanFn>(&createAccessPlan)}});
    static const DSClassRecord record{nullptr, sql.data(), nullptr, noCommonOperations()};
    return &record;
}

const DSClassRecord* planClass() {
    static const OperationTable sql =
        operationTable(::ds::Table::Sql, {{::ds::kSlotPlanDrop, ::ds::slot<::ds::DropFn>(&dropPlan)}});
    static const DSClassRecord record{nullptr, sql.data(), nullptr, noCommonOperations()};
    return &record;
}

const DSClassRecord* sqlRequestClass() {
    static const OperationTable sql =
        operationTable(::ds::Table::Sql, {{::ds::kSlotRequestDrop, ::ds::slot<::ds::DropFn>(&dropRequest)},
                                        {::ds::kSlotOpenRequest, ::ds::slot<::ds::OpenRequestFn>(&openRequest)},
                                        {::ds::kSlotCloseRequest, ::ds::slot<::ds::CloseRequestFn>(&closeRequest)},
                                        {::ds::kSlotGetInputSQLDA, ::ds::slot<::ds::GetSQLDAFn>(&getInputSqlda)}});
    static const DSClassRecord record{nullptr, sql.data(), nullptr, noCommonOperations()};
    return &record;
}

const DSClassRecord* outputClass() {
    static const OperationTable sql =
        operationTable(::ds::Table::Sql, {{::ds::kSlotFetch, ::ds::slot<::ds::FetchFn>(&fetch)},
                                        {::ds::kSlotGetOutputSQLDA, ::ds::slot<::ds::GetSQLDAFn>(&getOutputSqlda)}});
    static const DSClassRecord record{nullptr, sql.data(), nullptr, noCommonOperations()};
    return &record;
}

PathObject::PathObject(std::shared_ptr<const Scenario> scenario, std::string server)
    : Object(kKind, pathClass()), scenario(std::move(scenario)), server(std::move(server)) {}

PlanObject::PlanObject(const PathObject& path, TranslatedStatement translated, std::optional<AgentProfile> agent)
    : Object(kKind, planClass()),
      scenario(path.scenario),
      pathSerial(path.serial()),
      translated(std::move(translated)),
      agent(std::move(agent)) {}

SqlRequestObject::SqlRequestObject(std::shared_ptr<Cursor> cursor)
    : Object(kKind, sqlRequestClass()), cursor(std::move(cursor)) {}

OutputObject::OutputObject(std::shared_ptr<Cursor> cursor) : Object(kKind, outputClass()), cursor(std::move(cursor)) {}

}  // namespace

int32_t createPath(std::string_view server, int32_t context, DSHandle* path, CallScope& call) {
    if (context != kSqlContext) {
        logLine("sql1cpth: context ", context, " is not the one sql1cpli gives (", kSqlContext, ")");
        return status::kBadContext;
    }
    if (path == nullptr) {
        logLine("sql1cpth: the place for the path's handle is null");
        return status::kBadArgument;
    }
    std::shared_ptr<const Scenario> scenario = currentScenario();
    if (!scenario) {
        logLine("sql1cpth: no scenario is in use; the data server has nothing to answer from");
        return status::kNoScenario;
    }
    auto created = std::make_shared<PathObject>(std::move(scenario), std::string(server));
    Registry::instance().adopt({created});
    *path = created->handle();
    call.setCreated(created->serial());
    return status::kOk;
}

}  // namespace hub::ds

extern "C" int32_t sql1cpli(void) {
    hub::ds::CallScope call(hub::ds::Op::Sql1cpli);
    return call.finish(call.injectedFailure().value_or(hub::ds::kSqlContext));
}
