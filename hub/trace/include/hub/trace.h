// The stand-in hub's trace facility as the hub's own programs and the tests
// see it: which trace classes are on, where lines go, the hub's own log and an
// in-memory capture. Traced code writes through the C entries of
// platform/ras1.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ras1.h"

namespace hub::trace {

enum class Kind { Line, Entry, Exit, ExitVoid, Log };

std::string_view kindName(Kind kind);

// One thing written: a trace line, an entry or exit event, or a message of
// the hub's log.
struct Record {
    std::string unit;      // source unit ("kqvmsql"), or the component of a log message
    std::string function;  // empty for log messages
    int line = 0;          // source line of the call; 0 for log messages
    Kind kind = Kind::Line;
    int32_t value = 0;     // the returned value of a Kind::Exit event
    std::string text;      // exactly as formatted; events read "Entry", "Exit, status=N", "Exit"

    bool operator==(const Record&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Record& record);

// --- Which classes are on ---------------------------------------------------
// A rule for a function beats one for its unit, which beats the global
// default (initially 0). An empty unit sets the global default; an empty
// function, the whole unit. Every change makes every known entry block
// refresh its cached flags on its next use.
void setClasses(std::string_view unit, std::string_view function, int32_t classes);
void clearSettings();

// The flag word that RAS1_Sync hands the function now.
int32_t classesOf(std::string_view unit, std::string_view function);

// "detail,error", "all", "none", "0x41" or "65"; names are case-insensitive
// and may be mixed with numbers. Throws std::invalid_argument.
int32_t parseClasses(std::string_view text);

// What a setting names: its unit and function, each empty where it names
// none.
struct SettingTarget {
    std::string unit;
    std::string function;
};

// One command-line setting: "error,detail" (global), "kqvmsql=error,detail"
// (unit) or "kqvmutl.RSLTget=all" (function). Apply several in turn to
// combine them. Throws std::invalid_argument naming the bad part.
SettingTarget applySetting(std::string_view setting);

// --- Where lines go ---------------------------------------------------------
// One stream at a time: standard error (the default), a file (appended to)
// or nothing. Captures come on top.
void writeToStderr();
// Throws std::runtime_error with the path and the reason if it cannot open.
void writeToFile(const std::string& path);
void writeToNothing();

// A message of the hub's own log: always written, whatever the settings.
void log(std::string_view component, std::string_view text);

namespace detail {
class Sinks;
}

// Keeps every record written while it lives. Unless it is made with
// alsoToStream, records are not written to the stream as well.
class Capture {
  public:
    explicit Capture(bool alsoToStream = false);
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    bool alsoToStream() const { return alsoToStream_; }

    std::vector<Record> records() const;
    // Records of a unit, or of one of its functions when function is given.
    std::vector<Record> records(std::string_view unit, std::string_view function = {}) const;
    // Texts of the Kind::Line records, optionally of one unit or function.
    std::vector<std::string> lines() const;
    std::vector<std::string> lines(std::string_view unit, std::string_view function = {}) const;
    void clear();

  private:
    friend class detail::Sinks;
    void append(const Record& record);

    const bool alsoToStream_;
    mutable std::mutex mutex_;
    std::vector<Record> records_;
};

// --- Units seen -------------------------------------------------------------
// A source unit that has synced, as its unit block described it then.
struct KnownUnit {
    std::string name;  // "kqvmsql"
    std::string fileName;
    int32_t attributes = 0;
    std::string buildDate;  // "Mmm dd yyyy"
    std::string buildTime;  // "hh:mm:ss"
    std::string level;
    // The unit's build-information entry; valid while its library is loaded.
    decltype(TraceUnitBlock::buildInformation) buildInformation = nullptr;
};

// Every unit whose entry blocks have synced, in the order first seen. A unit
// with two sync words (the same source in two libraries) appears twice.
std::vector<KnownUnit> knownUnits();

// The functions of a unit that have synced since the last reset, by name.
std::vector<std::string> syncedFunctions(std::string_view unit);

// The facility keeps the address of every unit's sync word, to bump it on
// each settings change. Before storage that holds sync words goes away (a
// library being unloaded, trace blocks on a test's stack), hand its range
// here, or a later change writes through a dangling address.
void forgetUnitsIn(const void* begin, std::size_t size);

// --- For tests --------------------------------------------------------------
// Number of RAS1_Sync calls, in all or for one function of a unit.
uint64_t syncCalls();
uint64_t syncCalls(std::string_view unit, std::string_view function);

// Settings cleared, output back to standard error, counters zeroed. Live
// captures stay attached.
void reset();

}  // namespace hub::trace
