#include "sinks.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <stdexcept>
#include <system_error>

namespace hub::trace::detail {
namespace {

std::string timestamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
#if defined(_WIN32)
    if (const std::tm* converted = std::localtime(&seconds)) local = *converted;  // per-thread buffer
#else
    localtime_r(&seconds, &local);
#endif
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03d", static_cast<int>(millis));
    return text;
}

}  // namespace

std::string formatLine(const Record& record, unsigned thread) {
    std::string line = timestamp();
    line += " T" + std::to_string(thread) + " " + record.unit;
    if (record.kind == Kind::Log) {
        line += ": ";
    } else {
        line += "." + record.function + ":" + std::to_string(record.line) + " ";
    }
    line += record.text;
    if (line.back() != '\n') line += '\n';
    return line;
}

void Sinks::toStderr() {
    file_.reset();
    path_.clear();
    stream_ = Stream::Stderr;
}

void Sinks::toFile(const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "a"));
    if (!file) {
        throw std::runtime_error("cannot open trace file '" + path +
                                 "': " + std::generic_category().message(errno));
    }
    file_ = std::move(file);
    path_ = path;
    stream_ = Stream::File;
}

void Sinks::toNothing() {
    file_.reset();
    path_.clear();
    stream_ = Stream::Nothing;
}

void Sinks::attach(Capture& capture) { captures_.push_back(&capture); }

void Sinks::detach(Capture& capture) { std::erase(captures_, &capture); }

void Sinks::write(const Record& record, unsigned thread) {
    bool toStream = true;
    for (Capture* capture : captures_) {
        capture->append(record);
        toStream = toStream && capture->alsoToStream();
    }
    if (toStream) writeToStream(record, thread);
}

void Sinks::writeToStream(const Record& record, unsigned thread) {
    if (stream_ == Stream::Nothing) return;
    const std::string line = formatLine(record, thread);
    std::FILE* out = stream_ == Stream::File ? file_.get() : stderr;
    if (std::fwrite(line.data(), 1, line.size(), out) == line.size() && std::fflush(out) == 0) return;
    if (stream_ == Stream::Stderr) return;  // nowhere left to complain

    // Keep the lines coming on standard error rather than lose them.
    const std::string reason = std::generic_category().message(errno);
    std::fprintf(stderr, "trace: writing to '%s' failed (%s); tracing to standard error from now on\n",
                 path_.c_str(), reason.c_str());
    toStderr();
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace hub::trace::detail
