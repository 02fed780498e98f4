// The path of the running program, to find what is installed beside it.
#pragma once

#include <filesystem>

namespace host {

std::filesystem::path programPath(const char* argv0);

}  // namespace host
