// What the trace facility's tests share: a fixture that leaves the facility
// as it found it, and trace blocks laid out by hand for freely named units.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>

#include "hub/trace.h"
#include "platform/ras1.h"

class TraceFacilityTest : public ::testing::Test {
  protected:
    void SetUp() override {
        hub::trace::reset();
        hub::trace::writeToNothing();
    }
    void TearDown() override { hub::trace::reset(); }
};

// One traced function of a unit, as a provider's static data would describe
// it. fileNameLength defaults to the whole name. The facility forgets its
// sync word when it goes.
struct HandMadeFunction {
    HandMadeFunction(const char* fileName, const char* function, int32_t fileNameLength = -1) {
        unit.magic = 400;
        unit.fileName = fileName;
        unit.fileNameLength = fileNameLength >= 0 ? fileNameLength : static_cast<int32_t>(std::strlen(fileName));
        entry.unit = &unit;
        entry.functionName = function;
        entry.functionNameLength = static_cast<int32_t>(std::strlen(function));
        entry.sourceLine = 1;
        entry.unitSync = &sync;
        entry.magic = 512;
    }
    ~HandMadeFunction() { hub::trace::forgetUnitsIn(&sync, sizeof sync); }
    HandMadeFunction(const HandMadeFunction&) = delete;
    HandMadeFunction& operator=(const HandMadeFunction&) = delete;

    std::atomic<int32_t> sync{1};
    TraceUnitBlock unit{};
    TraceEntryBlock entry{};
};
