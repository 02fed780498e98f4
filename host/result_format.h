// Prints the result of a statement as an aligned table, CSV or JSON.
#pragma once

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

// A value as text: numbers in decimal (a real always with a point or an
// exponent), NULL as `nullText`, texts and blobs byte for byte but that a
// byte which is not printable, or a backslash, is shown as \xNN.
std::string valueText(const hub::ds::Value& value, std::string_view nullText);

void printResult(std::ostream& out, const hub::ds::ResultSet& result, Format format);

}  // namespace host
