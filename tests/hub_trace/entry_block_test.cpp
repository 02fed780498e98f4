// The C entries as traced code uses them: flags stored in entry blocks, the
// sync word, the units the facility knows, and the records of entry and exit
// events. Which events a provider's function sends, and when its block syncs
// again, is the provider's trace pattern test's.
#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "trace/kqvtrace.h"
#include "trace_test_support.h"

// The unit blocks of kqvtrace.h name the build-information entry; the
// facility never calls it.
extern "C" void jwbld00(const JwbldValues** values) { *values = nullptr; }

KQV_TRACE_UNIT("kqvdemo.cpp", kqv::kUnitAttributesLibrary)

namespace {

using hub::trace::Capture;
using hub::trace::Kind;
using hub::trace::Record;
using hub::trace::setClasses;
using hub::trace::syncCalls;
using ::testing::ElementsAre;

int demoBeginLine = 0;
int demoExitLine = 0;

int32_t demoStatus(int32_t value) {
    demoBeginLine = __LINE__ + 1;
    KQV_TRACE_BEGIN(demoStatus);
    KQV_TRACE(kTraceDetail, "value is %d", static_cast<int>(value));
    demoExitLine = __LINE__ + 1;
    KQV_RETURN(value);
}

void demoVoid() {
    KQV_TRACE_BEGIN(demoVoid);
    KQV_RETURN_VOID();
}

using HubTraceEntryBlock = TraceFacilityTest;

TEST_F(HubTraceEntryBlock, SyncStoresFlagsAndUnitSyncValue) {
    HandMadeFunction function("kqvmsql.cpp", "kqvsqlf");
    function.sync = 7;
    setClasses("kqvmsql", "kqvsqlf", kTraceError | kTraceFlow);

    EXPECT_EQ(RAS1_Sync(&function.entry), kTraceError | kTraceFlow);
    EXPECT_EQ(function.entry.cachedFlags.load(), kTraceError | kTraceFlow);
    EXPECT_EQ(function.entry.cachedSync.load(), 7);
}

TEST_F(HubTraceEntryBlock, UnitIsFileNameUpToFirstDot) {
    const struct {
        const char* fileName;
        int32_t length;  // -1: the whole name
        const char* unit;
    } cases[] = {
        {"kqvmsql.cpp", -1, "kqvmsql"},
        {"kqvmsql.cpp.orig", -1, "kqvmsql"},
        {"sql/kqvmsql.cpp", -1, "kqvmsql"},
        {"C:\\build\\kqvmutl.c", -1, "kqvmutl"},
        {"kqvdwsys", -1, "kqvdwsys"},
        {"kqvmsqlGARBAGE", 7, "kqvmsql"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileName);
        hub::trace::clearSettings();
        setClasses(c.unit, "", kTraceState);
        HandMadeFunction function(c.fileName, "anyFunction", c.length);
        const uint64_t before = syncCalls(c.unit, "anyFunction");
        EXPECT_EQ(RAS1_Sync(&function.entry), kTraceState);
        EXPECT_EQ(syncCalls(c.unit, "anyFunction"), before + 1);
    }
}

TEST_F(HubTraceEntryBlock, SyncWordSkipsZeroWhenItWraps) {
    HandMadeFunction function("kqvwrap.cpp", "f");
    function.sync = -1;
    RAS1_Sync(&function.entry);

    setClasses("kqvwrap", "", kTraceFlow);
    // A block that never synced caches 0; the sync word must not match it.
    EXPECT_EQ(function.sync.load(), 1);
    EXPECT_NE(function.entry.cachedSync.load(), function.sync.load());
}

TEST_F(HubTraceEntryBlock, KnownUnitsDescribeEachUnitOnce) {
    demoStatus(1);
    demoVoid();
    std::vector<hub::trace::KnownUnit> demo;
    for (const auto& unit : hub::trace::knownUnits()) {
        if (unit.name == "kqvdemo") demo.push_back(unit);
    }
    ASSERT_EQ(demo.size(), 1u);
    EXPECT_EQ(demo[0].fileName, "kqvdemo.cpp");
    EXPECT_EQ(demo[0].attributes, kqv::kUnitAttributesLibrary);
    EXPECT_EQ(demo[0].buildDate, __DATE__);
    EXPECT_EQ(demo[0].buildTime.size(), 8u);
    EXPECT_EQ(demo[0].level, "level110");
    EXPECT_EQ(demo[0].buildInformation, &jwbld00);
}

TEST_F(HubTraceEntryBlock, ForgottenUnitIsNoLongerBumpedNorKnown) {
    HandMadeFunction kept("kqvkept.cpp", "f");
    HandMadeFunction gone("kqvgone.cpp", "f");
    RAS1_Sync(&kept.entry);
    RAS1_Sync(&gone.entry);

    hub::trace::forgetUnitsIn(&gone.sync, sizeof gone.sync);
    setClasses("", "", kTraceError);
    EXPECT_EQ(kept.sync.load(), 2);
    EXPECT_EQ(gone.sync.load(), 1);
    for (const auto& unit : hub::trace::knownUnits()) EXPECT_NE(unit.name, "kqvgone");
}

TEST_F(HubTraceEntryBlock, EventsNameTheirLineAndTheExitValue) {
    setClasses("kqvdemo", "", kTraceFlow);
    Capture capture;
    demoStatus(-5);
    demoVoid();

    const auto records = capture.records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0], (Record{"kqvdemo", "demoStatus", demoBeginLine, Kind::Entry, 0, "Entry"}));
    EXPECT_EQ(records[1], (Record{"kqvdemo", "demoStatus", demoExitLine, Kind::Exit, -5, "Exit, status=-5"}));
    EXPECT_EQ(records[2].kind, Kind::Entry);
    EXPECT_EQ(records[3], (Record{"kqvdemo", "demoVoid", records[3].line, Kind::ExitVoid, 0, "Exit"}));
}

TEST_F(HubTraceEntryBlock, MalformedBlocksDoNotCrash) {
    Capture capture;
    EXPECT_EQ(RAS1_Sync(nullptr), 0);
    RAS1_Event(nullptr, 1, kTraceEventEntry);
    RAS1_Printf(nullptr, 1, "lost");

    TraceEntryBlock orphan{};
    setClasses("", "", kTraceError);
    EXPECT_EQ(RAS1_Sync(&orphan), kTraceError);
    RAS1_Printf(&orphan, 3, "no unit, no name");
    EXPECT_THAT(capture.records(), ElementsAre(Record{"", "", 3, Kind::Line, 0, "no unit, no name"}));
}

TEST_F(HubTraceEntryBlock, UnknownEventKindGoesToHubLog) {
    HandMadeFunction function("kqvmsql.cpp", "kqvsqlf");
    Capture capture;
    RAS1_Event(&function.entry, 5, 7, 1234);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, Kind::Log);
    EXPECT_EQ(records[0].unit, "trace");
    EXPECT_EQ(records[0].text, "unknown event kind 7 from kqvmsql.kqvsqlf:5");
}

}  // namespace
