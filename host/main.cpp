// kqvhost: loads the table provider as the hub's data server does and
// answers SQL statements on its table against a scenario of the stand-in hub.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "hub/ds/scenario.h"
#include "hub/ds/sql_file.h"
#include "hub/trace.h"
#include "messages.h"
#include "program_path.h"
#include "provider_library.h"
#include "shell.h"
#include "sql_session.h"
#include "trace_settings.h"
#include "version_report.h"

namespace {

constexpr int kMostPasses = 1000;

struct StatementSource {
    std::string name;  // for messages; empty for the command line's statements
    std::string text;
};

// Standard input is read through the C library's stream, which keeps the
// error that reading it may end with (a directory, a closed descriptor).
std::string readStandardInput() {
    errno = 0;
    std::string text(std::istreambuf_iterator<char>(std::cin), {});
    if (std::ferror(stdin) != 0) {
        throw std::runtime_error("--read -: cannot read standard input" +
                                 (errno != 0 ? ": " + std::generic_category().message(errno) : std::string()));
    }
    return text;
}

// Files first, in the order given (- is standard input), then the command
// line's statements, which are joined on lines of their own so that a
// comment at the end of one cannot hide the ';' that ends it.
std::vector<StatementSource> statementSources(const std::vector<std::string>& reads,
                                              const std::vector<std::string>& statements) {
    std::vector<StatementSource> sources;
    for (const auto& source : reads) {
        if (source == "-") {
            sources.push_back({"standard input", readStandardInput()});
        } else {
            sources.push_back({"--read " + source, hub::ds::readSqlFile(source, "--read " + source)});
        }
    }
    if (!statements.empty()) {
        std::string text = statements.front();
        for (std::size_t i = 1; i < statements.size(); ++i) text += "\n;\n" + statements[i];
        sources.push_back({"", std::move(text)});
    }
    return sources;
}

// Trace lines appended to a file that the run reads would spoil it.
// `inputs`: the option and the file it names.
void refuseTraceFileAmong(const std::string& traceFile,
                          const std::vector<std::pair<std::string, std::string>>& inputs) {
    for (const auto& [option, input] : inputs) {
        std::error_code ignored;
        if (!input.empty() && input != "-" && std::filesystem::equivalent(traceFile, input, ignored)) {
            throw std::invalid_argument("--trace-file " + traceFile + ": that is the file of " + option + " " +
                                        input + ", which trace lines appended to it would spoil");
        }
    }
}

int run(int argc, char** argv) {
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
    bool interactive = false;

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
    app.add_option("--passes", passes,
                   "Passes that each scan of the table runs within its request (1 to " +
                       std::to_string(kMostPasses) + ")")
        ->capture_default_str();
    app.add_flag("-V,--version", version, "Print the provider's version entry and build information");
    app.add_flag("--print-default-scenario", printScenario, "Print the embedded default scenario and exit");
    app.add_flag("-i,--interactive", interactive,
                 "After the statements given, if any, read statements and dot-commands (.help) from standard "
                 "input: at a terminal with a prompt, line editing and history");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error);  // --help, --host-version
        // The parser's own codes would tell a bad option from a bad value;
        // the host promises one status for all bad input.
        host::printError(std::cerr, error.what());
        std::cerr << "Run with --help for more information.\n";
        return host::kExitBadInput;
    }

    if (printScenario) {
        std::cout << hub::ds::defaultScenarioScript();
        return host::kExitOk;
    }

    std::optional<host::ProviderLibrary> provider;
    std::shared_ptr<const hub::ds::Scenario> scenario;
    std::vector<StatementSource> sources;
    host::TraceSettings trace;
    try {
        if (!wheres.empty() && (!statements.empty() || !reads.empty())) {
            throw std::invalid_argument("--where adds to the default query; with statements, write the condition "
                                        "in them");
        }
        if (interactive && !wheres.empty()) {
            throw std::invalid_argument("--where adds to the default query, which --interactive does not run");
        }
        if (interactive && std::find(reads.begin(), reads.end(), "-") != reads.end()) {
            throw std::invalid_argument("--read - and --interactive both read standard input");
        }
        if (passes < 1) throw std::invalid_argument("--passes must be at least 1");
        if (passes > kMostPasses) {
            throw std::invalid_argument("--passes must be at most " + std::to_string(kMostPasses));
        }
        const std::filesystem::path path = providerPath.empty()
                                               ? host::ProviderLibrary::defaultPath(host::programPath(argv[0]))
                                               : std::filesystem::path(providerPath);
        if (statements.empty() && reads.empty() && !interactive) {
            sources.push_back({"", host::defaultQuery(table, wheres)});
        } else {
            sources = statementSources(reads, statements);
        }
        if (!traceFile.empty()) {
            std::vector<std::pair<std::string, std::string>> inputs{{"--scenario", scenarioPath},
                                                                    {"--provider", path.string()}};
            for (const auto& read : reads) inputs.emplace_back("--read", read);
            refuseTraceFileAmong(traceFile, inputs);
            hub::trace::writeToFile(traceFile);
        }
        for (const auto& setting : traceSettings) trace.apply(setting);

        scenario = scenarioPath.empty()
                       ? hub::ds::Scenario::fromScript(hub::ds::defaultScenarioScript(), "the default scenario")
                       : hub::ds::Scenario::fromFile(scenarioPath);
        hub::ds::useScenario(scenario);

        provider.emplace(path);
        const PRB1_VectorRecord& vector = provider->table(table);
        if (version) {
            host::printVersion(std::cout, *provider, vector);
            return host::kExitOk;
        }
        host::attachRegisteredTables(*scenario, table, passes);
    } catch (const std::exception& error) {
        host::printError(std::cerr, error.what());
        return host::kExitBadInput;
    }

    int status = host::kExitOk;
    for (const StatementSource& source : sources) {
        status = host::runStatements(*scenario, source.text, host::parseFormat(format), std::cout, std::cerr,
                                     source.name);
        if (status != host::kExitOk) break;
    }
    if (status == host::kExitOk && interactive) {
        host::Session session{.provider = *provider,
                              .table = table,
                              .passes = passes,
                              .scenario = scenario,
                              .trace = trace,
                              .format = host::parseFormat(format),
                              .timer = false,
                              .outputFile = nullptr};
        status = host::runShell(session, host::defaultHistoryFile());
    }
    trace.warnOfUnused(std::cerr);
    return status;
}

// What was written must have reached standard output and standard error: a
// result lost is a failure, not a success. (A closed pipe ends the program
// with SIGPIPE before it comes here.)
int finish(int status) {
    const int failed = status == host::kExitOk ? host::kExitOutputFailed : status;
    if (status != host::kExitOutputFailed) {  // if it is, the message is out
        if (const auto failure = host::writeFailure(std::cout)) {
            host::printError(std::cerr, "cannot write standard output" + *failure);
            status = failed;
        }
    }
    if (host::writeFailure(std::cerr) || std::ferror(stderr) != 0) status = failed;
    return status;
}

}  // namespace

int main(int argc, char** argv) { return finish(run(argc, argv)); }
