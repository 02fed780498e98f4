#include "hub/ds/sql_file.h"

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace hub::ds {

namespace {

std::string reason() { return errno != 0 ? ": " + std::generic_category().message(errno) : std::string(); }

}  // namespace

std::string readSqlFile(const std::filesystem::path& file, const std::string& what) {
    // A directory opens as a stream on some systems and then reads as empty.
    std::error_code ignored;
    if (std::filesystem::is_directory(file, ignored)) throw std::runtime_error(what + ": is a directory");
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error(what + ": cannot open the file" + reason());
    std::ostringstream text;
    errno = 0;
    if (in.peek() != std::ifstream::traits_type::eof()) text << in.rdbuf();
    if (in.bad() || !text) throw std::runtime_error(what + ": cannot read the file" + reason());
    return text.str();
}

}  // namespace hub::ds
