// Registering providers' contents records and finding their tables.
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "hub/registry.h"
#include "hub/trace.h"

namespace {

using hub::registry::findTable;
using hub::registry::registrations;
using hub::registry::tables;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

void copyName(char* field, std::size_t width, std::string_view name) {
    std::memset(field, 0, width);
    std::memcpy(field, name.data(), std::min(width, name.size()));
}

// A provider's static registration data: contents, entry list and vectors.
struct ProviderContents {
    ProviderContents(std::string_view provider, const std::vector<std::string>& tableNames)
        : entries(tableNames.size()), vectors(tableNames.size()) {
        copyName(contents.providerName, sizeof contents.providerName, provider);
        for (std::size_t i = 0; i < tableNames.size(); ++i) {
            copyName(entries[i].tableName, sizeof entries[i].tableName, tableNames[i]);
            entries[i].vector = &vectors[i];
        }
        contents.entryList = entries.data();
        contents.entryCount = static_cast<int32_t>(entries.size());
    }
    ProviderContents(const ProviderContents&) = delete;
    ProviderContents& operator=(const ProviderContents&) = delete;

    CNT1_ContentsRecord contents{};
    std::vector<CNT1_EntryListRecord> entries;
    std::vector<PRB1_VectorRecord> vectors;
};

class HubRegistry : public ::testing::Test {
  protected:
    void SetUp() override {
        hub::registry::reset();
        hub::trace::reset();
        hub::trace::writeToNothing();
    }
    void TearDown() override {
        hub::registry::reset();
        hub::trace::reset();
    }

    std::vector<std::string> logLines() const {
        std::vector<std::string> texts;
        for (const auto& record : log_.records("registry")) texts.push_back(record.text);
        return texts;
    }

    hub::trace::Capture log_;
};

TEST_F(HubRegistry, EveryTableOfTheListIsFoundByName) {
    ProviderContents provider("KQVDWSYS", {"KQVDWSYS", "KQVAUX"});
    EXPECT_EQ(kglcnmnt(&provider.contents, 0), hub::registry::kRegistered);

    EXPECT_EQ(findTable("KQVDWSYS"), &provider.vectors[0]);
    EXPECT_EQ(findTable("KQVAUX"), &provider.vectors[1]);
    EXPECT_EQ(findTable("KQVDWSY"), nullptr);
    EXPECT_EQ(findTable("kqvdwsys"), nullptr);
    EXPECT_THAT(tables(), ElementsAre("KQVAUX", "KQVDWSYS"));
    EXPECT_EQ(registrations(), 1);
    EXPECT_THAT(logLines(), ElementsAre("provider 'KQVDWSYS' registered: KQVDWSYS, KQVAUX"));
}

TEST_F(HubRegistry, SameRecordAgainChangesNothingButTheCount) {
    ProviderContents provider("KQVDWSYS", {"KQVDWSYS"});
    EXPECT_EQ(kglcnmnt(&provider.contents, 0), 0);
    EXPECT_EQ(kglcnmnt(&provider.contents, 0), 0);
    EXPECT_THAT(tables(), ElementsAre("KQVDWSYS"));
    EXPECT_EQ(findTable("KQVDWSYS"), &provider.vectors[0]);
    EXPECT_EQ(registrations(), 2);
}

TEST_F(HubRegistry, TableFromAnotherRecordReplacesTheEarlier) {
    ProviderContents first("FIRST", {"SHARED", "ONLYFIRST"});
    ProviderContents second("SECOND", {"SHARED"});
    ASSERT_EQ(kglcnmnt(&first.contents, 0), 0);
    ASSERT_EQ(kglcnmnt(&second.contents, 0), 0);

    EXPECT_EQ(findTable("SHARED"), &second.vectors[0]);
    EXPECT_EQ(findTable("ONLYFIRST"), &first.vectors[1]);
    EXPECT_THAT(logLines(), testing::Contains("table 'SHARED' of provider 'FIRST' replaced by provider 'SECOND'"));
}

TEST_F(HubRegistry, NullRecordIsRejectedAndLogged) {
    EXPECT_EQ(kglcnmnt(nullptr, 0), hub::registry::kNoContents);
    EXPECT_THAT(logLines(), ElementsAre("contents record rejected (status 1): no contents record"));
}

TEST_F(HubRegistry, MalformedRecordIsRejectedWholeAndLogged) {
    using Spoil = void (*)(ProviderContents&);
    const struct {
        const char* what;
        Spoil spoil;
        int32_t status;
        const char* logged;
    } cases[] = {
        {"unterminated provider name", [](ProviderContents& p) { std::memset(p.contents.providerName, 'P', 256); },
         hub::registry::kBadProviderName, "has no NUL within its 256 bytes"},
        {"unprintable provider name", [](ProviderContents& p) { std::memset(p.contents.providerName, 1, 256); },
         hub::registry::kBadProviderName, "'\\x01\\x01"},
        {"empty provider name", [](ProviderContents& p) { p.contents.providerName[0] = '\0'; },
         hub::registry::kBadProviderName, "provider name is empty"},
        {"no entries", [](ProviderContents& p) { p.contents.entryCount = 0; },
         hub::registry::kBadEntryCount, "provider 'GOOD': entry count 0 is not between 1 and 1024"},
        {"negative entry count", [](ProviderContents& p) { p.contents.entryCount = -3; },
         hub::registry::kBadEntryCount, "entry count -3"},
        {"implausible entry count", [](ProviderContents& p) { p.contents.entryCount = 5000; },
         hub::registry::kBadEntryCount, "entry count 5000"},
        {"null entry list", [](ProviderContents& p) { p.contents.entryList = nullptr; },
         hub::registry::kNoEntryList, "provider 'GOOD': no entry list"},
        {"unterminated table name", [](ProviderContents& p) { std::memset(p.entries[1].tableName, 'T', 32); },
         hub::registry::kBadTableName,
         "entry 2 of 2: table name 'TTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTT' has no NUL within its 32 bytes"},
        {"empty table name", [](ProviderContents& p) { p.entries[1].tableName[0] = '\0'; },
         hub::registry::kBadTableName, "entry 2 of 2: table name is empty"},
        {"null vector", [](ProviderContents& p) { p.entries[1].vector = nullptr; },
         hub::registry::kNoVector, "entry 2 of 2: table 'SECOND' has no vector"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        log_.clear();
        ProviderContents provider("GOOD", {"FIRST", "SECOND"});
        c.spoil(provider);
        EXPECT_EQ(kglcnmnt(&provider.contents, 0), c.status);
        EXPECT_THAT(tables(), IsEmpty());
        EXPECT_EQ(registrations(), 0);
        const auto lines = logLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_THAT(lines[0], HasSubstr("rejected"));
        EXPECT_THAT(lines[0], HasSubstr(c.logged));
    }
}

TEST_F(HubRegistry, ConcurrentRegistrationsAndLookups) {
    constexpr int kProviders = 4;
    constexpr int kRounds = 200;
    std::vector<std::unique_ptr<ProviderContents>> providers;
    for (int p = 0; p < kProviders; ++p) {
        providers.push_back(std::make_unique<ProviderContents>("P" + std::to_string(p),
                                                               std::vector<std::string>{"T" + std::to_string(p)}));
    }
    std::atomic<int> wrongLookups{0};
    std::vector<std::thread> threads;
    for (int p = 0; p < kProviders; ++p) {
        threads.emplace_back([&, p] {
            for (int i = 0; i < kRounds; ++i) kglcnmnt(&providers[p]->contents, 0);
        });
        threads.emplace_back([&, p] {
            for (int i = 0; i < kRounds; ++i) {
                const PRB1_VectorRecord* found = findTable("T" + std::to_string(p));
                if (found != nullptr && found != &providers[p]->vectors[0]) ++wrongLookups;
                if (tables().size() > kProviders) ++wrongLookups;
            }
        });
    }
    for (auto& thread : threads) thread.join();

    EXPECT_EQ(wrongLookups.load(), 0);
    EXPECT_EQ(registrations(), kProviders * kRounds);
    for (int p = 0; p < kProviders; ++p) EXPECT_EQ(findTable("T" + std::to_string(p)), &providers[p]->vectors[0]);
}

}  // namespace
