#include "query.h"

#include <cstddef>

namespace host {

namespace {

std::string failure(const char* entry, int32_t status) {
    return std::string(entry) + " returned status " + std::to_string(status);
}

}  // namespace

QueryResult runQuery(const PRB1_VectorRecord& vector, const QueryOptions& options) {
    hub::ds::Request request(options.table, options.filters);
    const DSRequestHandle handle = request.handle();

    if (const int32_t status = vector.start.entry(handle); status != 0) {
        throw QueryError(failure("request start (entry 1)", status));
    }

    QueryResult result;
    std::string error;
    for (int pass = 0; pass < options.passes && error.empty(); ++pass) {
        request.clearRows();
        for (;;) {
            const std::size_t received = request.rows().size();
            const int32_t status = vector.process.entry(handle);
            if (status == kNoMoreRows) break;
            if (status != 0) {
                error = failure("request processing (entry 2)", status);
                break;
            }
            if (request.rows().size() != received + 1) {
                error = "request processing (entry 2) returned 0 but handed back " +
                        std::to_string(request.rows().size() - received) + " rows";
                break;
            }
        }
        result.passes = pass + 1;
    }
    result.rows = request.takeRows();

    // The request is ended whatever happened to it.
    const int32_t status = vector.terminate.entry(handle);
    if (error.empty() && status != 0) error = failure("request termination (entry 3)", status);
    if (!error.empty()) throw QueryError(error);
    return result;
}

}  // namespace host
