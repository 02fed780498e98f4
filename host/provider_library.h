// Loads a table provider the way the hub's data server does: by path, then
// its registration entry, then its table's entry vector from the registry.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/registration.h"
#include "provider/generated/jwbld00.h"

namespace host {

// A failure to load or register a provider; the message says which.
class ProviderError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class ProviderLibrary {
  public:
    // Loads the library and calls its registration entry.
    explicit ProviderLibrary(const std::filesystem::path& path);
    ~ProviderLibrary();
    ProviderLibrary(const ProviderLibrary&) = delete;
    ProviderLibrary& operator=(const ProviderLibrary&) = delete;

    // The entry vector that the library registered for `table`.
    const PRB1_VectorRecord& table(const std::string& name) const;

    // The build information, when the library exports it (the Unix build
    // does; the Windows build exports only its registration entry).
    const JwbldValues* exportedBuildInformation() const;

    const std::filesystem::path& path() const { return path_; }

    // Where the provider lies relative to this program in an installation.
    static std::filesystem::path defaultPath(const std::filesystem::path& programPath);

  private:
    void* symbol(const char* name) const;

    std::filesystem::path path_;
    void* handle_ = nullptr;
};

}  // namespace host
