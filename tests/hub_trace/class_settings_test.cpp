// Which classes a function gets: rule precedence, class lists and
// command-line settings.
#include <gmock/gmock.h>

#include <stdexcept>
#include <string>

#include "trace_test_support.h"

namespace {

using hub::trace::applySetting;
using hub::trace::classesOf;
using hub::trace::parseClasses;
using hub::trace::setClasses;
using ::testing::HasSubstr;

using HubTraceSettings = TraceFacilityTest;

struct Query {
    const char* unit;
    const char* function;
    int32_t expected;
};

TEST_F(HubTraceSettings, NarrowestRuleWins) {
    setClasses("", "", kTraceError);
    setClasses("kqvmsql", "", kTraceDetail | kTraceError);
    setClasses("kqvmsql", "kqvsqlf", kTraceAll);
    setClasses("kqvmutl", "RSLTget", kTraceFlow);

    const Query queries[] = {
        {"kqvmsql", "kqvsqlf", kTraceAll},                   // function rule
        {"kqvmsql", "kqvsqlp", kTraceDetail | kTraceError},  // unit rule
        {"kqvmutl", "RSLTget", kTraceFlow},                  // function rule without a unit rule
        {"kqvmutl", "RSLTinit", kTraceError},                // falls through to global
        {"kqvdwsys", "kqvsqlf", kTraceError},                // same function name, other unit
        {"KQVMSQL", "kqvsqlf", kTraceError},                 // names are case-sensitive
    };
    for (const Query& query : queries) {
        SCOPED_TRACE(std::string(query.unit) + "." + query.function);
        EXPECT_EQ(classesOf(query.unit, query.function), query.expected);
    }
}

TEST_F(HubTraceSettings, LaterRuleReplacesAndClearingForgetsAll) {
    setClasses("kqvmsql", "", kTraceDetail);
    setClasses("kqvmsql", "", kTraceState);
    EXPECT_EQ(classesOf("kqvmsql", "kqvsqlf"), kTraceState);

    setClasses("", "", kTraceAll);
    setClasses("kqvmsql", "kqvsqlf", kTraceFlow);
    hub::trace::clearSettings();
    EXPECT_EQ(classesOf("kqvmsql", "kqvsqlf"), 0);
    EXPECT_EQ(classesOf("kqvmutl", "RSLTget"), 0);
}

TEST_F(HubTraceSettings, FunctionRuleNeedsUnit) {
    EXPECT_THROW(setClasses("", "RSLTget", kTraceAll), std::invalid_argument);
    EXPECT_EQ(classesOf("kqvmutl", "RSLTget"), 0);
}

TEST(HubTraceClassList, ParsesNamesAndNumbers) {
    const struct {
        const char* text;
        int32_t expected;
    } cases[] = {
        {"detail", kTraceDetail},
        {"error,detail", kTraceError | kTraceDetail},
        {"all", kTraceAll},
        {"none", 0},
        {"none,error", kTraceError},
        {"ERROR,Flow", kTraceError | kTraceFlow},
        {"input,state", kTraceInput | kTraceState},
        {"0x41", 0x41},
        {"65", 65},
        {"detail,0x10", kTraceDetail | kTraceState},
        {"0xFFFFFFFF", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseClasses(c.text), c.expected);
    }
}

TEST(HubTraceClassList, RejectsBadListNamingTheBadPart) {
    const struct {
        const char* text;
        const char* named;
    } cases[] = {
        {"", "no trace classes"},
        {"eror", "'eror'"},
        {"error,,detail", "empty trace class"},
        {"error,", "empty trace class"},
        {" error", "' error'"},
        {"0x", "'0x'"},
        {"0x1g", "'0x1g'"},
        {"4294967296", "'4294967296'"},
        {"12abc", "'12abc'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            parseClasses(c.text);
            ADD_FAILURE() << "accepted";
        } catch (const std::invalid_argument& error) {
            EXPECT_THAT(error.what(), HasSubstr(c.named));
        }
    }
}

TEST_F(HubTraceSettings, SettingsApplyInTurn) {
    EXPECT_EQ(applySetting("error").unit, "");
    EXPECT_EQ(applySetting("kqvmsql=detail,flow").unit, "kqvmsql");
    applySetting("kqvmsql.kqvsqlf=none");
    const hub::trace::SettingTarget function = applySetting("kqvmutl.RSLTget=all");
    EXPECT_EQ(function.unit + "." + function.function, "kqvmutl.RSLTget");

    const Query queries[] = {
        {"kqvdwsys", "qvdwsypr", kTraceError},
        {"kqvmsql", "kqvsqlp", kTraceDetail | kTraceFlow},
        {"kqvmsql", "kqvsqlf", 0},
        {"kqvmutl", "RSLTget", kTraceAll},
        {"kqvmutl", "RSLTinit", kTraceError},
    };
    for (const Query& query : queries) {
        SCOPED_TRACE(std::string(query.unit) + "." + query.function);
        EXPECT_EQ(classesOf(query.unit, query.function), query.expected);
    }
}

TEST_F(HubTraceSettings, BadSettingIsRejectedWholeAndNamed) {
    const struct {
        const char* setting;
        const char* named;
    } cases[] = {
        {"kqvmsql=eror", "'eror'"},
        {"=error", "unit name is missing"},
        {".kqvsqlf=all", "unit name is missing"},
        {"kqvmsql.=all", "function name after '.' is missing"},
        {"kqvmsql=", "no trace classes"},
        {"kqvmsql=all=detail", "more than one '='"},
        {"kqv msql=all", "' '"},
        {"kqvmsql,kqvmutl=all", "','"},
        {"kqvmutl.RSLT get=all", "' '"},
        {"errror", "'errror'"},
    };
    applySetting("detail");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        try {
            applySetting(c.setting);
            ADD_FAILURE() << "accepted";
        } catch (const std::invalid_argument& error) {
            EXPECT_THAT(error.what(), HasSubstr(std::string("'") + c.setting + "'"));
            EXPECT_THAT(error.what(), HasSubstr(c.named));
        }
        EXPECT_EQ(classesOf("kqvmsql", "kqvsqlf"), kTraceDetail);
    }
}

}  // namespace
