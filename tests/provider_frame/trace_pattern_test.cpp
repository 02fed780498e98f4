// The calling pattern every traced function of every unit follows: entry and
// exit events only under the flow class, with the returned status; flags
// cached until the unit's sync word changes; per-function class settings; and
// the unit blocks handed to the facility.
#include <gmock/gmock.h>

#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "frame_support.h"
#include "heap_seam.h"
#include "hub/ds/status.h"
#include "hub_fixture.h"
#include "provider/generated/jwbld00.h"
#include "hub/registry.h"
#include "provider/kqvdwsys.h"
#include "sql/kqvmsql.h"
#include "util/kqvmutl.h"

namespace frametest {
namespace {

using hub::trace::Kind;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class TracePattern : public kqvtest::HubFixture {
  protected:
    void TearDown() override {
        EXPECT_EQ(heap_.outstanding(), 0u);
        HubFixture::TearDown();
    }

    std::vector<hub::trace::Record> allEvents() {
        std::vector<hub::trace::Record> events;
        for (auto& record : capture().records()) {
            if (record.kind == Kind::Entry || record.kind == Kind::Exit || record.kind == Kind::ExitVoid) {
                events.push_back(record);
            }
        }
        return events;
    }

    kqvtest::HeapSeam heap_;
};

// --- Entry and exit events ---------------------------------------------------

struct EventCase {
    const char* name;
    const char* unit;
    const char* function;
    // Makes exactly one call of `function`; may call other functions too.
    std::function<void(kqvtest::HeapSeam&)> call;
    Kind exitKind;
    int32_t value;  // of a Kind::Exit event
};

RSLTanchor* makeTable() {
    RSLTanchor* table = nullptr;
    EXPECT_EQ(RSLTinit(&table, 116, 10), 0);
    return table;
}

// A record of the SQL layer for the hub's catalog, nothing else set.
SQLRequestHandle catalogRequest() {
    SQLRequestHandle request{};
    request.sqlText = "SELECT NODE FROM Y6SRV.INODESTS;";
    request.pathName = "JW/DS:{SERVER=SRVR01}";
    return request;
}

// A discovery block with empty node tables, as request processing makes it.
QVDWSYAPI discoveryBlock() {
    QVDWSYAPI api{};
    std::memcpy(api.EyeCatcher, "QVDWSYAPI ", sizeof api.EyeCatcher);
    api.InodeTable = makeTable();
    api.RealNodeTable = makeTable();
    api.InodeList = &api.InodeTable->ElementList;
    api.RealNodeList = &api.RealNodeTable->ElementList;
    return api;
}

const EventCase kEventCases[] = {
    {"StartSucceeds", "kqvdwsys", "qvdwsysr",
     [](kqvtest::HeapSeam&) {
         hub::ds::Request request("KQVDWSYS");
         EXPECT_EQ(qvdwsysr(request.handle()), 0);
     },
     Kind::Exit, 0},
    {"StartWithoutParameterList", "kqvdwsys", "qvdwsysr",
     [](kqvtest::HeapSeam&) {
         hub::ds::Request request("KQVDWSYS");
         hub::ds::spoil(request.handle());
         EXPECT_EQ(qvdwsysr(request.handle()), 60);
     },
     Kind::Exit, 60},
    {"StartWithoutViewStorage", "kqvdwsys", "qvdwsysr",
     [](kqvtest::HeapSeam&) {
         hub::ds::Request request("KQVDWSYS");
         hub::ds::spoil(request.viewStorageHandle());
         EXPECT_EQ(qvdwsysr(request.handle()), 64);
     },
     Kind::Exit, 64},
    {"TerminateWithoutWorkArea", "kqvdwsys", "qvdwsyts",
     [](kqvtest::HeapSeam&) {
         hub::ds::Request request("KQVDWSYS");
         EXPECT_EQ(qvdwsyts(request.handle()), 71);
     },
     Kind::Exit, 71},
    {"TerminateSucceeds", "kqvdwsys", "qvdwsyts",
     [](kqvtest::HeapSeam&) {
         hub::ds::Request request("KQVDWSYS");
         ASSERT_EQ(qvdwsysr(request.handle()), 0);
         EXPECT_EQ(qvdwsyts(request.handle()), 0);
     },
     Kind::Exit, 0},
    {"InitSucceeds", "kqvmutl", "RSLTinit",
     [](kqvtest::HeapSeam&) {
         RSLTanchor* table = makeTable();
         RSLTdestroy(&table);
     },
     Kind::Exit, 0},
    {"InitWithoutStorage", "kqvmutl", "RSLTinit",
     [](kqvtest::HeapSeam& heap) {
         heap.failAllocation(1);
         RSLTanchor* table = nullptr;
         EXPECT_EQ(RSLTinit(&table, 116, 10), 3);
     },
     Kind::Exit, 3},
    {"GetSucceeds", "kqvmutl", "RSLTget",
     [](kqvtest::HeapSeam&) {
         RSLTanchor* table = makeTable();
         void* element = nullptr;
         EXPECT_EQ(RSLTget(table, &element), 0);
         RSLTdestroy(&table);
     },
     Kind::Exit, 0},
    {"GetWithoutStorage", "kqvmutl", "RSLTget",
     [](kqvtest::HeapSeam& heap) {
         RSLTanchor* table = makeTable();
         heap.failAllocation(1);
         void* element = nullptr;
         EXPECT_EQ(RSLTget(table, &element), 2);
         RSLTdestroy(&table);
     },
     Kind::Exit, 2},
    {"DestroySucceeds", "kqvmutl", "RSLTdestroy",
     [](kqvtest::HeapSeam&) {
         RSLTanchor* table = makeTable();
         EXPECT_EQ(RSLTdestroy(&table), 0);
     },
     Kind::Exit, 0},
    {"DestroyOfAnotherRecord", "kqvmutl", "RSLTdestroy",
     [](kqvtest::HeapSeam&) {
         RSLTanchor record{};
         RSLTanchor* pointer = &record;
         EXPECT_EQ(RSLTdestroy(&pointer), 1);
     },
     Kind::Exit, 1},
    {"PrepareSucceeds", "kqvmsql", "kqvsqlp",
     [](kqvtest::HeapSeam&) {
         SQLRequestHandle request = catalogRequest();
         EXPECT_EQ(kqvsqlp(&request), 0);
         kqvsqld(&request);
     },
     Kind::Exit, 0},
    {"PrepareWithoutPath", "kqvmsql", "kqvsqlp",
     [](kqvtest::HeapSeam&) {
         hub::ds::failNthCall(hub::ds::Op::Sql1cpth, 1, hub::ds::status::kUnknownServer);
         SQLRequestHandle request = catalogRequest();
         EXPECT_EQ(kqvsqlp(&request), hub::ds::status::kUnknownServer);
     },
     Kind::Exit, hub::ds::status::kUnknownServer},
    {"FetchAtTheEnd", "kqvmsql", "kqvsqlf",
     [](kqvtest::HeapSeam&) {
         SQLRequestHandle request = catalogRequest();
         ASSERT_EQ(kqvsqlp(&request), 0);
         ASSERT_EQ(kqvsqli(&request), 0);
         EXPECT_EQ(kqvsqlf(&request), hub::ds::status::kEndOfData);
         kqvsqld(&request);
     },
     Kind::Exit, hub::ds::status::kEndOfData},
    {"DropOfAClosedPath", "kqvmsql", "kqvsqld",
     [](kqvtest::HeapSeam&) {
         SQLRequestHandle request = catalogRequest();
         EXPECT_EQ(kqvsqld(&request), kqv::kSqlLayerFailure);
     },
     Kind::Exit, kqv::kSqlLayerFailure},
    {"OriginListWithoutNodes", "kqvmutl", "buildOrigList",
     [](kqvtest::HeapSeam&) {
         QVDWSYAPI api = discoveryBlock();
         EXPECT_EQ(buildOrigList(&api, 1), 0);
         RSLTdestroy(&api.InodeTable);
         RSLTdestroy(&api.RealNodeTable);
     },
     Kind::Exit, 0},
    {"NodeListOfNoOriginNode", "kqvmutl", "buildNodeList",
     [](kqvtest::HeapSeam&) {
         QVDWSYAPI api = discoveryBlock();
         EXPECT_EQ(buildNodeList(&api, 1), 1);
         RSLTdestroy(&api.InodeTable);
         RSLTdestroy(&api.RealNodeTable);
     },
     Kind::Exit, 1},
    {"SummarizeHasNoResult", "kqvdwsys", "summarizeQVStatusData",
     [](kqvtest::HeapSeam&) {
         DWSYWORK work{};
         work.resultTable = makeTable();
         work.resultList = &work.resultTable->ElementList;
         DWSysRecord row;
         std::memset(&row, ' ', sizeof row);
         summarizeQVStatusData(&work, &row);
         RSLTdestroy(&work.resultTable);
     },
     Kind::ExitVoid, 0},
};

void PrintTo(const EventCase& c, std::ostream* out) { *out << c.name; }

class TraceEvents : public TracePattern, public ::testing::WithParamInterface<EventCase> {};

TEST_P(TraceEvents, EntryAndExitAreSentOnlyUnderTheFlowClass) {
    const EventCase& c = GetParam();
    useScenario(kqvtest::ScenarioBuilder().script());
    for (int32_t classes : classSettings()) {
        SCOPED_TRACE(::testing::Message() << "classes 0x" << std::hex << classes);
        hub::ds::reset();
        traceAll(classes);
        capture().clear();
        c.call(heap_);
        if (HasFatalFailure()) return;

        if ((classes & kTraceFlow) == 0) {
            EXPECT_THAT(allEvents(), IsEmpty());
            continue;
        }
        const auto events = eventsOf(capture(), c.unit, c.function);
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0].kind, Kind::Entry);
        EXPECT_EQ(events[1].kind, c.exitKind);
        if (c.exitKind == Kind::Exit) {
            EXPECT_EQ(events[1].value, c.value);
        }
        // Nothing of the call is traced outside its entry and exit.
        const auto records = capture().records(c.unit, c.function);
        EXPECT_EQ(records.front().kind, Kind::Entry);
        EXPECT_EQ(records.back().kind, c.exitKind);
    }
}

INSTANTIATE_TEST_SUITE_P(Functions, TraceEvents, ::testing::ValuesIn(kEventCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TracePattern, EveryEntryEventOfANestedCallHasItsExit) {
    traceAll(kTraceFlow);
    hub::ds::Request request("KQVDWSYS");
    ASSERT_EQ(qvdwsysr(request.handle()), 0);
    DWSYWORK* work = workAreaOf(request);
    work->resultTable = makeTable();
    work->realNodeTable = makeTable();
    capture().clear();
    ASSERT_EQ(qvdwsyts(request.handle()), 0);

    std::vector<std::string> sequence;
    for (const auto& event : allEvents()) {
        sequence.push_back(event.function + " " + std::string(hub::trace::kindName(event.kind)));
    }
    const std::string entry = " " + std::string(hub::trace::kindName(Kind::Entry));
    const std::string exit = " " + std::string(hub::trace::kindName(Kind::Exit));
    EXPECT_THAT(sequence, ElementsAre("qvdwsyts" + entry, "RSLTdestroy" + entry, "RSLTdestroy" + exit,
                                      "RSLTdestroy" + entry, "RSLTdestroy" + exit, "qvdwsyts" + exit));
}

// --- Flags cached in the entry block -----------------------------------------

TEST_F(TracePattern, FlagsAreFetchedOnceAndAgainOnlyAfterASettingsChange) {
    hub::ds::Request request("KQVDWSYS");
    auto terminate = [&] { EXPECT_EQ(qvdwsyts(request.handle()), 71); };
    auto syncs = [] { return hub::trace::syncCalls("kqvdwsys", "qvdwsyts"); };

    traceAll(kTraceError);
    for (int call = 1; call <= 3; ++call) {
        terminate();
        EXPECT_EQ(syncs(), 1u) << "call " << call;
    }
    EXPECT_EQ(lines("kqvdwsys", "qvdwsyts").size(), 3u);
    EXPECT_EQ(hub::trace::syncCalls("kqvdwsys", "qvdwsysr"), 0u);

    hub::trace::setClasses("kqvdwsys", "qvdwsyts", kTraceFlow);
    capture().clear();
    terminate();
    terminate();
    EXPECT_EQ(syncs(), 2u);
    EXPECT_THAT(lines("kqvdwsys", "qvdwsyts"), IsEmpty()) << "the error class is off now";
    EXPECT_EQ(eventsOf(capture(), "kqvdwsys", "qvdwsyts").size(), 4u);

    // A change anywhere makes every unit's blocks refresh.
    hub::trace::setClasses("kqvmsql", "", kTraceAll);
    terminate();
    terminate();
    EXPECT_EQ(syncs(), 3u);
}

TEST_F(TracePattern, ClassesApplyToTheFunctionTheyAreSetFor) {
    hub::trace::setClasses("kqvmutl", "RSLTinit", kTraceDetail);
    RSLTanchor* table = makeTable();
    void* element = nullptr;
    ASSERT_EQ(RSLTget(table, &element), 0);
    EXPECT_EQ(lines("kqvmutl", "RSLTinit").size(), 4u);
    EXPECT_THAT(lines("kqvmutl", "RSLTget"), IsEmpty());

    hub::trace::setClasses("kqvmutl", "RSLTget", kTraceDetail);
    hub::trace::setClasses("kqvmutl", "RSLTinit", 0);
    capture().clear();
    ASSERT_EQ(RSLTget(table, &element), 0);
    EXPECT_THAT(lines("kqvmutl", "RSLTget"),
                ElementsAre("RSLT Element 2 at " + hex(element) + " in block " + hex(table->LastBlock) + "\n"));
    RSLTanchor* other = makeTable();
    EXPECT_THAT(lines("kqvmutl", "RSLTinit"), IsEmpty());
    RSLTdestroy(&other);
    RSLTdestroy(&table);
}

// --- Unit blocks ---------------------------------------------------------------

struct UnitCase {
    const char* unit;
    int32_t attributes;
    std::function<void()> call;  // any traced call of the unit
};

const UnitCase kUnitCases[] = {
    {"kqvdwsys", 32768,
     [] {
         hub::ds::Request request("KQVDWSYS");
         qvdwsyts(request.handle());
     }},
    {"kqvmutl", 16777216,
     [] {
         RSLTanchor record{};
         RSLTanchor* pointer = &record;
         RSLTdestroy(&pointer);
     }},
    {"kqvmsql", 16777216,
     [] {
         hub::ds::failNthCall(hub::ds::Op::Sql1cpth, 1, hub::ds::status::kUnknownServer);
         SQLRequestHandle request{};
         request.sqlText = "SELECT NODE FROM Y6SRV.INODESTS;";
         kqvsqlp(&request);
     }},
};

TEST_F(TracePattern, EachUnitDescribesItselfToTheFacility) {
    const char* version[3] = {};
    if (const PRB1_VectorRecord* vector = (cnt1entd(), hub::registry::findTable("KQVDWSYS"))) {
        vector->version.entry(&version[0], &version[1], &version[2]);
    }
    ASSERT_NE(version[1], nullptr);

    for (const UnitCase& c : kUnitCases) {
        SCOPED_TRACE(c.unit);
        c.call();
        const auto units = hub::trace::knownUnits();
        const auto* known = [&]() -> const hub::trace::KnownUnit* {
            for (const auto& unit : units) {
                if (unit.name == c.unit) return &unit;
            }
            return nullptr;
        }();
        ASSERT_NE(known, nullptr);
        EXPECT_EQ(known->attributes, c.attributes);
        EXPECT_TRUE(std::regex_match(known->buildDate, buildDateForm())) << known->buildDate;
        EXPECT_TRUE(std::regex_match(known->buildTime, buildTimeForm())) << known->buildTime;
        EXPECT_EQ(known->level, "level110");
        EXPECT_EQ(known->buildInformation, &jwbld00);
        if (std::string(c.unit) == "kqvdwsys") {
            EXPECT_EQ(known->buildDate, version[1]) << "the version entry's date is its unit's";
            EXPECT_EQ(known->buildTime, version[2]);
        }
    }
}

}  // namespace
}  // namespace frametest
