#include "query_timing.h"

#include <stdexcept>
#include <string>

#include "hub/ds/request.h"

namespace bench {

namespace {

constexpr int32_t kNoMoreRows = 62;

uint64_t fnv1a(uint64_t hash, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= 0x100000001B3ull;
    }
    return hash;
}

}  // namespace

QueryRun runQuery(const PRB1_VectorRecord& provider) {
    hub::ds::Request request("KQVDWSYS");
    const DSRequestHandle handle = request.handle();
    if (const int32_t status = provider.start.entry(handle); status != 0) {
        throw std::runtime_error("request start returned status " + std::to_string(status));
    }

    const auto begin = std::chrono::steady_clock::now();
    int32_t status = provider.process.entry(handle);
    const auto gathered = std::chrono::steady_clock::now();
    while (status == 0) status = provider.process.entry(handle);
    const auto end = std::chrono::steady_clock::now();

    const int32_t ended = provider.terminate.entry(handle);
    if (status != kNoMoreRows) throw std::runtime_error("request processing returned status " + std::to_string(status));
    if (ended != 0) throw std::runtime_error("request termination returned status " + std::to_string(ended));

    QueryRun run;
    run.elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(end - begin);
    run.gathering = std::chrono::duration_cast<std::chrono::nanoseconds>(gathered - begin);
    run.rows = static_cast<int64_t>(request.rows().size());
    run.checksum = 0xCBF29CE484222325ull;
    for (const auto& row : request.rows()) run.checksum = fnv1a(run.checksum, row.bytes.data(), row.bytes.size());
    return run;
}

}  // namespace bench
