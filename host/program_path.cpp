#include "program_path.h"

#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace host {

std::filesystem::path programPath(const char* argv0) {
#if defined(_WIN32)
    char buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (length > 0 && length < sizeof buffer) return std::filesystem::path(buffer);
#else
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) return self;
#endif
    return std::filesystem::absolute(argv0);
}

}  // namespace host
