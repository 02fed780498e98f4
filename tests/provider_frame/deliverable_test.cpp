// The deliverable library, loaded by path as the data server loads it: its
// build information before registration, the records it registers, its
// version entry, and a request started and ended through its vector.
#include <gmock/gmock.h>

#include <dlfcn.h>

#include <string>

#include "frame_support.h"
#include "hub/registry.h"
#include "hub_fixture.h"
#include "provider_library.h"
#include "query.h"
#include "registration_checks.h"

#ifndef KQV_PROVIDER_PATH
#error "KQV_PROVIDER_PATH must name the deliverable"
#endif

namespace frametest {
namespace {

// The library as this process loaded it, for looking up its exports. Like the
// data server, the process never unloads it: the trace facility keeps the
// addresses of its sync words.
void* deliverable() {
    static void* const handle = dlopen(KQV_PROVIDER_PATH, RTLD_NOW | RTLD_LOCAL);
    return handle;
}

template <typename T>
T* exported(const char* name) {
    return reinterpret_cast<T*>(dlsym(deliverable(), name));
}

class Deliverable : public kqvtest::HubFixture {
  protected:
    void SetUp() override {
        HubFixture::SetUp();
        hub::registry::reset();
        ASSERT_NE(deliverable(), nullptr) << dlerror();
    }
};

TEST_F(Deliverable, BuildInformationIsCompleteBeforeRegistration) {
    auto* entry = exported<void(const JwbldValues**)>("jwbld00");
    ASSERT_NE(entry, nullptr);
    const JwbldValues* values = nullptr;
    entry(&values);
    EXPECT_EQ(hub::registry::registrations(), 0);
    EXPECT_EQ(values, exported<const JwbldValues>("values_list"));
    EXPECT_EQ(static_cast<const void*>(values->info), exported<const void>("info_strings"));
    EXPECT_EQ(static_cast<const void*>(values->comments), exported<const void>("comment_strings"));
    expectBuildInformation(values);
}

TEST_F(Deliverable, RegistersItsContentsRecordAndVector) {
    host::ProviderLibrary library(KQV_PROVIDER_PATH);
    const PRB1_VectorRecord& vector = library.table("KQVDWSYS");
    EXPECT_EQ(hub::registry::tables(), std::vector<std::string>{"KQVDWSYS"});
    EXPECT_EQ(&vector, exported<const PRB1_VectorRecord>("PRB1_Vector"));
    expectContentsRecord(exported<const CNT1_ContentsRecord>("CNT1_Contents"), &vector);
    expectVector(&vector, {exported<const void>("qvdwsysr"), exported<const void>("qvdwsypr"),
                           exported<const void>("qvdwsyts")});
    expectVersionEntry(&vector);
    // The version entry is reached only through the vector.
    EXPECT_EQ(exported<const void>("KQVDWSYS__GCD"), nullptr);
    expectBuildInformation(library.exportedBuildInformation());
}

TEST_F(Deliverable, StartsAndEndsARequestThroughItsVector) {
    host::ProviderLibrary library(KQV_PROVIDER_PATH);
    const PRB1_VectorRecord& vector = library.table("KQVDWSYS");
    traceAll(kTraceAll);

    hub::ds::Request request("KQVDWSYS");
    ASSERT_EQ(vector.start.entry(request.handle()), 0);
    ASSERT_NE(request.workArea(), nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(request.workArea()), 8), "DWSYWORK");
    EXPECT_THAT(lines("kqvdwsys", "qvdwsysr"),
                ::testing::ElementsAre("Invoked for table KQVDWSYS\n",
                                       "Got View storage at " + upperHex(request.workArea()) + " of size " +
                                           std::to_string(sizeof(DWSYWORK)) + "\n"));
    EXPECT_EQ(vector.terminate.entry(request.handle()), 0);

    hub::ds::Request unstarted("KQVDWSYS");
    EXPECT_EQ(vector.terminate.entry(unstarted.handle()), 71);
}

TEST_F(Deliverable, AQueryOnAHubWithoutOriginNodesEndsWithoutRows) {
    host::ProviderLibrary library(KQV_PROVIDER_PATH);
    useScenario(kqvtest::ScenarioBuilder().script());
    const host::QueryResult result = host::runQuery(library.table("KQVDWSYS"), {});
    EXPECT_THAT(result.rows, ::testing::IsEmpty());
    EXPECT_EQ(result.passes, 1);
}

}  // namespace
}  // namespace frametest
