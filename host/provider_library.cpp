#include "provider_library.h"

#include "hub/registry.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace host {

namespace {

#if defined(_WIN32)
const char kProviderFile[] = "KQV.dll";

std::string lastLoadError() {
    const DWORD code = GetLastError();
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = text != nullptr ? text : "error " + std::to_string(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    return message;
}
#else
const char kProviderFile[] = "KQVDWSYS";

std::string lastLoadError() {
    const char* text = dlerror();
    return text != nullptr ? text : "unknown error";
}
#endif

}  // namespace

ProviderLibrary::ProviderLibrary(const std::filesystem::path& path) : path_(path) {
    if (!std::filesystem::exists(path_)) {
        throw ProviderError("provider library " + path_.string() + " not found");
    }
#if defined(_WIN32)
    handle_ = LoadLibraryA(path_.string().c_str());
#else
    // An explicit directory, so the loader does not search for a bare name.
    const std::filesystem::path loadPath = path_.has_parent_path() ? path_ : "./" / path_;
    handle_ = dlopen(loadPath.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (handle_ == nullptr) {
        throw ProviderError("cannot load provider library " + path_.string() + ": " +
                            lastLoadError());
    }
    auto* registrationEntry = reinterpret_cast<void (*)(void)>(symbol("cnt1entd"));
    if (registrationEntry == nullptr) {
        throw ProviderError("provider library " + path_.string() +
                            " has no registration entry cnt1entd");
    }
    registrationEntry();
}

ProviderLibrary::~ProviderLibrary() {
    // The registry keeps the library's records by address: the library stays
    // loaded for the rest of the process, as it does in the data server.
}

const PRB1_VectorRecord& ProviderLibrary::table(const std::string& name) const {
    const PRB1_VectorRecord* vector = hub::registry::findTable(name);
    if (vector == nullptr) {
        throw ProviderError("provider library " + path_.string() + " did not register table " +
                            name);
    }
    return *vector;
}

const JwbldValues* ProviderLibrary::exportedBuildInformation() const {
    auto* entry = reinterpret_cast<void (*)(const JwbldValues**)>(symbol("jwbld00"));
    if (entry == nullptr) return nullptr;
    const JwbldValues* values = nullptr;
    entry(&values);
    return values;
}

void* ProviderLibrary::symbol(const char* name) const {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
}

std::filesystem::path ProviderLibrary::defaultPath(const std::filesystem::path& programPath) {
    const std::filesystem::path directory = programPath.parent_path();
#if defined(_WIN32)
    return directory / kProviderFile;
#else
    return directory / ".." / "lib" / kProviderFile;
#endif
}

}  // namespace host
