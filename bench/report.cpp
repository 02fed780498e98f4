#include "report.h"

#include <cstdio>
#include <ostream>
#include <utility>

namespace bench {

namespace {

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string milliseconds(double nanoseconds) { return format("%.3f", nanoseconds / 1e6); }

// "1.18-1.21"
std::string quartiles(const Spread& spread) {
    return format("%.2f", spread.lower) + "-" + format("%.2f", spread.upper);
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

void printTable(std::ostream& out, const std::string& title, const std::vector<Measurement>& lines) {
    static const std::vector<std::pair<const char*, std::size_t>> columns = {
        {"agents", 6},      {"rows", 9},         {"identities", 10},   {"pairs", 5},      {"query ms", 10},
        {"floor ms", 10},   {"ratio", 6},        {"quartiles", 9},     {"wall", 5},       {"wall quart.", 11},
        {"ns/row", 7},      {"heap KiB", 8},     {"hand-back ms", 12}, {"w/o hb", 6},
        {"sql ms", 10},     {"sql/direct", 10}};
    out << title << '\n';
    std::string header;
    std::string rule;
    for (const auto& [name, width] : columns) {
        header += "  " + padLeft(name, width);
        rule += "  " + std::string(width, '-');
    }
    out << header << '\n' << rule << '\n';
    for (const Measurement& line : lines) {
        const PairedTimes& times = line.times;
        std::vector<std::string> cells = {std::to_string(line.shape.agents), grouped(line.shape.rows()),
                                          grouped(line.shape.identities)};
        if (line.skipped) {
            cells.push_back("skipped");
        } else {
            cells.insert(cells.end(),
                         {std::to_string(times.pairs), milliseconds(times.queryCpu.median),
                          milliseconds(times.floorCpu.median), format("%.2f", line.ratio()),
                          quartiles(times.ratioCpu), format("%.2f", times.ratioWall.median),
                          quartiles(times.ratioWall), format("%.0f", line.nanosecondsPerRow()),
                          grouped(static_cast<int64_t>((line.peakHeapBytes + 1023) / 1024)),
                          milliseconds(times.handBackCpu.median),
                          format("%.2f", times.ratioCpuWithoutHandBack.median)});
            const bool sql = line.sql.pairs > 0;
            cells.push_back(sql ? milliseconds(line.sql.sqlCpu.median) : "-");
            cells.push_back(sql ? format("%.2f", line.sql.ratioCpu.median) : "-");
        }
        std::string text;
        for (std::size_t i = 0; i < cells.size(); ++i) text += "  " + padLeft(cells[i], columns[i].second);
        out << text << '\n';
    }
    out.flush();
}

void writeCsv(std::ostream& out, const std::vector<Measurement>& lines) {
    static const char* const kRatios[] = {"ratio_cpu", "ratio_wall", "ratio_cpu_without_hand_back"};
    static const char* const kMedians[] = {"query_cpu_ns",  "query_wall_ns",  "gathering_cpu_ns",
                                           "floor_cpu_ns", "floor_wall_ns", "hand_back_cpu_ns"};
    out << "mode,agents,rows,identities,pairs,stopped_by,seconds";
    for (const char* ratio : kRatios) {
        for (const char* statistic : {"median", "p25", "p75", "min", "max"}) out << ',' << ratio << '_' << statistic;
    }
    for (const char* median : kMedians) out << ',' << median << "_median";
    out << ",ns_per_row,peak_heap_bytes,sql_pairs";
    for (const char* statistic : {"median", "p25", "p75", "min", "max"}) out << ",ratio_sql_cpu_" << statistic;
    out << ",sql_cpu_ns_median,direct_cpu_ns_median\n";

    for (const Measurement& line : lines) {
        const PairedTimes& times = line.times;
        out << line.mode << ',' << line.shape.agents << ',' << line.shape.rows() << ',' << line.shape.identities;
        if (line.skipped) {
            out << ",0,skipped\n";
            continue;
        }
        out << ',' << times.pairs << ',' << times.stoppedBy << ',' << format("%.1f", times.seconds);
        for (const Spread* ratio : {&times.ratioCpu, &times.ratioWall, &times.ratioCpuWithoutHandBack}) {
            for (const double value : {ratio->median, ratio->lower, ratio->upper, ratio->min, ratio->max}) {
                out << ',' << format("%.4f", value);
            }
        }
        for (const Spread* median : {&times.queryCpu, &times.queryWall, &times.gatheringCpu, &times.floorCpu,
                                     &times.floorWall, &times.handBackCpu}) {
            out << ',' << format("%.0f", median->median);
        }
        out << ',' << format("%.1f", line.nanosecondsPerRow()) << ',' << line.peakHeapBytes;
        const SqlPairedTimes& sql = line.sql;
        out << ',' << sql.pairs;
        for (const double value : {sql.ratioCpu.median, sql.ratioCpu.lower, sql.ratioCpu.upper, sql.ratioCpu.min,
                                   sql.ratioCpu.max}) {
            out << ',' << format("%.4f", value);
        }
        out << ',' << format("%.0f", sql.sqlCpu.median) << ',' << format("%.0f", sql.directCpu.median) << '\n';
    }
    out.flush();
}

}  // namespace bench
