#include "report.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace bench {

namespace {

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// 1234567 as "1,234,567".
std::string grouped(int64_t value) {
    const std::string digits = std::to_string(value);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0 && digits[i - 1] != '-') text += ',';
        text += digits[i];
    }
    return text;
}

std::string padLeft(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

}  // namespace

Timing summarize(std::vector<double> nanoseconds) {
    Timing timing;
    timing.runs = static_cast<int>(nanoseconds.size());
    if (nanoseconds.empty()) return timing;
    std::sort(nanoseconds.begin(), nanoseconds.end());
    timing.best = nanoseconds.front();
    const std::size_t middle = nanoseconds.size() / 2;
    timing.median = nanoseconds.size() % 2 == 1 ? nanoseconds[middle]
                                                : (nanoseconds[middle - 1] + nanoseconds[middle]) / 2;
    return timing;
}

void printTable(std::ostream& out, const std::string& title, const std::vector<Measurement>& lines) {
    static const std::vector<std::pair<const char*, std::size_t>> columns = {
        {"agents", 6},   {"rows", 9},  {"identities", 10}, {"query ms", 10},
        {"floor ms", 10}, {"ratio", 6}, {"ns/row", 8},      {"peak heap KiB", 13}, {"hand-back ms", 12}};
    out << title << '\n';
    std::string header;
    std::string rule;
    for (const auto& [name, width] : columns) {
        header += "  " + padLeft(name, width);
        rule += "  " + std::string(width, '-');
    }
    out << header << '\n' << rule << '\n';
    for (const Measurement& line : lines) {
        std::vector<std::string> cells = {std::to_string(line.shape.agents), grouped(line.shape.rows()),
                                          grouped(line.shape.identities)};
        if (line.skipped) {
            cells.insert(cells.end(), {"skipped", format("%.3f", line.floor.best / 1e6), "", "", "",
                                       format("%.3f", line.handBack.best / 1e6)});
        } else {
            cells.push_back(format("%.3f", line.query.best / 1e6));
            cells.push_back(format("%.3f", line.floor.best / 1e6));
            cells.push_back(format("%.2f", line.ratio()));
            cells.push_back(format("%.0f", line.nanosecondsPerRow()));
            cells.push_back(grouped(static_cast<int64_t>((line.peakHeapBytes + 1023) / 1024)));
            cells.push_back(format("%.3f", line.handBack.best / 1e6));
        }
        std::string text;
        for (std::size_t i = 0; i < cells.size(); ++i) text += "  " + padLeft(cells[i], columns[i].second);
        out << text << '\n';
    }
    out.flush();
}

void writeCsv(std::ostream& out, const std::vector<Measurement>& lines) {
    out << "mode,agents,rows,identities,query_ns_best,query_ns_median,query_runs,gathering_ns_best,"
           "gathering_ns_median,floor_ns_best,floor_ns_median,floor_runs,hand_back_ns_best,hand_back_ns_median,ratio,"
           "ns_per_row,peak_heap_bytes\n";
    for (const Measurement& line : lines) {
        out << line.mode << ',' << line.shape.agents << ',' << line.shape.rows() << ',' << line.shape.identities << ',';
        if (line.skipped) {
            out << "skipped,,0,,,";
        } else {
            out << format("%.0f", line.query.best) << ',' << format("%.0f", line.query.median) << ','
                << line.query.runs << ',' << format("%.0f", line.gathering.best) << ','
                << format("%.0f", line.gathering.median) << ',';
        }
        out << format("%.0f", line.floor.best) << ',' << format("%.0f", line.floor.median) << ',' << line.floor.runs
            << ',' << format("%.0f", line.handBack.best) << ',' << format("%.0f", line.handBack.median) << ',';
        if (line.skipped) {
            out << ",,\n";
        } else {
            out << format("%.3f", line.ratio()) << ',' << format("%.1f", line.nanosecondsPerRow()) << ','
                << line.peakHeapBytes << '\n';
        }
    }
    out.flush();
}

}  // namespace bench
