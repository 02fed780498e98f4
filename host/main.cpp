// kqvhost: loads the table provider as the hub's data server does and runs a
// query on its table against a scenario of the stand-in hub.
#include <CLI/CLI.hpp>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "hub/ds/scenario.h"
#include "hub/trace.h"
#include "program_path.h"
#include "provider_library.h"
#include "query.h"
#include "row_format.h"
#include "version_report.h"

namespace {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitQueryFailed = 1;
constexpr int kExitBadInput = 2;

hub::ds::Filter parseWhere(const std::string& text) {
    const auto equals = text.find('=');
    if (equals == std::string::npos || equals == 0) {
        throw std::invalid_argument("--where '" + text + "': expected COLUMN=VALUE");
    }
    hub::ds::Filter filter;
    filter.column = text.substr(0, equals);
    filter.value = text.substr(equals + 1);
    if (filter.column.size() > 10) {
        throw std::invalid_argument("--where '" + text + "': a column name has at most 10 characters");
    }
    return filter;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Loads the KQVDWSYS table provider as the hub's data server does and runs a "
                 "query on table KQVDWSYS against a scenario of the stand-in hub."};
    app.set_version_flag("--host-version", "kqvhost 1.3.0");

    std::string providerPath;
    std::string scenarioPath;
    std::string table = "KQVDWSYS";
    std::vector<std::string> wheres;
    std::string format = "table";
    std::vector<std::string> traceSettings;
    std::string traceFile;
    int passes = 1;
    bool version = false;
    bool printScenario = false;

    app.add_option("-p,--provider", providerPath,
                   "Provider library to load (default: the one installed beside this program)");
    app.add_option("-s,--scenario", scenarioPath,
                   "Scenario script describing the hub (default: the embedded default hub)");
    app.add_option("-t,--table", table, "Table to query")->capture_default_str();
    app.add_option("-w,--where", wheres,
                   "Equality filter COLUMN=VALUE, handed to the provider as an index filter "
                   "(repeatable; the provider understands IDNAME and ORIGINNODE)");
    app.add_option("-f,--format", format, "Output format: table, csv or json")
        ->capture_default_str()
        ->check(CLI::IsMember({"table", "csv", "json"}));
    app.add_option("--trace", traceSettings,
                   "Trace classes to switch on (repeatable): CLASSES, UNIT=CLASSES or "
                   "UNIT.FUNCTION=CLASSES; classes are detail, input, state, flow, error, all")
        ->type_name("SETTING");
    app.add_option("--trace-file", traceFile, "Write trace lines to this file instead of standard error");
    app.add_option("--passes", passes, "Passes to run within the one request")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_flag("-V,--version", version, "Print the provider's version entry and build information");
    app.add_flag("--print-default-scenario", printScenario, "Print the embedded default scenario and exit");

    CLI11_PARSE(app, argc, argv);

    if (printScenario) {
        std::cout << hub::ds::defaultScenarioScript();
        return kExitOk;
    }

    std::optional<host::ProviderLibrary> provider;
    host::QueryOptions options;
    try {
        for (const auto& where : wheres) options.filters.push_back(parseWhere(where));
        options.table = table;
        options.passes = passes;
        if (!traceFile.empty()) hub::trace::writeToFile(traceFile);
        for (const auto& setting : traceSettings) hub::trace::applySetting(setting);

        hub::ds::useScenario(scenarioPath.empty()
                                 ? hub::ds::Scenario::fromScript(hub::ds::defaultScenarioScript(),
                                                                 "the default scenario")
                                 : hub::ds::Scenario::fromFile(scenarioPath));

        const std::filesystem::path path = providerPath.empty()
                                               ? host::ProviderLibrary::defaultPath(host::programPath(argv[0]))
                                               : std::filesystem::path(providerPath);
        provider.emplace(path);
    } catch (const std::exception& error) {
        std::cerr << "kqvhost: " << error.what() << '\n';
        return kExitBadInput;
    }

    try {
        const PRB1_VectorRecord& vector = provider->table(table);
        if (version) {
            host::printVersion(std::cout, *provider, vector);
            return kExitOk;
        }
        const host::QueryResult result = host::runQuery(vector, options);
        std::vector<DWSysRecord> rows;
        for (const auto& row : result.rows) rows.push_back(row.as<DWSysRecord>());
        host::printRows(std::cout, rows, host::parseFormat(format));
    } catch (const host::ProviderError& error) {
        std::cerr << "kqvhost: " << error.what() << '\n';
        return kExitBadInput;
    } catch (const std::exception& error) {
        std::cerr << "kqvhost: query on table " << table << " failed: " << error.what() << '\n';
        return kExitQueryFailed;
    }
    return kExitOk;
}
