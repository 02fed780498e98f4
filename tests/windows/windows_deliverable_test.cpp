// The Windows deliverable KQV.dll, loaded as the data server loads it: what
// it exports, where its records lie, its version and build information, and
// the rule by which duplicate rows keep the highest STATUS.
//
// Every case runs in this one process, so that the whole suite costs one
// start under wine. Nothing here starts a thread.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/program_path.h"
#include "host/provider_library.h"
#include "host/query.h"
#include "hub/ds/scenario.h"
#include "hub/trace.h"
#include "provider/generated/jwbld00.h"
#include "provider/kqvdwsys.h"

namespace {

const std::filesystem::path& programFile() {
    static const std::filesystem::path path = host::programPath("kqv_windows_tests.exe");
    return path;
}

// Loaded once: the registry keeps the library's records for the process.
host::ProviderLibrary& provider() {
    static host::ProviderLibrary library(host::ProviderLibrary::defaultPath(programFile()));
    return library;
}

const PRB1_VectorRecord& vector() { return provider().table("KQVDWSYS"); }

HMODULE providerModule() { return GetModuleHandleA("KQV.dll"); }

HMODULE moduleOf(const void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCSTR>(address), &module);
    return module;
}

DWORD protectionOf(const void* address) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(address, &info, sizeof info) != sizeof info) return 0;
    return info.Protect;
}

bool allZero(const void* bytes, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < size; ++i) {
        if (p[i] != 0) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------

TEST(KqvDll, ExportsOnlyTheRegistrationEntry) {
    provider();
    const HMODULE module = providerModule();
    ASSERT_NE(module, nullptr);
    EXPECT_NE(GetProcAddress(module, "cnt1entd"), nullptr);
    for (const char* hidden : {"qvdwsysr", "qvdwsypr", "qvdwsyts", "KQVDWSYS__GCD", "jwbld00",
                               "values_list", "PRB1_Vector", "CNT1_Contents", "CNT1_entryList",
                               "RSLTinit", "RSLTget", "RSLTdestroy", "summarizeQVStatusData",
                               "collectQVStatusdata", "buildOrigList", "buildNodeList", "kqvsqlp",
                               "DllMain", "DllMain@12"}) {
        EXPECT_EQ(GetProcAddress(module, hidden), nullptr) << hidden;
    }
}

TEST(KqvDll, RegistersItsTableWithAVectorInReadOnlyStorage) {
    const PRB1_VectorRecord& registered = vector();
    EXPECT_EQ(moduleOf(&registered), providerModule());
    EXPECT_EQ(protectionOf(&registered), static_cast<DWORD>(PAGE_READONLY));
    // The whole record, not just its first page.
    EXPECT_EQ(protectionOf(reinterpret_cast<const char*>(&registered) + sizeof registered - 1),
              static_cast<DWORD>(PAGE_READONLY));
}

TEST(KqvDll, VectorHoldsTheHeaderAndFourEntriesIntoTheLibrary) {
    const PRB1_VectorRecord& v = vector();
    EXPECT_EQ(v.header[0], 23);
    EXPECT_EQ(v.header[1], 130);
    EXPECT_EQ(v.header[2], 0);
    const void* entries[] = {reinterpret_cast<const void*>(v.start.entry),
                             reinterpret_cast<const void*>(v.process.entry),
                             reinterpret_cast<const void*>(v.terminate.entry),
                             reinterpret_cast<const void*>(v.version.entry)};
    const int32_t* zeros[] = {v.start.zero, v.process.zero, v.terminate.zero, v.version.zero};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE("entry " + std::to_string(i + 1));
        ASSERT_NE(entries[i], nullptr);
        EXPECT_EQ(moduleOf(entries[i]), providerModule());
        EXPECT_EQ(protectionOf(entries[i]), static_cast<DWORD>(PAGE_EXECUTE_READ));
        EXPECT_EQ(zeros[i][0], 0);
        EXPECT_EQ(zeros[i][1], 0);
    }
    EXPECT_TRUE(allZero(v.unused, sizeof v.unused));
}

TEST(KqvDll, VersionEntryGivesTheSameTextsOnEveryCall) {
    const char* version = nullptr;
    const char* date = nullptr;
    const char* time = nullptr;
    vector().version.entry(&version, &date, &time);
    ASSERT_NE(version, nullptr);
    ASSERT_NE(date, nullptr);
    ASSERT_NE(time, nullptr);
    EXPECT_STREQ(version, "V130");
    EXPECT_EQ(std::strlen(date), 11u) << date;
    EXPECT_EQ(std::strlen(time), 8u) << time;
    EXPECT_EQ(time[2], ':');
    EXPECT_EQ(time[5], ':');

    const char* again[3] = {};
    vector().version.entry(&again[0], &again[1], &again[2]);
    EXPECT_EQ(again[0], version);
    EXPECT_EQ(again[1], date);
    EXPECT_EQ(again[2], time);
}

// The library hands its build information only to the trace facility, in
// the unit block of each traced function; ending a request that has no work
// area is a traced call that needs no scenario.
const JwbldValues* tracedBuildInformation() {
    hub::ds::Request probe("KQVDWSYS");
    vector().terminate.entry(probe.handle());
    for (const auto& unit : hub::trace::knownUnits()) {
        if (unit.name != "kqvdwsys" || unit.buildInformation == nullptr) continue;
        const JwbldValues* values = nullptr;
        unit.buildInformation(&values);
        return values;
    }
    return nullptr;
}

TEST(KqvDll, BuildInformationCarriesTheWindowsValues) {
    const JwbldValues* values = tracedBuildInformation();
    ASSERT_NE(values, nullptr);
    EXPECT_EQ(moduleOf(values), providerModule());
    ASSERT_EQ(values->infoCount, 18);
    ASSERT_EQ(values->commentCount, 17);
    EXPECT_EQ(values->info[18], nullptr);
    EXPECT_EQ(values->comments[17], nullptr);

    const char* const* info = values->info;
    EXPECT_EQ(std::strlen(info[0]), 11u) << info[0];
    EXPECT_EQ(std::strlen(info[1]), 8u) << info[1];
    EXPECT_NE(std::string(info[2]).find("jwbld00.cpp"), std::string::npos) << info[2];
    struct Expected {
        int entry;  // 1-based, as the list is described
        const char* text;
    };
    for (const Expected& expected : {Expected{4, ""}, Expected{5, "wv7i386"}, Expected{6, "wv7i386"},
                                     Expected{8, ""}, Expected{9, ""}, Expected{10, ""},
                                     Expected{12, ""}, Expected{13, ""}, Expected{14, ""},
                                     Expected{15, "9"}, Expected{16, "kqv"},
                                     Expected{17, "3681400"}, Expected{18, "QV410"}}) {
        EXPECT_STREQ(info[expected.entry - 1], expected.text) << "info_strings entry " << expected.entry;
    }

    const char* const* comments = values->comments;
    for (const auto& [index, prefix] : std::vector<std::pair<int, std::string>>{
             {0, "_CC="}, {1, "_CC_OPT="}, {2, "_CXX="}, {3, "_CXX_OPT="}, {4, "_MACROS="},
             {12, "Created:"}}) {
        EXPECT_EQ(std::string(comments[index]).rfind(prefix, 0), 0u) << comments[index];
    }
    EXPECT_NE(std::string(comments[4]).find("KQV_KEEP_HIGHEST_STATUS=1"), std::string::npos)
        << comments[4];
    EXPECT_STREQ(comments[13], "Application:kqv Table: exsubsys1");
}

// ---------------------------------------------------------------------------
// Duplicate rows: one agent reporting the same DW of one varnex several
// times, in the order given.

struct DuplicateCase {
    const char* name;
    std::vector<int> statuses;
    int kept;
};

std::string scenarioWithStatuses(const std::vector<int>& statuses) {
    std::string script(hub::ds::scenarioSchema());
    script +=
        "INSERT INTO Y6SRV.INODESTS VALUES ('ZAVRIN:PLXW.SYSW:vRK', 'V', 'Y', "
        "'00000000000020000000000000000000050000000000');\n"
        "INSERT INTO Y6SRV.TNODELST VALUES ('QV:SYSW:PLXW', 'V', 'ZAVRIN:PLXW.SYSW:vRK');\n"
        "INSERT INTO HUB.AGENTS (NODE) VALUES ('QV:SYSW:PLXW');\n";
    int connections = 10;
    for (const int status : statuses) {
        // Every field but STATUS differs too: only STATUS may change.
        script += "INSERT INTO KQV.QVALCSYS VALUES ('QV:SYSW:PLXW', 'ZAVRIN:PLXW.SYSW:vRK', "
                  "'126120809300000" + std::to_string(connections % 10) +
                  "', 'PLXW', 'SYSW', 'SYSW" + std::to_string(connections) + "', 'DWW1', " +
                  std::to_string(connections) + ", 4096, 1210, 512, 17, 8192, " +
                  std::to_string(status) + ", 710);\n";
        ++connections;
    }
    // Another DW of the same varnex: never merged with the first.
    script += "INSERT INTO KQV.QVALCSYS VALUES ('QV:SYSW:PLXW', 'ZAVRIN:PLXW.SYSW:vRK', "
              "'1261208093009999', 'PLXW', 'SYSW', 'SYSW', 'DWW2', 1, 2, 3, 4, 5, 6, -7, 700);\n";
    return script;
}

class DuplicateRows : public ::testing::TestWithParam<DuplicateCase> {};

TEST_P(DuplicateRows, KeepTheHighestStatusAndTheFirstRowsOtherFields) {
    const DuplicateCase& c = GetParam();
    hub::ds::useScenario(hub::ds::Scenario::fromScript(scenarioWithStatuses(c.statuses), c.name));
    const host::QueryResult result = host::runQuery(vector(), host::QueryOptions{});
    hub::ds::useScenario(nullptr);

    ASSERT_EQ(result.rows.size(), 2u);
    // The most recently added identity comes first.
    const auto other = result.rows[0].as<DWSysRecord>();
    const auto merged = result.rows[1].as<DWSysRecord>();
    EXPECT_EQ(std::string(other.DW_NAME, 8), "DWW2    ");
    EXPECT_EQ(other.STATUS, -7);
    EXPECT_EQ(std::string(merged.DW_NAME, 8), "DWW1    ");
    EXPECT_EQ(std::string(merged.VARNNAME, 8), "PLXW    ");
    EXPECT_EQ(merged.STATUS, c.kept);
    EXPECT_EQ(merged.CONNHVTCT, 10);
    EXPECT_EQ(std::string(merged.SYSNAME, 8), "SYSW10  ");
    EXPECT_EQ(std::string(merged.TIMESTAMP, 16), "1261208093000000");
}

INSTANTIATE_TEST_SUITE_P(
    KqvDll, DuplicateRows,
    ::testing::Values(DuplicateCase{"Single", {3}, 3},
                      DuplicateCase{"HigherLater", {1, 8}, 8},
                      DuplicateCase{"LowerLater", {8, 1}, 8},
                      DuplicateCase{"Equal", {5, 5}, 5},
                      DuplicateCase{"NegativeReplacedByZero", {-1, 0}, 0},
                      DuplicateCase{"NotReplacedByNegative", {5, -3}, 5},
                      DuplicateCase{"HighestOfMany", {2, 9, 4, 9, -100, 7}, 9},
                      DuplicateCase{"SignedExtremes", {-2147483647 - 1, 2147483647, 0}, 2147483647}),
    [](const ::testing::TestParamInfo<DuplicateCase>& info) { return std::string(info.param.name); });

// Scenarios are SQLite scripts: the Windows build's SQLite must take what
// Debian's libsqlite3 takes on Linux, its grammar options included.
TEST(KqvDll, ScenarioScriptsUseTheLinuxBuildsSqliteDialect) {
    const std::string script = scenarioWithStatuses({4, 6}) +
                               "DELETE FROM KQV.QVALCSYS WHERE STATUS = 4 LIMIT 1;\n"
                               "UPDATE KQV.QVALCSYS SET STATUS = CAST(sqrt(STATUS * 24) AS INTEGER) "
                               "WHERE DW_NAME = 'DWW1' LIMIT 1;\n";
    hub::ds::useScenario(hub::ds::Scenario::fromScript(script, "Debian's dialect"));
    const host::QueryResult result = host::runQuery(vector(), host::QueryOptions{});
    hub::ds::useScenario(nullptr);

    ASSERT_EQ(result.rows.size(), 2u);
    EXPECT_EQ(result.rows[1].as<DWSysRecord>().STATUS, 12);
    EXPECT_EQ(result.rows[1].as<DWSysRecord>().CONNHVTCT, 11);
}

TEST(KqvDll, TracesTheStatusOfEveryRowAndEachRaise) {
    hub::ds::useScenario(hub::ds::Scenario::fromScript(scenarioWithStatuses({1, 8, 3}), "raises"));
    hub::trace::Capture capture;
    hub::trace::setClasses("kqvdwsys", "summarizeQVStatusData", kTraceDetail | kTraceState);
    host::runQuery(vector(), host::QueryOptions{});
    hub::trace::clearSettings();
    hub::ds::useScenario(nullptr);

    std::vector<std::string> statusLines;
    for (const std::string& line : capture.lines("kqvdwsys", "summarizeQVStatusData")) {
        if (line.rfind("STATUS:", 0) == 0 || line.rfind("Status updated", 0) == 0) {
            statusLines.push_back(line);
        }
    }
    EXPECT_EQ(statusLines, (std::vector<std::string>{
                               "STATUS:     \t\t\t1\n", "STATUS:     \t\t\t8\n",
                               "Status updated with 8.\n", "STATUS:     \t\t\t3\n",
                               "STATUS:     \t\t\t-7\n"}));
}

}  // namespace
