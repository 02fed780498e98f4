// SQL scripts read from files: scenarios, and the statements that the host
// program runs.
#pragma once

#include <filesystem>
#include <string>

namespace hub::ds {

// The whole file, byte for byte. Throws std::runtime_error beginning with
// `what` ("scenario hub.sql") when the file is a directory, cannot be
// opened or cannot be read, with the system's reason.
std::string readSqlFile(const std::filesystem::path& file, const std::string& what);

}  // namespace hub::ds
