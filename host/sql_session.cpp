#include "sql_session.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <memory>
#include <ostream>
#include <span>
#include <stdexcept>

#include "hub/ds/provider_table.h"
#include "hub/ds/statements.h"
#include "hub/registry.h"
#include "messages.h"

namespace host {

namespace {

// Hands the rows on to a writer, counting them.
class RowCounter : public hub::ds::ResultSink {
  public:
    RowCounter(hub::ds::ResultSink& writer, std::size_t& rows) : writer_(writer), rows_(rows) {}
    void begin(const hub::ds::ResultHeader& header) override { writer_.begin(header); }
    void row(std::span<const hub::ds::ValueView> values) override {
        writer_.row(values);
        ++rows_;
    }
    void end() override { writer_.end(); }

  private:
    hub::ds::ResultSink& writer_;
    std::size_t& rows_;
};

// Unquoted, so that the engine names a column that does not exist rather
// than taking a quoted name for a text.
bool isIdentifier(std::string_view name) {
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name.front()))) return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

std::string sqlQuoted(std::string_view text, char quote) {
    std::string result(1, quote);
    for (const char c : text) {
        if (c == quote) result += quote;
        result += c;
    }
    return result + quote;
}

}  // namespace

void attachRegisteredTables(const hub::ds::Scenario& scenario, const std::string& required, int passes) {
    bool attached = false;
    for (const std::string& name : hub::registry::tables()) {
        const std::optional<hub::ds::TableDefinition> definition = scenario.tableDefinition(name);
        const PRB1_VectorRecord* vector = hub::registry::findTable(name);
        if (!definition || vector == nullptr) continue;
        hub::ds::attachProviderTable(scenario, *definition, *vector, hub::ds::ScanOptions{passes});
        attached = attached || name == required;
    }
    if (!attached) {
        throw std::runtime_error("table " + required + " has no definition in the hub's catalog (HUB.TABLECOLS of " +
                                 scenario.name() + " or of the default scenario)");
    }
}

std::string defaultQuery(const std::string& table, const std::vector<std::string>& conditions) {
    std::string query = "SELECT * FROM " + sqlQuoted(table, '"');
    const char* joint = " WHERE ";
    for (const std::string& condition : conditions) {
        const auto equals = condition.find('=');
        if (equals == std::string::npos || !isIdentifier(std::string_view(condition).substr(0, equals))) {
            throw std::invalid_argument("--where '" + condition + "': expected COLUMN=VALUE with a column name");
        }
        query += joint + condition.substr(0, equals) + " = " + sqlQuoted(condition.substr(equals + 1), '\'');
        joint = " AND ";
    }
    return query;
}

int runStatements(const hub::ds::Scenario& scenario, std::string_view script, Format format, std::ostream& out,
                  std::ostream& err, std::string_view source, std::size_t* rowsPrinted) {
    const std::string prefix = source.empty() ? std::string() : std::string(source) + ": ";
    const std::unique_ptr<ResultWriter> writer = makeResultWriter(format, out);
    const auto failed = [&](const std::exception& failure, int status) {
        writer->cutShort();
        printError(err, prefix + failure.what());
        return status;
    };
    try {
        std::size_t uncounted = 0;
        RowCounter counter(*writer, rowsPrinted != nullptr ? *rowsPrinted : uncounted);
        hub::ds::runStatements(scenario, script, counter);
    } catch (const OutputLost& lost) {
        printError(err, "cannot write the results" + lost.reason);
        return kExitOutputFailed;
    } catch (const hub::ds::EntryFailure& failure) {
        return failed(failure, kExitQueryFailed);
    } catch (const hub::ds::StatementError& error) {
        return failed(error, kExitBadInput);
    }
    return kExitOk;
}

}  // namespace host
