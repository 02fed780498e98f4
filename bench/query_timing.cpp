#include "query_timing.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

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
    const std::string statement = "SELECT * FROM " + table;
    rows = 0;
    const Stopwatch stopwatch;
    hub::ds::runStatements(scenario, statement,
                           [&](const hub::ds::ResultSet& result) { rows += static_cast<int64_t>(result.rows.size()); });
    return stopwatch.elapsed();
}

}  // namespace bench
