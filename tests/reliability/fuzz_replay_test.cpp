// Inputs of the fuzz targets replayed through the same targets, built into
// this program with the project's own compiler: the inputs that once broke a
// target (fuzz_regressions/<target>/) and the seed corpus (fuzz/corpus/).
// The sanitizer builds catch a fault that comes back; every build checks what
// the targets check themselves.
//
// Two programs are built from this file: one with the provider's targets and
// their fake data server, one with the host's target and the stand-in hub's
// library, which the fake data server stands in for. Each replays the inputs
// of its own targets.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "targets.h"

#ifndef KQV_FUZZ_REGRESSIONS
#error "KQV_FUZZ_REGRESSIONS must name the folder of inputs that once broke a target"
#endif
#ifndef KQV_FUZZ_CORPUS
#error "KQV_FUZZ_CORPUS must name the seed corpus"
#endif

namespace reliability {
namespace {

namespace fs = std::filesystem;

struct Replay {
    std::string target;
    fs::path file;
    bool regression;

    std::string key() const { return target + "/" + file.filename().string(); }
};

void PrintTo(const Replay& replay, std::ostream* out) { *out << replay.key(); }

using Runner = void (*)(const uint8_t*, std::size_t);

const std::map<std::string, Runner>& targetsBuiltIn() {
    static const std::map<std::string, Runner> targets{
#if defined(KQV_FUZZ_PROVIDER_TARGETS)
        {"catalog", &fuzzing::runCatalogInput},
        {"agent_rows", &fuzzing::runAgentRowsInput},
        {"filters", &fuzzing::runFilterInput},
#elif defined(KQV_FUZZ_HOST_TARGETS)
        {"host_input", &fuzzing::runHostInput},
#else
#error "KQV_FUZZ_PROVIDER_TARGETS or KQV_FUZZ_HOST_TARGETS must choose the targets built in"
#endif
    };
    return targets;
}

const std::set<std::string> kEveryTarget{"agent_rows", "catalog", "filters", "host_input"};

// Every input, whatever its target.
std::vector<Replay> allInputs() {
    std::vector<Replay> found;
    for (const auto& [root, regression] : {std::pair{fs::path(KQV_FUZZ_REGRESSIONS), true},
                                           std::pair{fs::path(KQV_FUZZ_CORPUS), false}}) {
        if (!fs::is_directory(root)) continue;
        for (const auto& target : fs::directory_iterator(root)) {
            if (!target.is_directory()) continue;
            for (const auto& file : fs::directory_iterator(target.path())) {
                if (file.is_regular_file()) {
                    found.push_back({target.path().filename().string(), file.path(), regression});
                }
            }
        }
    }
    std::sort(found.begin(), found.end(), [](const Replay& a, const Replay& b) { return a.file < b.file; });
    return found;
}

std::vector<Replay> replays() {
    std::vector<Replay> ours = allInputs();
    std::erase_if(ours, [](const Replay& replay) { return targetsBuiltIn().count(replay.target) == 0; });
    return ours;
}

std::string testName(const ::testing::TestParamInfo<Replay>& info) {
    const Replay& replay = info.param;
    std::string name = (replay.regression ? "regression_" : "seed_") + replay.target + "_" +
                       replay.file.filename().string();
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

class FuzzReplayTest : public ::testing::TestWithParam<Replay> {};

TEST_P(FuzzReplayTest, RunsCleanly) {
    const Replay& replay = GetParam();
    const Runner run = targetsBuiltIn().at(replay.target);
    std::ifstream in(replay.file, std::ios::binary);
    ASSERT_TRUE(in) << replay.file;
    const std::vector<uint8_t> input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    run(input.data(), input.size());
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzReplayTest, ::testing::ValuesIn(replays()), testName);

TEST(FuzzReplayInputs, EveryTargetHasSeedsAndEveryFolderATarget) {
    std::set<std::string> seeded;
    for (const Replay& replay : allInputs()) {
        EXPECT_EQ(kEveryTarget.count(replay.target), 1u) << "no fuzz target " << replay.target;
        if (!replay.regression) seeded.insert(replay.target);
    }
    EXPECT_EQ(seeded, kEveryTarget);
}

}  // namespace
}  // namespace reliability
