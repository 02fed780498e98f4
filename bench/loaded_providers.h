// The two provider builds the benchmark runs: the deliverable, timed as the
// data server would run it, and the TEST_SEAMS build, whose heap hooks and
// index threshold give the peak heap and the runs without the index.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "heap_meter.h"
#include "provider_library.h"

namespace bench {

class LoadedProviders {
  public:
    // Throws host::ProviderError, or std::runtime_error when the second
    // build lacks the seams.
    LoadedProviders(const std::filesystem::path& deliverable, const std::filesystem::path& seamBuild);

    const PRB1_VectorRecord& deliverable() const { return *deliverable_; }
    const PRB1_VectorRecord& seamBuild() const { return *seamBuild_; }

    // Identities at which the seam build indexes the results table;
    // kNeverIndex keeps the linear walk.
    void setIndexThreshold(int32_t identities) { *threshold_ = identities; }
    static constexpr int32_t kDefaultThreshold = 64;
    static constexpr int32_t kNeverIndex = INT32_MAX;

    const HeapHooks& heapHooks() const { return hooks_; }

  private:
    // Both stay loaded for the life of the process, as in the data server.
    std::unique_ptr<host::ProviderLibrary> deliverableLibrary_;
    std::unique_ptr<host::ProviderLibrary> seamLibrary_;
    const PRB1_VectorRecord* deliverable_ = nullptr;
    const PRB1_VectorRecord* seamBuild_ = nullptr;
    int32_t* threshold_ = nullptr;
    HeapHooks hooks_;
};

}  // namespace bench
