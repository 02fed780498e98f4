// The fuzz targets, one function each, so that a program can run any
// of them: libFuzzer's entry, or a test replaying inputs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzzing {

// Node names and affinities from the hub's catalog (buildOrigList, buildNodeList).
void runCatalogInput(const uint8_t* data, std::size_t size);
// Agents' rows (collectQVStatusdata, summarizeQVStatusData).
void runAgentRowsInput(const uint8_t* data, std::size_t size);
// The query's index filters, read by the processing entry.
void runFilterInput(const uint8_t* data, std::size_t size);
// Scenario text and statement text as a user hands them to the host program
// (the stand-in hub's Scenario and runStatements).
void runHostInput(const uint8_t* data, std::size_t size);

}  // namespace fuzzing
