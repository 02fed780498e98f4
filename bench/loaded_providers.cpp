#include "loaded_providers.h"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace bench {

namespace {

// A symbol of a library that is loaded already.
void* symbolOf(const std::filesystem::path& library, const char* name) {
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) throw std::runtime_error(library.string() + " is not loaded");
    void* symbol = dlsym(handle, name);
    dlclose(handle);  // drops only the reference taken here
    if (symbol == nullptr) {
        throw std::runtime_error(library.string() + " exports no " + name + ": not a TEST_SEAMS build");
    }
    return symbol;
}

}  // namespace

LoadedProviders::LoadedProviders(const std::filesystem::path& deliverable,
                                 const std::filesystem::path& seamBuild) {
    // Each registers table KQVDWSYS; the vector is taken before the next
    // library replaces it in the registry.
    deliverableLibrary_ = std::make_unique<host::ProviderLibrary>(deliverable);
    deliverable_ = &deliverableLibrary_->table("KQVDWSYS");
    seamLibrary_ = std::make_unique<host::ProviderLibrary>(seamBuild);
    seamBuild_ = &seamLibrary_->table("KQVDWSYS");
    if (seamBuild_ == deliverable_) {
        throw std::runtime_error(seamBuild.string() + " is the same library as " + deliverable.string());
    }

    const std::filesystem::path& seamPath = seamLibrary_->path();
    threshold_ = static_cast<int32_t*>(symbolOf(seamPath, "kqvIdentityIndexThreshold"));
    hooks_.allocate = static_cast<void* (**)(std::size_t)>(symbolOf(seamPath, "kqvHeapAllocate"));
    hooks_.release = static_cast<void (**)(void*)>(symbolOf(seamPath, "kqvHeapRelease"));
}

}  // namespace bench
