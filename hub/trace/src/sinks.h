// Where records go: one stream (standard error, a file or nothing) and every
// live capture.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "hub/trace.h"

namespace hub::trace::detail {

// Not synchronised: the facility guards it.
class Sinks {
  public:
    void toStderr();
    void toFile(const std::string& path);
    void toNothing();

    void attach(Capture& capture);
    void detach(Capture& capture);

    // thread: the small number of the writing thread, shown on the stream.
    void write(const Record& record, unsigned thread);

  private:
    void writeToStream(const Record& record, unsigned thread);

    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    enum class Stream { Stderr, File, Nothing };

    Stream stream_ = Stream::Stderr;
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::string path_;
    std::vector<Capture*> captures_;
};

// "2026-12-08 19:40:01.123 T3 kqvmsql.kqvsqlf:42 text", ended by one newline.
std::string formatLine(const Record& record, unsigned thread);

}  // namespace hub::trace::detail
