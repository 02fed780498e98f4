// Start and termination of a request: statuses, their lines and classes, the
// calls that reach the data server, the work area, and which result tables a
// termination destroys.
#include <gmock/gmock.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "frame_support.h"
#include "heap_seam.h"
#include "hub/ds/status.h"
#include "hub_fixture.h"
#include "platform/dsrequest.h"
#include "provider/kqvdwsys.h"

namespace frametest {
namespace {

using hub::ds::Op;
using hub::ds::Request;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kNoParameterListLine = "Data server parameter list not found.\n";
const std::string kNoWorkAreaLine = "Unable to locate pWorkA work area.\n";
const std::string kInvokedLine = "Invoked for table KQVDWSYS\n";

std::string storageLine(const void* storage) {
    return "Got View storage at " + upperHex(storage) + " of size " + std::to_string(sizeof(DWSYWORK)) + "\n";
}

class RequestFrame : public kqvtest::HubFixture {
  protected:
    void TearDown() override {
        EXPECT_EQ(heap_.outstanding(), 0u) << "result tables left behind";
        HubFixture::TearDown();
    }

    std::vector<std::string> unitLines() const { return lines("kqvdwsys"); }

    kqvtest::HeapSeam heap_;
};

// --- Statuses, lines and calls ---------------------------------------------

enum class Entry { Start, Terminate };

struct CallSeen {
    Op op;
    int32_t item;
    bool operator==(const CallSeen&) const = default;
};
std::ostream& operator<<(std::ostream& out, const CallSeen& call) {
    return out << hub::ds::opName(call.op) << "(" << call.item << ")";
}

struct FrameCase {
    const char* name;
    std::function<void(Request&)> prepare;  // before the entry; its lines and calls are not counted
    Entry entry;
    int32_t status;
    std::function<std::vector<ClassedLine>(const Request&)> lines;
    std::vector<CallSeen> calls;  // that reach the data server, in order
    bool workAreaRegistered;
};

void nothing(Request&) {}
void startRequest(Request& request) { ASSERT_EQ(qvdwsysr(request.handle()), 0); }
void failParameterList(Request&) { hub::ds::failNthCall(Op::GetItem, 1, hub::ds::status::kUnknownItem, ::ds::kItemParameterList); }
void spoilRequest(Request& request) { ASSERT_TRUE(hub::ds::spoil(request.handle())); }
void failViewStorage(Request&) { hub::ds::failNthCall(Op::GetViewStorage, 1, hub::ds::status::kInternalFailure); }
void spoilViewStorage(Request& request) { ASSERT_TRUE(hub::ds::spoil(request.viewStorageHandle())); }

std::function<std::vector<ClassedLine>(const Request&)> fixedLines(std::vector<ClassedLine> lines) {
    return [lines](const Request&) { return lines; };
}

const CallSeen kGetParameterList{Op::GetItem, ::ds::kItemParameterList};
const CallSeen kGetViewStorage{Op::GetViewStorage, 0};
const CallSeen kPutWorkArea{Op::PutItem, ::ds::kItemWorkArea};

const FrameCase kFrameCases[] = {
    {"StartSucceeds", nothing, Entry::Start, 0,
     [](const Request& request) {
         return std::vector<ClassedLine>{{kTraceInput, kInvokedLine},
                                         {kTraceDetail, storageLine(request.workArea())}};
     },
     {kGetParameterList, kGetViewStorage, kPutWorkArea}, true},
    {"StartWithoutParameterList", failParameterList, Entry::Start, 60,
     fixedLines({{kTraceError, kNoParameterListLine}}), {kGetParameterList}, false},
    {"StartOnSpoiledRequestHandle", spoilRequest, Entry::Start, 60,
     fixedLines({{kTraceError, kNoParameterListLine}}), {}, false},
    {"StartWhoseStorageRequestFails", failViewStorage, Entry::Start, 64,
     fixedLines({{kTraceInput, kInvokedLine}}), {kGetParameterList, kGetViewStorage}, false},
    {"StartOnSpoiledStorageHandle", spoilViewStorage, Entry::Start, 64,
     fixedLines({{kTraceInput, kInvokedLine}}), {kGetParameterList}, false},
    {"TerminateWithoutStart", nothing, Entry::Terminate, 71,
     fixedLines({{kTraceError, kNoWorkAreaLine}}), {kGetParameterList}, false},
    {"TerminateAfterFailedStart",
     [](Request& request) {
         failViewStorage(request);
         ASSERT_EQ(qvdwsysr(request.handle()), 64);
     },
     Entry::Terminate, 71, fixedLines({{kTraceError, kNoWorkAreaLine}}), {kGetParameterList}, false},
    {"TerminateWithoutParameterList",
     [](Request& request) {
         startRequest(request);
         failParameterList(request);
     },
     Entry::Terminate, 60, fixedLines({{kTraceError, kNoParameterListLine}}), {kGetParameterList}, true},
    {"TerminateOnSpoiledRequestHandle",
     [](Request& request) {
         startRequest(request);
         spoilRequest(request);
     },
     Entry::Terminate, 60, fixedLines({{kTraceError, kNoParameterListLine}}), {}, true},
    {"TerminateRightAfterStart", startRequest, Entry::Terminate, 0, fixedLines({}), {kGetParameterList}, true},
};

void PrintTo(const FrameCase& c, std::ostream* out) { *out << c.name; }

class FrameStatus : public RequestFrame, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(FrameStatus, StatusLinesAndCallsUnderEveryClassSetting) {
    const FrameCase& c = GetParam();
    for (int32_t classes : classSettings()) {
        SCOPED_TRACE(::testing::Message() << "classes 0x" << std::hex << classes);
        hub::ds::reset();
        Request request("KQVDWSYS");
        c.prepare(request);
        if (HasFatalFailure()) return;
        traceAll(classes);
        capture().clear();
        hub::ds::startRecording();

        const int32_t status =
            c.entry == Entry::Start ? qvdwsysr(request.handle()) : qvdwsyts(request.handle());

        EXPECT_EQ(status, c.status);
        EXPECT_EQ(unitLines(), linesUnder(c.lines(request), classes));
        EXPECT_THAT(lines("kqvmutl"), IsEmpty()) << "no result table is touched";

        std::vector<CallSeen> calls;
        for (const auto& call : hub::ds::recordedCalls()) calls.push_back({call.op, call.item});
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(request.workArea() != nullptr, c.workAreaRegistered);
    }
}

INSTANTIATE_TEST_SUITE_P(RequestEntries, FrameStatus, ::testing::ValuesIn(kFrameCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The work area -----------------------------------------------------------

TEST_F(RequestFrame, StartClearsTheViewStorageAndRegistersItAsTheWorkArea) {
    Request request("KQVDWSYS");
    traceAll(kTraceDetail);
    ASSERT_EQ(qvdwsysr(request.handle()), 0);

    const auto storage = request.viewStorage();
    ASSERT_EQ(storage.size(), 1u) << "one storage request";
    EXPECT_EQ(storage[0].size, sizeof(DWSYWORK));
    if constexpr (sizeof(void*) == 4) {
        EXPECT_EQ(storage[0].size, 248u);
    }
    EXPECT_EQ(request.workArea(), storage[0].address);
    EXPECT_EQ(request.parameters().workArea, storage[0].address);
    EXPECT_THAT(unitLines(), ElementsAre(storageLine(storage[0].address)));

    // The data server hands storage out filled with 0xA5.
    const auto* bytes = static_cast<const unsigned char*>(storage[0].address);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), 8), "DWSYWORK");
    for (std::size_t i = 8; i < storage[0].size; ++i) {
        ASSERT_EQ(bytes[i], 0) << "byte " << i << " of the work area";
    }
    EXPECT_EQ(workAreaOf(request)->rowsReturned, 0);
    EXPECT_EQ(heap_.allocations(), 0u) << "starting makes no result table";
}

TEST_F(RequestFrame, EachRequestGetsAWorkAreaOfItsOwn) {
    Request first("KQVDWSYS");
    Request second("KQVDWSYS");
    ASSERT_EQ(qvdwsysr(first.handle()), 0);
    ASSERT_EQ(qvdwsysr(second.handle()), 0);
    ASSERT_NE(first.workArea(), nullptr);
    EXPECT_NE(first.workArea(), second.workArea());
    EXPECT_EQ(qvdwsyts(first.handle()), 0);
    EXPECT_EQ(qvdwsyts(second.handle()), 0);
}

// --- What termination destroys -----------------------------------------------

TEST_F(RequestFrame, TerminationDestroysResultThenRealNodeThenOriginNodeTable) {
    useScenario(kqvtest::defaultScenarioScript());
    Request request("KQVDWSYS");
    ASSERT_EQ(qvdwsysr(request.handle()), 0);
    ASSERT_EQ(qvdwsypr(request.handle()), 0) << "the default hub has rows";

    DWSYWORK* work = workAreaOf(request);
    const RSLTanchor* tables[] = {work->resultTable, work->realNodeTable, work->originNodeTable};
    for (const RSLTanchor* table : tables) ASSERT_NE(table, nullptr);
    const RSLTlist* resultList = work->resultList;
    const RSLTlink* rowCursor = work->rowCursor;
    ASSERT_NE(rowCursor, nullptr);

    traceAll(kTraceDetail);
    capture().clear();
    EXPECT_EQ(qvdwsyts(request.handle()), 0);

    std::vector<std::string> anchors;
    for (const auto& line : lines("kqvmutl", "RSLTdestroy")) {
        if (line.rfind("RSLT anchor at ", 0) == 0) anchors.push_back(line);
    }
    EXPECT_THAT(anchors, ElementsAre("RSLT anchor at " + hex(tables[0]) + "\n", "RSLT anchor at " + hex(tables[1]) + "\n",
                                     "RSLT anchor at " + hex(tables[2]) + "\n"));
    EXPECT_EQ(work->resultTable, nullptr);
    EXPECT_EQ(work->realNodeTable, nullptr);
    EXPECT_EQ(work->originNodeTable, nullptr);
    // Termination must be the request's last call: it leaves the rest as it was.
    EXPECT_EQ(work->resultList, resultList);
    EXPECT_EQ(work->rowCursor, rowCursor);
    EXPECT_EQ(work->rowsReturned, 1);
    EXPECT_EQ(std::string(work->eyeCatcher, 8), "DWSYWORK");
    EXPECT_EQ(heap_.outstanding(), 0u);
}

TEST_F(RequestFrame, ATableThatFailsToBeDestroyedStaysAndTerminationStillSucceeds) {
    Request request("KQVDWSYS");
    ASSERT_EQ(qvdwsysr(request.handle()), 0);
    RSLTanchor notATable{};
    std::memcpy(notATable.EyeCatcher, "KQVRSLX ", 8);
    workAreaOf(request)->resultTable = &notATable;

    traceAll(0);
    EXPECT_EQ(qvdwsyts(request.handle()), 0);
    EXPECT_EQ(workAreaOf(request)->resultTable, &notATable);
    EXPECT_THAT(lines("kqvmutl", "RSLTdestroy"), ElementsAre("KQVUTL09E RSLT DESTROY FAILED VERIFY"));
    EXPECT_EQ(heap_.releases(), 0u);
}

}  // namespace
}  // namespace frametest
