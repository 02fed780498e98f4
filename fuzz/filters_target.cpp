// The query's index filters as the data server hands them out: any operator,
// any column name, any length (negative, longer than the field), values with
// or without a terminator, or no value at all. The whole request runs through
// the three entries against a small fixed hub.
//
// input := filterCount:u8 (op:i16 column:10 bytes valueLength:i16 form:u8 value:counted)*
//          passes:u8
//   form odd: the value has an address holding the counted bytes (filled up
//   to valueLength when that is longer); form even: no address.
#include <cstring>

#include "fake_hub.h"
#include "require.h"
#include "targets.h"

namespace fuzzing {

namespace {

Row statusRow(const char* dwName) {
    Row row;
    row.columnCount = 14;
    for (const char* text : {"ZAVRIN:PLX1.SYSA:vRK", "1261208093000000", "PLX1    ", "SYSA", "SYSA    "}) {
        const ColumnSeed seed = textColumn(text);
        row.columns.push_back({seed.dataLength, seed.bytes, true});
    }
    const ColumnSeed dw = textColumn(dwName);
    row.columns.push_back({dw.dataLength, dw.bytes, true});
    for (int32_t value : {12, 4096, 1210, 512, 17, 8192, 4, 710}) {
        const ColumnSeed seed = intColumn(value);
        row.columns.push_back({seed.dataLength, seed.bytes, true});
    }
    return row;
}

Row textRow(std::initializer_list<const char*> texts) {
    Row row;
    row.columnCount = static_cast<int16_t>(texts.size());
    for (const char* text : texts) {
        const ColumnSeed seed = textColumn(text);
        row.columns.push_back({seed.dataLength, seed.bytes, true});
    }
    return row;
}

// One origin node of varnex PLX1 with one agent reporting two DWs.
std::vector<Row> answer(const char* statement) {
    if (std::strstr(statement, "Y6SRV.INODESTS") != nullptr) {
        return {textRow({"ZAVRIN:PLX1.SYSA:vRK", "00000000000020000000000000000000050000000000"})};
    }
    if (std::strstr(statement, "Y6SRV.TNODELST") != nullptr) return {textRow({"QV:SYSA:PLX1"})};
    return {statusRow("PLXQA1  "), statusRow("PLXQA2  ")};
}

// The ORIGINNODE that every row must carry when an equality filter on that
// column is in force: the last such filter's value, cut to 32 and padded.
bool originnodeFilter(const std::vector<FilterSeed>& filters, std::string* value) {
    bool set = false;
    for (const FilterSeed& filter : filters) {
        if (filter.op != 1 || filter.column != "ORIGINNODE") continue;
        set = true;
        *value = std::string(32, ' ');
        if (filter.hasValue && filter.valueLength > 0) {
            std::string bytes = filter.value;
            bytes.resize(std::max<std::size_t>(bytes.size(), static_cast<std::size_t>(filter.valueLength)), 'V');
            value->replace(0, std::min<std::size_t>(32, static_cast<std::size_t>(filter.valueLength)),
                           bytes.substr(0, std::min<std::size_t>(32, static_cast<std::size_t>(filter.valueLength))));
        }
    }
    return set;
}

}  // namespace

void runFilterInput(const uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    std::vector<FilterSeed> filters(in.u8() % 9);
    for (FilterSeed& filter : filters) {
        filter.op = in.i16();
        filter.column = in.bytes(10);
        filter.valueLength = in.i16();
        filter.hasValue = (in.u8() & 1) != 0;
        filter.value = in.counted();
    }
    const int passes = 1 + in.u8() % 3;

    FakeHub hub([] { return ResultSet{}; });
    hub.answerBy(answer);
    const DSRequestHandle request = hub.newRequest(filters);
    KQV_REQUIRE(qvdwsysr(request) == 0, "the request did not start");
    for (int pass = 0; pass < passes; ++pass) {
        int32_t status = 0;
        for (int call = 0; call < 8 && status == 0; ++call) {
            status = qvdwsypr(request);
            KQV_REQUIRE(status == 0 || status == 62, "processing failed");
        }
        KQV_REQUIRE(status == 62, "a pass did not end");
    }
    KQV_REQUIRE(qvdwsyts(request) == 0, "the request did not end");

    std::string expected;
    if (originnodeFilter(filters, &expected)) {
        for (const DWSysRecord& row : hub.rowsReceived()) {
            KQV_REQUIRE(std::memcmp(row.ORIGINNODE, expected.data(), 32) == 0,
                        "a row does not carry the filter's ORIGINNODE");
        }
    }
}

}  // namespace fuzzing
