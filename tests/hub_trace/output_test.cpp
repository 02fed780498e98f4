// What gets written, and where: formatted lines, captures, the file sink,
// the hub's log, and many writers at once.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "trace_test_support.h"

namespace {

using hub::trace::Capture;
using hub::trace::Kind;
using hub::trace::Record;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class HubTraceOutput : public TraceFacilityTest {
  protected:
    void TearDown() override {
        TraceFacilityTest::TearDown();  // closes the file before it goes
        std::filesystem::remove(path_);
    }

    std::string filePath() const { return path_.string(); }

    std::vector<std::string> fileLines() const {
        std::ifstream in(path_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    HandMadeFunction sqlf_{"kqvmsql.cpp", "kqvsqlf"};

  private:
    // Unique to this run: the same test of another build running at the same
    // time must not write into this one's file.
    std::filesystem::path path_ = std::filesystem::temp_directory_path() /
                                  ("hub_trace_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                                   "_" + std::to_string(std::random_device{}()) + ".log");
};

// Each stream line: time to the millisecond, thread, place, then the text.
std::string streamLine(const std::string& placeAndText) {
    return R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} T\d+ )" + placeAndText;
}

TEST_F(HubTraceOutput, PrintfKeepsExactlyWhatWasFormatted) {
    Capture capture;
    const std::string longText(100000, 'x');
    RAS1_Printf(&sqlf_.entry, 1, "%s|end", longText.c_str());
    RAS1_Printf(&sqlf_.entry, 2, "%d|%5s|%-3s|%04x|%.2f", -12, "ab", "c", 0xbe, 2.5);
    RAS1_Printf(&sqlf_.entry, 3, "first\nsecond\n");
    RAS1_Printf(&sqlf_.entry, 4, "%s", "");

    EXPECT_THAT(capture.lines(), ElementsAre(longText + "|end", "-12|   ab|c  |00be|2.50", "first\nsecond\n", ""));
    EXPECT_EQ(capture.records()[1], (Record{"kqvmsql", "kqvsqlf", 2, Kind::Line, 0, "-12|   ab|c  |00be|2.50"}));
}

TEST_F(HubTraceOutput, FileGetsOnePrefixedLinePerRecordAppended) {
    {
        std::ofstream earlier(filePath());
        earlier << "earlier content\n";
    }
    hub::trace::writeToFile(filePath());
    RAS1_Printf(&sqlf_.entry, 10, "no newline");
    RAS1_Printf(&sqlf_.entry, 11, "with newline\n");
    RAS1_Printf(&sqlf_.entry, 12, "two\nlines");
    RAS1_Event(&sqlf_.entry, 13, kTraceEventExit, 62);
    hub::trace::log("registry", "hello");
    hub::trace::writeToNothing();

    const auto lines = fileLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "earlier content");
    const std::string expected[] = {
        streamLine(R"(kqvmsql\.kqvsqlf:10 no newline)"),
        streamLine(R"(kqvmsql\.kqvsqlf:11 with newline)"),
        streamLine(R"(kqvmsql\.kqvsqlf:12 two)"),
        "lines",
        streamLine(R"(kqvmsql\.kqvsqlf:13 Exit, status=62)"),
        streamLine(R"(registry: hello)"),
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i + 1], std::regex(expected[i]))) << lines[i + 1];
    }
}

TEST_F(HubTraceOutput, UnopenableFileThrowsAndKeepsCurrentSink) {
    hub::trace::writeToFile(filePath());
    const std::string bad = filePath() + "/not-a-directory/trace.log";
    try {
        hub::trace::writeToFile(bad);
        ADD_FAILURE() << "opened " << bad;
    } catch (const std::runtime_error& error) {
        EXPECT_THAT(error.what(), HasSubstr("'" + bad + "'"));
    }
    RAS1_Printf(&sqlf_.entry, 1, "still here");
    hub::trace::writeToNothing();
    ASSERT_EQ(fileLines().size(), 1u);
    EXPECT_THAT(fileLines()[0], HasSubstr("still here"));
}

TEST_F(HubTraceOutput, CapturesNestAndChooseWhetherStreamGetsRecords) {
    hub::trace::writeToFile(filePath());
    Capture outer(true);
    RAS1_Printf(&sqlf_.entry, 1, "outer only, streamed");
    {
        Capture inner;
        RAS1_Printf(&sqlf_.entry, 2, "both, not streamed");
        EXPECT_THAT(inner.lines(), ElementsAre("both, not streamed"));
    }
    RAS1_Printf(&sqlf_.entry, 3, "outer again, streamed");
    hub::trace::writeToNothing();

    EXPECT_THAT(outer.lines(), ElementsAre("outer only, streamed", "both, not streamed", "outer again, streamed"));
    const auto lines = fileLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[0], HasSubstr("outer only, streamed"));
    EXPECT_THAT(lines[1], HasSubstr("outer again, streamed"));

    outer.clear();
    EXPECT_THAT(outer.records(), IsEmpty());
}

TEST_F(HubTraceOutput, CaptureSelectsByUnitAndFunction) {
    HandMadeFunction sqlp("kqvmsql.cpp", "kqvsqlp");
    HandMadeFunction get("kqvmutl.cpp", "RSLTget");
    Capture capture;
    RAS1_Printf(&sqlf_.entry, 1, "f");
    RAS1_Event(&sqlp.entry, 2, kTraceEventEntry);
    RAS1_Printf(&sqlp.entry, 3, "p");
    RAS1_Printf(&get.entry, 4, "g");
    hub::trace::log("kqvmsql", "log lines are not trace lines");

    EXPECT_THAT(capture.lines("kqvmsql"), ElementsAre("f", "p"));
    EXPECT_THAT(capture.lines("kqvmsql", "kqvsqlp"), ElementsAre("p"));
    EXPECT_EQ(capture.records("kqvmsql", "kqvsqlp").size(), 2u);
    EXPECT_THAT(capture.records("kqvmsql").back(),
                (Record{"kqvmsql", "", 0, Kind::Log, 0, "log lines are not trace lines"}));
}

TEST_F(HubTraceOutput, ConcurrentWritersLoseAndTearNothing) {
    constexpr int kThreads = 8;
    constexpr int kLinesEach = 1500;
    const std::string payload(200, '#');
    hub::trace::writeToFile(filePath());
    Capture capture(true);

    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            HandMadeFunction function("kqvconc.cpp", "writer");
            for (int i = 0; i < kLinesEach; ++i) {
                RAS1_Printf(&function.entry, t, "thread %d line %d %s", t, i, payload.c_str());
            }
        });
    }
    for (auto& writer : writers) writer.join();
    hub::trace::writeToNothing();

    // Every line whole, and each thread's lines in the order written.
    const std::regex shape(streamLine(R"(kqvconc\.writer:(\d+) thread (\d+) line (\d+) #{200})"));
    std::vector<int> nextLine(kThreads, 0);
    const auto lines = fileLines();
    ASSERT_EQ(lines.size(), std::size_t{kThreads} * kLinesEach);
    for (const std::string& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
        const int thread = std::stoi(match[2]);
        ASSERT_EQ(std::stoi(match[1]), thread);
        ASSERT_EQ(std::stoi(match[3]), nextLine[thread]++);
    }
    EXPECT_EQ(capture.records().size(), lines.size());
}

}  // namespace
