// Registration with the data server, the entry vector, the version entry and
// the build information, on the provider linked into this program.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hub/registry.h"
#include "provider/kqvdwsys.h"
#include "registration_checks.h"

extern "C" PRB1_VectorRecord PRB1_Vector;

namespace frametest {
namespace {

class ProviderRegistration : public ::testing::Test {
  protected:
    void SetUp() override { hub::registry::reset(); }
    void TearDown() override { hub::registry::reset(); }

    static const PRB1_VectorRecord* registerProvider() {
        cnt1entd();
        return hub::registry::findTable("KQVDWSYS");
    }
};

const ExpectedEntries kLinkedEntries = {reinterpret_cast<const void*>(&qvdwsysr),
                                        reinterpret_cast<const void*>(&qvdwsypr),
                                        reinterpret_cast<const void*>(&qvdwsyts)};

TEST_F(ProviderRegistration, TheContentsRecordLeadsToTheRegisteredVector) {
    const PRB1_VectorRecord* vector = registerProvider();
    ASSERT_NE(vector, nullptr);
    EXPECT_EQ(vector, &PRB1_Vector);
    EXPECT_EQ(hub::registry::tables(), std::vector<std::string>{"KQVDWSYS"});
    EXPECT_EQ(hub::registry::registrations(), 1);
    expectContentsRecord(&CNT1_Contents, vector);
    EXPECT_EQ(wordAt<const void*>(&CNT1_Contents, offsetof(CNT1_ContentsRecord, entryList)),
              static_cast<const void*>(CNT1_entryList));
}

TEST_F(ProviderRegistration, TheVectorHoldsTheHeaderWordsAndTheFourEntries) {
    const PRB1_VectorRecord* vector = registerProvider();
    ASSERT_NE(vector, nullptr);
    expectVector(vector, kLinkedEntries);
}

TEST_F(ProviderRegistration, EveryCallHandsOverTheSameUnchangedRecord) {
    auto bytesOf = [](const void* record, std::size_t size) {
        const auto* begin = static_cast<const unsigned char*>(record);
        return std::vector<unsigned char>(begin, begin + size);
    };
    const auto contents = bytesOf(&CNT1_Contents, sizeof CNT1_Contents);
    const auto entries = bytesOf(CNT1_entryList, sizeof CNT1_entryList);
    const auto vectorBytes = bytesOf(&PRB1_Vector, sizeof PRB1_Vector);

    const PRB1_VectorRecord* first = registerProvider();
    const PRB1_VectorRecord* second = registerProvider();
    EXPECT_EQ(first, second);
    EXPECT_EQ(hub::registry::registrations(), 2);
    EXPECT_EQ(hub::registry::tables(), std::vector<std::string>{"KQVDWSYS"});
    EXPECT_EQ(bytesOf(&CNT1_Contents, sizeof CNT1_Contents), contents);
    EXPECT_EQ(bytesOf(CNT1_entryList, sizeof CNT1_entryList), entries);
    EXPECT_EQ(bytesOf(&PRB1_Vector, sizeof PRB1_Vector), vectorBytes);
}

TEST_F(ProviderRegistration, EntryFourGivesTheVersionAndCompileDateAndTime) {
    const PRB1_VectorRecord* vector = registerProvider();
    ASSERT_NE(vector, nullptr);
    expectVersionEntry(vector);
}

TEST_F(ProviderRegistration, BuildInformationIsCompleteBeforeRegistration) {
    ASSERT_EQ(hub::registry::findTable("KQVDWSYS"), nullptr);
    const JwbldValues* values = nullptr;
    jwbld00(&values);
    EXPECT_EQ(values, &values_list);
    EXPECT_EQ(values->info, info_strings);
    EXPECT_EQ(values->comments, comment_strings);
    expectBuildInformation(values);

    registerProvider();
    const JwbldValues* again = nullptr;
    jwbld00(&again);
    EXPECT_EQ(again, values);
}

}  // namespace
}  // namespace frametest
