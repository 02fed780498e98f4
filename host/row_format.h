// Prints the rows of table KQVDWSYS as an aligned table, CSV or JSON.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "provider/kqvdwsys.h"

namespace host {

enum class Format { Table, Csv, Json };

// "table", "csv" or "json"; throws std::invalid_argument otherwise.
Format parseFormat(std::string_view name);

// The names of the table's columns, in the row's order.
const std::vector<std::string>& columnNames();

// The row's values as texts: character fields without their blank padding
// (bytes that are not printable shown as \xNN), numbers in decimal.
std::vector<std::string> rowValues(const DWSysRecord& row);

void printRows(std::ostream& out, const std::vector<DWSysRecord>& rows, Format format);

}  // namespace host
