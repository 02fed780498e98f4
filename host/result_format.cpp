#include "result_format.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

#include "messages.h"

namespace host {

namespace {

using hub::ds::ValueView;

bool printable(unsigned char byte, Backslash backslash) {
    return byte >= 0x20 && byte < 0x7f && (byte != '\\' || backslash == Backslash::AsIs);
}

void appendEscaped(std::string& to, std::string_view bytes, Backslash backslash = Backslash::Escaped) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    auto at = bytes.begin();
    while (at != bytes.end()) {
        const auto plain =
            std::find_if(at, bytes.end(), [&](char c) { return !printable(static_cast<unsigned char>(c), backslash); });
        to.append(at, plain);
        if (plain == bytes.end()) break;
        const auto byte = static_cast<unsigned char>(*plain);
        to += "\\x";
        to += kDigits[byte >> 4];
        to += kDigits[byte & 0xF];
        at = plain + 1;
    }
}

void appendInteger(std::string& to, int64_t number) {
    char digits[24];
    const auto converted = std::to_chars(digits, digits + sizeof digits, number);
    to.append(digits, converted.ptr);
}

void appendReal(std::string& to, double number) {
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%.15g", number);
    const std::string_view written(text, static_cast<std::size_t>(length));
    to += written;
    if (written.find_first_of(".eEni") == std::string_view::npos) to += ".0";  // not "inf" or "nan" either
}

// A value as text, NULL as `nullText`.
void appendValueText(std::string& to, const ValueView& value, std::string_view nullText) {
    if (const auto* integer = std::get_if<int64_t>(&value)) return appendInteger(to, *integer);
    if (const auto* real = std::get_if<double>(&value)) return appendReal(to, *real);
    if (const auto* text = std::get_if<std::string_view>(&value)) return appendEscaped(to, *text);
    if (const auto* blob = std::get_if<hub::ds::BlobView>(&value)) return appendEscaped(to, blob->bytes);
    to += nullText;
}

bool isNumber(const ValueView& value) {
    return std::holds_alternative<int64_t>(value) || std::holds_alternative<double>(value);
}

std::vector<std::string> columnNames(const hub::ds::ResultHeader& header) {
    std::vector<std::string> names;
    for (const auto& column : header.columns) names.push_back(escapedBytes(column.name));
    return names;
}

// What every format shares: the stream, and the check that what was written
// reached it.
class StreamWriter : public ResultWriter {
  public:
    explicit StreamWriter(std::ostream& out) : out_(out) {}

  protected:
    void write(std::string_view text) {
        out_.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!out_) lost();
    }
    // What has been written goes out now: after a result's first row, so that
    // a reader sees it while the rest is stepped, and at a result's end.
    void flush() {
        if (auto failure = writeFailure(out_)) throw OutputLost{std::move(*failure)};
    }
    // For cutShort, which throws nothing: a failure shows when the program
    // checks its output at the end.
    void writeQuietly(std::string_view text) { out_.write(text.data(), static_cast<std::streamsize>(text.size())); }

  private:
    [[noreturn]] void lost() {
        auto failure = writeFailure(out_);
        throw OutputLost{failure.value_or(std::string())};
    }

    std::ostream& out_;
};

// Numbers line up on the right; a column of numbers has its name there too.
class TableWriter : public StreamWriter {
  public:
    using StreamWriter::StreamWriter;

    void begin(const hub::ds::ResultHeader& header) override {
        names_ = columnNames(header);
        widths_.clear();
        for (const auto& name : names_) widths_.push_back(name.size());
        mostWidths_.clear();
        for (const auto& column : header.columns) mostWidths_.push_back(mostWidth(column));
        numeric_.assign(names_.size(), true);
        held_.clear();
        streaming_ = false;
        rows_ = 0;
        wider_ = 0;
        begun_ = true;
    }

    void row(std::span<const ValueView> values) override {
        ++rows_;
        if (!streaming_ && held_.size() < kTableSampleRows) {
            auto& cells = held_.emplace_back();
            for (std::size_t c = 0; c < values.size(); ++c) {
                appendValueText(cells.emplace_back(), values[c], "NULL");
                widths_[c] = std::max(widths_[c], cells.back().size());
                if (!std::holds_alternative<std::monostate>(values[c]) && !isNumber(values[c])) numeric_[c] = false;
            }
            return;
        }
        if (!streaming_) {
            // More rows than were held: the columns are sized now, for good.
            for (std::size_t c = 0; c < widths_.size(); ++c) widths_[c] = std::max(widths_[c], mostWidths_[c]);
            writeHeld();
            flush();
            streaming_ = true;
        }
        cells_.resize(values.size());
        for (std::size_t c = 0; c < values.size(); ++c) {
            cells_[c].clear();
            appendValueText(cells_[c], values[c], "NULL");
            if (cells_[c].size() > widths_[c]) ++wider_;
        }
        write(line(cells_, true));
    }

    void end() override {
        if (!streaming_) writeHeld();
        std::string count = "(" + std::to_string(rows_) + (rows_ == 1 ? " row" : " rows");
        if (wider_ > 0) {
            count += "; " + std::to_string(wider_) +
                     (wider_ == 1 ? " value wider than its column" : " values wider than their column") +
                     ", written whole";
        }
        write(count + ")\n");
        flush();
        begun_ = false;
    }

    void cutShort() override {
        if (!begun_) return;
        begun_ = false;
        if (streaming_) return;
        try {
            writeHeld(true);
        } catch (...) {
            // Left to the program's final check of its output.
        }
    }

  private:
    // The widest a value of a provider's column can be (its bytes all
    // printable): a CHAR column's width, or a signed 32-bit number's.
    static std::size_t mostWidth(const hub::ds::ResultColumn& column) {
        if (!column.providerColumn || column.providerColumn->isParameter()) return 0;
        return column.providerColumn->type == hub::ds::ColumnType::Integer ? 11 : column.providerColumn->width;
    }

    const std::string& line(const std::vector<std::string>& values, bool alignNumbers) {
        line_.clear();
        for (std::size_t c = 0; c < values.size(); ++c) {
            const std::string& value = values[c];
            const std::size_t padding = widths_[c] > value.size() ? widths_[c] - value.size() : 0;
            if (c > 0) line_ += "  ";
            if (alignNumbers && numeric_[c]) {
                line_.append(padding, ' ');
                line_ += value;
            } else {
                line_ += value;
                line_.append(padding, ' ');
            }
        }
        while (!line_.empty() && line_.back() == ' ') line_.pop_back();
        line_ += '\n';
        return line_;
    }

    // The header, its rule and the rows held so far.
    void writeHeld(bool quietly = false) {
        std::vector<std::string> rule;
        for (const std::size_t width : widths_) rule.emplace_back(width, '-');
        std::string text = line(names_, true);
        text += line(rule, false);
        for (const auto& cells : held_) text += line(cells, true);
        held_.clear();
        held_.shrink_to_fit();
        if (quietly) {
            writeQuietly(text);
        } else {
            write(text);
        }
    }

    std::vector<std::string> names_;
    std::vector<std::size_t> widths_;
    std::vector<std::size_t> mostWidths_;
    std::vector<bool> numeric_;
    std::vector<std::vector<std::string>> held_;
    std::vector<std::string> cells_;
    std::string line_;
    bool streaming_ = false;
    bool begun_ = false;
    uint64_t rows_ = 0;
    uint64_t wider_ = 0;
};

// The field from `start` to the end of the line, quoted, its quotes doubled,
// if it holds a comma or a quote; line ends cannot occur, being written as
// \x0D and \x0A.
void quoteFieldIfNeeded(std::string& line, std::size_t start) {
    if (std::none_of(line.begin() + static_cast<std::ptrdiff_t>(start), line.end(),
                     [](char c) { return c == ',' || c == '"'; })) {
        return;
    }
    std::string quoted = "\"";
    for (std::size_t i = start; i < line.size(); ++i) {
        if (line[i] == '"') quoted += '"';
        quoted += line[i];
    }
    quoted += '"';
    line.replace(start, std::string::npos, quoted);
}

class CsvWriter : public StreamWriter {
  public:
    using StreamWriter::StreamWriter;

    void begin(const hub::ds::ResultHeader& header) override {
        line_.clear();
        for (std::size_t c = 0; c < header.columns.size(); ++c) {
            if (c > 0) line_ += ',';
            const std::size_t start = line_.size();
            appendEscaped(line_, header.columns[c].name);
            quoteFieldIfNeeded(line_, start);
        }
        line_ += '\n';
        write(line_);
        rows_ = 0;
    }

    void row(std::span<const ValueView> values) override {
        line_.clear();
        for (std::size_t c = 0; c < values.size(); ++c) {
            if (c > 0) line_ += ',';
            const std::size_t start = line_.size();
            appendValueText(line_, values[c], "");
            quoteFieldIfNeeded(line_, start);
        }
        line_ += '\n';
        write(line_);
        if (++rows_ == 1) flush();
    }

    void end() override { flush(); }
    void cutShort() override {}

  private:
    std::string line_;
    uint64_t rows_ = 0;
};

// A repeated name gets its occurrence, "DW_NAME:2": an object cannot hold
// one name twice, as a join's columns can.
std::vector<std::string> uniqueNames(const hub::ds::ResultHeader& header) {
    std::vector<std::string> names;
    for (const std::string& name : columnNames(header)) {
        std::string unique = name;
        for (int occurrence = 2; std::find(names.begin(), names.end(), unique) != names.end(); ++occurrence) {
            unique = name + ":" + std::to_string(occurrence);
        }
        names.push_back(std::move(unique));
    }
    return names;
}

// A JSON string of text that escapedBytes has made printable ASCII: only
// quotes and backslashes need escaping.
void appendJsonString(std::string& to, std::string_view text) {
    to += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') to += '\\';
        to += c;
    }
    to += '"';
}

// One array of objects per result, laid out as nlohmann::json's dump(2) lays
// it out; numbers as numbers, NULL as null.
class JsonWriter : public StreamWriter {
  public:
    using StreamWriter::StreamWriter;

    void begin(const hub::ds::ResultHeader& header) override {
        keys_.clear();
        for (const std::string& name : uniqueNames(header)) {
            std::string key = "    ";
            appendJsonString(key, name);
            keys_.push_back(key + ": ");
        }
        rows_ = 0;
    }

    void row(std::span<const ValueView> values) override {
        line_ = rows_ == 0 ? "[\n  {\n" : ",\n  {\n";
        for (std::size_t c = 0; c < values.size(); ++c) {
            line_ += keys_[c];
            appendJsonValue(values[c]);
            line_ += c + 1 < values.size() ? ",\n" : "\n";
        }
        line_ += "  }";
        write(line_);
        if (++rows_ == 1) flush();
    }

    void end() override {
        write(rows_ == 0 ? "[]\n" : "\n]\n");
        flush();
        rows_ = 0;
    }

    // The array is left open, so that no reader takes it for the whole result.
    void cutShort() override {
        if (rows_ > 0) writeQuietly("\n");
        rows_ = 0;
    }

  private:
    void appendJsonValue(const ValueView& value) {
        if (const auto* integer = std::get_if<int64_t>(&value)) return appendInteger(line_, *integer);
        if (const auto* real = std::get_if<double>(&value)) {
            line_ += nlohmann::ordered_json(*real).dump();
            return;
        }
        if (std::holds_alternative<std::monostate>(value)) {
            line_ += "null";
            return;
        }
        text_.clear();
        appendValueText(text_, value, "");
        appendJsonString(line_, text_);
    }

    std::vector<std::string> keys_;
    std::string line_;
    std::string text_;
    uint64_t rows_ = 0;
};

}  // namespace

std::string escapedBytes(std::string_view bytes, Backslash backslash) {
    std::string text;
    appendEscaped(text, bytes, backslash);
    return text;
}

Format parseFormat(std::string_view name) {
    if (name == "table") return Format::Table;
    if (name == "csv") return Format::Csv;
    if (name == "json") return Format::Json;
    throw std::invalid_argument("unknown format '" + std::string(name) + "' (expected table, csv or json)");
}

std::unique_ptr<ResultWriter> makeResultWriter(Format format, std::ostream& out) {
    switch (format) {
        case Format::Table: return std::make_unique<TableWriter>(out);
        case Format::Csv: return std::make_unique<CsvWriter>(out);
        case Format::Json: return std::make_unique<JsonWriter>(out);
    }
    throw std::invalid_argument("unknown format");
}

}  // namespace host
