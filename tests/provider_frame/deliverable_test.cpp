// The deliverable library, loaded by path as the data server loads it: its
// build information before registration, the records it registers (the same,
// unchanged, on every registration), its version entry, and a request started
// and ended through its vector.
#include <gmock/gmock.h>

#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "frame_support.h"
#include "hub/registry.h"
#include "hub_fixture.h"
#include "platform/registration.h"
#include "provider/generated/jwbld00.h"
#include "provider_library.h"

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

// The record's bytes at `offset`, read as a T.
template <typename T>
T wordAt(const void* record, std::size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(record) + offset, sizeof value);
    return value;
}

inline ::testing::AssertionResult zeroBytes(const void* record, std::size_t from, std::size_t to) {
    const auto* bytes = static_cast<const unsigned char*>(record);
    for (std::size_t i = from; i < to; ++i) {
        if (bytes[i] != 0) {
            return ::testing::AssertionFailure() << "byte " << i << " is " << int{bytes[i]};
        }
    }
    return ::testing::AssertionSuccess();
}

// A name field: `name`, then NUL bytes to the field's end.
inline void expectNulPadded(const void* field, std::size_t width, const std::string& name) {
    EXPECT_EQ(std::string(static_cast<const char*>(field), name.size()), name);
    EXPECT_TRUE(zeroBytes(field, name.size(), width));
}

// The contents record and its one entry, as the registration service got them.
inline void expectContentsRecord(const CNT1_ContentsRecord* contents, const PRB1_VectorRecord* registered) {
    expectNulPadded(contents, sizeof contents->providerName, "KQVDWSYS");
    const auto* entryList =
        wordAt<const CNT1_EntryListRecord*>(contents, offsetof(CNT1_ContentsRecord, entryList));
    ASSERT_NE(entryList, nullptr);
    EXPECT_EQ(wordAt<int32_t>(contents, offsetof(CNT1_ContentsRecord, entryCount)), 1);

    expectNulPadded(entryList, sizeof entryList->tableName, "KQVDWSYS");
    EXPECT_EQ(wordAt<int32_t>(entryList, offsetof(CNT1_EntryListRecord, reserved)), 0);
    EXPECT_EQ(wordAt<const void*>(entryList, offsetof(CNT1_EntryListRecord, vector)),
              static_cast<const void*>(registered));
}

struct ExpectedEntries {
    const void* start;
    const void* process;
    const void* terminate;
};

// Header words, the four entries with their zero words, empty entries 5 to 7.
inline void expectVector(const PRB1_VectorRecord* vector, const ExpectedEntries& entries) {
    EXPECT_EQ(wordAt<int32_t>(vector, 0), 23);
    EXPECT_EQ(wordAt<int32_t>(vector, 4), 130);
    EXPECT_EQ(wordAt<int32_t>(vector, 8), 0);

    struct Slot {
        const char* name;
        std::size_t offset;
        const void* function;  // null: any non-null address
    };
    const Slot slots[] = {
        {"entry 1", offsetof(PRB1_VectorRecord, start), entries.start},
        {"entry 2", offsetof(PRB1_VectorRecord, process), entries.process},
        {"entry 3", offsetof(PRB1_VectorRecord, terminate), entries.terminate},
        {"entry 4", offsetof(PRB1_VectorRecord, version), nullptr},
    };
    for (const Slot& slot : slots) {
        SCOPED_TRACE(slot.name);
        const auto* address = wordAt<const void*>(vector, slot.offset);
        if (slot.function != nullptr) {
            EXPECT_EQ(address, slot.function);
        } else {
            EXPECT_NE(address, nullptr);
        }
        EXPECT_TRUE(zeroBytes(vector, slot.offset + sizeof(void*), slot.offset + sizeof(PRB1_RequestSlot)));
    }
    EXPECT_TRUE(zeroBytes(vector, offsetof(PRB1_VectorRecord, unused), sizeof(PRB1_VectorRecord)))
        << "entries 5 to 7";
}

// Entry 4: "V130", the compile date and time, the same static texts every call.
inline void expectVersionEntry(const PRB1_VectorRecord* vector) {
    ASSERT_NE(vector->version.entry, nullptr);
    const char* first[3] = {};
    vector->version.entry(&first[0], &first[1], &first[2]);
    ASSERT_NE(first[0], nullptr);
    ASSERT_NE(first[1], nullptr);
    ASSERT_NE(first[2], nullptr);
    EXPECT_STREQ(first[0], "V130");
    EXPECT_EQ(std::strlen(first[1]), 11u);
    EXPECT_TRUE(std::regex_match(first[1], buildDateForm())) << first[1];
    EXPECT_EQ(std::strlen(first[2]), 8u);
    EXPECT_TRUE(std::regex_match(first[2], buildTimeForm())) << first[2];

    const std::string texts[3] = {first[0], first[1], first[2]};
    for (int call = 2; call <= 3; ++call) {
        const char* again[3] = {};
        vector->version.entry(&again[0], &again[1], &again[2]);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(again[i], first[i]) << "call " << call << ", text " << i + 1;
            EXPECT_EQ(texts[i], first[i]) << "text " << i + 1 << " changed";
        }
    }
}

// values_list: the counts, both arrays ended right after their last text, and
// every entry in its form and place.
inline void expectBuildInformation(const JwbldValues* values) {
    ASSERT_NE(values, nullptr);
    EXPECT_EQ(wordAt<int32_t>(values, 0), 18);
    EXPECT_EQ(wordAt<int32_t>(values, 4), 17);
    ASSERT_NE(values->info, nullptr);
    ASSERT_NE(values->comments, nullptr);
    for (int i = 0; i < 18; ++i) ASSERT_NE(values->info[i], nullptr) << "info text " << i + 1;
    EXPECT_EQ(values->info[18], nullptr) << "the 19th word of info_strings";
    for (int i = 0; i < 17; ++i) ASSERT_NE(values->comments[i], nullptr) << "comment text " << i + 1;
    EXPECT_EQ(values->comments[17], nullptr) << "the 18th word of comment_strings";

    struct Form {
        int number;  // counted from 1
        std::string pattern;
    };
    // The build machine's own texts (or their variables'): any, but not empty.
    const std::string machine = ".+";
    const std::string platform = sizeof(void*) == 4 ? "lnxi386" : "lnxx8664";
    const Form info[] = {
        {1, "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) ( [1-9]|[12][0-9]|3[01]) [0-9]{4}"},
        {2, "([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]"},
        {3, "[^/].*jwbld00.*"},  // relative path of the generated source
        {4, ""},
        {5, platform},
        {6, platform},
        {7, machine},   // user
        {8, machine},   // operating-system release
        {9, machine},   // operating-system version
        {10, machine},  // operating-system name
        {11, machine},  // host name
        {12, machine},  // machine type
        {13, platform},
        {14, platform},
        {15, "4"},
        {16, "kqv"},
        {17, "3652504"},
        {18, "QV410"},
    };
    const auto expectForms = [](const auto& forms, const char* const* texts, const char* what) {
        for (const Form& form : forms) {
            const char* text = texts[form.number - 1];
            EXPECT_TRUE(std::regex_match(text, std::regex(form.pattern)))
                << what << " text " << form.number << ": '" << text << "' is not of the form " << form.pattern;
        }
    };
    expectForms(info, values->info, "info");

    // Compilers by absolute path; the Unix rule for duplicate rows.
    const Form comments[] = {
        {1, "_CC=/.+"},
        {2, "_CC_OPT=.*"},
        {3, "_CXX=/.+"},
        {4, "_CXX_OPT=.*"},
        {5, "_MACROS=(.* )?KQV_KEEP_HIGHEST_STATUS=0( .*)?"},
        {6, "KQVDWSYS table provider V130, product QV410"},
        {7, "Copyright 2026 The KQVDWSYS Authors"},
        {8, "Licensed under the Apache License, Version 2\\.0 \\(the \"License\"\\):"},
        {9, "you may not use this file except in compliance with the License\\."},
        {10, "You may obtain a copy of the License at http://www\\.apache\\.org/licenses/LICENSE-2\\.0"},
        {11, "Distributed under the License on an \"AS IS\" BASIS,"},
        {12, "WITHOUT WARRANTIES OR CONDITIONS OF ANY KIND\\."},
        {13, "Created:(Mon|Tue|Wed|Thu|Fri|Sat|Sun) "
             "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) ( [1-9]|[12][0-9]|3[01]) "
             "([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9] [0-9]{4}"},
        {14, "Application:kqv Table: exsubsys1"},
        {15, "This source is generated by the build\\."},
        {16, "Do not edit it by hand: your changes will be lost\\."},
        {17, "Change provider/generated/jwbld00\\.cmake instead\\."},
    };
    expectForms(comments, values->comments, "comment");
}

std::vector<unsigned char> bytesOf(const void* record, std::size_t size) {
    const auto* begin = static_cast<const unsigned char*>(record);
    return {begin, begin + size};
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
    const auto* contents = exported<const CNT1_ContentsRecord>("CNT1_Contents");
    expectContentsRecord(contents, &vector);
    EXPECT_EQ(wordAt<const void*>(contents, offsetof(CNT1_ContentsRecord, entryList)),
              exported<const void>("CNT1_entryList"));
    expectVector(&vector, {exported<const void>("qvdwsysr"), exported<const void>("qvdwsypr"),
                           exported<const void>("qvdwsyts")});
    expectVersionEntry(&vector);
    // The version entry is reached only through the vector.
    EXPECT_EQ(exported<const void>("KQVDWSYS__GCD"), nullptr);
    expectBuildInformation(library.exportedBuildInformation());
}

TEST_F(Deliverable, EveryRegistrationHandsOverTheSameUnchangedRecords) {
    const auto* contents = exported<const CNT1_ContentsRecord>("CNT1_Contents");
    const auto* entries = exported<const CNT1_EntryListRecord>("CNT1_entryList");
    const auto* vector = exported<const PRB1_VectorRecord>("PRB1_Vector");
    const auto contentsBytes = bytesOf(contents, sizeof *contents);
    const auto entryBytes = bytesOf(entries, sizeof *entries);
    const auto vectorBytes = bytesOf(vector, sizeof *vector);

    host::ProviderLibrary first(KQV_PROVIDER_PATH);
    host::ProviderLibrary second(KQV_PROVIDER_PATH);
    EXPECT_EQ(&first.table("KQVDWSYS"), &second.table("KQVDWSYS"));
    EXPECT_EQ(hub::registry::registrations(), 2);
    EXPECT_EQ(hub::registry::tables(), std::vector<std::string>{"KQVDWSYS"});
    EXPECT_EQ(bytesOf(contents, sizeof *contents), contentsBytes);
    EXPECT_EQ(bytesOf(entries, sizeof *entries), entryBytes);
    EXPECT_EQ(bytesOf(vector, sizeof *vector), vectorBytes);
}

TEST_F(Deliverable, StartsAndEndsARequestThroughItsVector) {
    host::ProviderLibrary library(KQV_PROVIDER_PATH);
    const PRB1_VectorRecord& vector = library.table("KQVDWSYS");

    hub::ds::Request request("KQVDWSYS");
    ASSERT_EQ(vector.start.entry(request.handle()), 0);
    ASSERT_NE(request.workArea(), nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(request.workArea()), 8), "DWSYWORK");
    EXPECT_EQ(vector.terminate.entry(request.handle()), 0);

    hub::ds::Request unstarted("KQVDWSYS");
    EXPECT_EQ(vector.terminate.entry(unstarted.handle()), 71);
}

}  // namespace
}  // namespace frametest
