// kqvhost: loads the table provider as the hub's data server does and
// answers SQL statements on its table against a scenario of the stand-in hub.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "hub/ds/scenario.h"
#include "hub/trace.h"
#include "program_path.h"
#include "provider_library.h"
#include "sql_session.h"
#include "version_report.h"

namespace {

// The text of a --read argument: a file, or standard input for "-".
std::string readStatements(const std::string& source) {
    if (source == "-") return std::string(std::istreambuf_iterator<char>(std::cin), {});
    std::ifstream in(source, std::ios::binary);
    if (!in) throw std::runtime_error("--read " + source + ": cannot open the file");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw std::runtime_error("--read " + source + ": cannot read the file");
    return text.str();
}

// Pieces are joined on lines of their own, so that a comment at the end of
// one cannot hide the ';' that ends it.
std::string script(const std::vector<std::string>& reads, const std::vector<std::string>& statements) {
    std::vector<std::string> pieces;
    for (const auto& source : reads) pieces.push_back(readStatements(source));
    pieces.insert(pieces.end(), statements.begin(), statements.end());
    std::string text;
    for (const auto& piece : pieces) text += (text.empty() ? "" : "\n;\n") + piece;
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Loads the KQVDWSYS table provider as the hub's data server does and answers SQL "
                 "statements on its table against a scenario of the stand-in hub. Without a "
                 "statement: SELECT * FROM KQVDWSYS."};
    app.set_version_flag("--host-version", host::kHostVersion);

    std::vector<std::string> statements;
    std::vector<std::string> reads;
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

    app.add_option("statements", statements,
                   "SQL statements, several separated by ';' (default: SELECT * FROM the table)")
        ->type_name("SQL");
    app.add_option("-r,--read", reads,
                   "Run the statements of this file first (repeatable; - for standard input)")
        ->type_name("FILE")
        ->allow_extra_args(false);
    app.add_option("-p,--provider", providerPath,
                   "Provider library to load (default: the one installed beside this program)");
    app.add_option("-s,--scenario", scenarioPath,
                   "Scenario script describing the hub (default: the embedded default hub)");
    app.add_option("-t,--table", table, "Table of the default query")->capture_default_str();
    app.add_option("-w,--where", wheres,
                   "Equality COLUMN=VALUE added to the default query (repeatable); conditions on "
                   "ORIGINNODE and IDNAME also reach the provider as index filters")
        ->type_name("COLUMN=VALUE")
        ->allow_extra_args(false);
    app.add_option("-f,--format", format, "Output format: table, csv or json")
        ->capture_default_str()
        ->check(CLI::IsMember({"table", "csv", "json"}));
    app.add_option("--trace", traceSettings,
                   "Trace classes to switch on (repeatable): CLASSES, UNIT=CLASSES or "
                   "UNIT.FUNCTION=CLASSES; classes are detail, input, state, flow, error, all")
        ->type_name("SETTING")
        ->allow_extra_args(false);
    app.add_option("--trace-file", traceFile, "Write trace lines to this file instead of standard error");
    app.add_option("--passes", passes, "Passes that each scan of the table runs within its request")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_flag("-V,--version", version, "Print the provider's version entry and build information");
    app.add_flag("--print-default-scenario", printScenario, "Print the embedded default scenario and exit");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // The parser's own codes would tell a bad option from a bad value;
        // the host promises one status for all bad input.
        return app.exit(error) == 0 ? host::kExitOk : host::kExitBadInput;
    }

    if (printScenario) {
        std::cout << hub::ds::defaultScenarioScript();
        return host::kExitOk;
    }

    std::optional<host::ProviderLibrary> provider;
    std::shared_ptr<const hub::ds::Scenario> scenario;
    std::string statementText;
    try {
        if (!wheres.empty() && (!statements.empty() || !reads.empty())) {
            throw std::invalid_argument("--where adds to the default query; with statements, write the condition "
                                        "in them");
        }
        statementText = statements.empty() && reads.empty() ? host::defaultQuery(table, wheres)
                                                            : script(reads, statements);
        if (!traceFile.empty()) hub::trace::writeToFile(traceFile);
        for (const auto& setting : traceSettings) hub::trace::applySetting(setting);

        scenario = scenarioPath.empty()
                       ? hub::ds::Scenario::fromScript(hub::ds::defaultScenarioScript(), "the default scenario")
                       : hub::ds::Scenario::fromFile(scenarioPath);
        hub::ds::useScenario(scenario);

        const std::filesystem::path path = providerPath.empty()
                                               ? host::ProviderLibrary::defaultPath(host::programPath(argv[0]))
                                               : std::filesystem::path(providerPath);
        provider.emplace(path);
        const PRB1_VectorRecord& vector = provider->table(table);
        if (version) {
            host::printVersion(std::cout, *provider, vector);
            return host::kExitOk;
        }
        host::attachRegisteredTables(*scenario, table, passes);
    } catch (const std::exception& error) {
        std::cerr << "kqvhost: " << error.what() << '\n';
        return host::kExitBadInput;
    }

    return host::runStatements(*scenario, statementText, host::parseFormat(format), std::cout, std::cerr);
}
