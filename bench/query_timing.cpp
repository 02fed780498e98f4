#include "query_timing.h"

#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

#include "hub/ds/request.h"
#include "hub/ds/statements.h"

namespace bench {

namespace {

constexpr int32_t kNoMoreRows = 62;

}  // namespace

QueryRun runQuery(const PRB1_VectorRecord& provider) {
    hub::ds::Request request("KQVDWSYS");
    const DSRequestHandle handle = request.handle();
    const Stopwatch whole;
    if (const int32_t status = provider.start.entry(handle); status != 0) {
        throw std::runtime_error("request start returned status " + std::to_string(status));
    }

    const Stopwatch stopwatch;
    int32_t status = provider.process.entry(handle);
    const Times gathered = stopwatch.elapsed();
    while (status == 0) status = provider.process.entry(handle);
    const Times ended = stopwatch.elapsed();

    const int32_t terminated = provider.terminate.entry(handle);
    const Times wholeTime = whole.elapsed();
    if (status != kNoMoreRows) throw std::runtime_error("request processing returned status " + std::to_string(status));
    if (terminated != 0) throw std::runtime_error("request termination returned status " + std::to_string(terminated));

    QueryRun run;
    run.elapsed = ended;
    run.gathering = gathered;
    run.whole = wholeTime;
    run.rows = static_cast<int64_t>(request.rows().size());
    run.checksum = 0xCBF29CE484222325ull;
    for (const auto& row : request.rows()) {
        const std::string_view bytes(reinterpret_cast<const char*>(row.bytes.data()), row.bytes.size());
        run.checksum = (run.checksum ^ std::hash<std::string_view>{}(bytes)) * 0x100000001B3ull;
    }
    return run;
}

Times runSqlQuery(const hub::ds::Scenario& scenario, const std::string& table, int64_t& rows) {
    // Every value read as a user's output reads it, nothing kept.
    class Reader : public hub::ds::ResultSink {
      public:
        void begin(const hub::ds::ResultHeader&) override {}
        void row(std::span<const hub::ds::ValueView> values) override {
            ++rows;
            for (const auto& value : values) {
                if (const auto* text = std::get_if<std::string_view>(&value)) bytes += text->size();
                if (const auto* integer = std::get_if<int64_t>(&value)) bytes += static_cast<uint64_t>(*integer);
            }
        }
        void end() override {}
        int64_t rows = 0;
        uint64_t bytes = 0;
    } reader;
    const std::string statement = "SELECT * FROM " + table;
    const Stopwatch stopwatch;
    hub::ds::runStatements(scenario, statement, reader);
    const Times times = stopwatch.elapsed();
    rows = reader.rows;
    return times;
}

}  // namespace bench
