// Writes the results of statements as an aligned table, CSV or JSON, each
// row as the engine steps it.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "hub/ds/statements.h"

namespace host {

enum class Format { Table, Csv, Json };

// "table", "csv" or "json"; throws std::invalid_argument otherwise.
Format parseFormat(std::string_view name);

enum class Backslash { Escaped, AsIs };

// Bytes as values show them: printable ASCII as it is, any other byte as
// \xNN, and a backslash too unless it is to stay as it is.
std::string escapedBytes(std::string_view bytes, Backslash backslash = Backslash::Escaped);

// The output could not be written: the results are lost. `reason` as
// writeFailure (messages.h) tells it.
struct OutputLost {
    std::string reason;
};

// A sink for the statement runner that writes every result on `out` as its
// rows come: numbers in decimal (a real always with a point or an exponent),
// texts and blobs byte for byte but that a byte which is not printable, or a
// backslash, is written as \xNN. A write that fails throws OutputLost.
//
// The table format holds the first rows of a result (kTableSampleRows) to
// size its columns; a result that has more is written from then on as it
// comes, in columns at least as wide as a provider's column can be, and a
// later value wider than its column is written whole, the count line saying
// how many were.
class ResultWriter : public hub::ds::ResultSink {
  public:
    // The statement of the result being written failed: what has been
    // written stays, and what was held for it is written, but the result is
    // not finished (no count line, no closing bracket). Throws nothing.
    virtual void cutShort() = 0;
};

inline constexpr std::size_t kTableSampleRows = 1000;

std::unique_ptr<ResultWriter> makeResultWriter(Format format, std::ostream& out);

}  // namespace host
