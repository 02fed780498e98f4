#include "hub/dsnet.h"

#include <cstring>
#include <string>

#include "hub/ds/call.h"
#include "hub/ds/sqlservice.h"
#include "hub/ds/status.h"
#include "hub/trace.h"
#include "sql/dssql.h"

namespace {

constexpr std::string_view kLogComponent = "dsnet";

int32_t refuse(hub::ds::CallScope& call, int32_t status, const std::string& reason) {
    hub::trace::log(kLogComponent, "sql1cpth: " + reason);
    return call.finish(status);
}

}  // namespace

extern "C" int32_t sql1cpth(const char* serverName, int32_t context, DSHandle* path) {
    const std::string_view server = serverName ? std::string_view(serverName) : std::string_view();
    hub::ds::CallScope call(hub::ds::Op::Sql1cpth, 0, server);
    if (const auto injected = call.injectedFailure()) return call.finish(*injected);
    if (serverName == nullptr) return refuse(call, hub::ds::status::kBadArgument, "the server name is null");
    if (server != hub::dsnet::kServerName) {
        return refuse(call, hub::ds::status::kUnknownServer,
                      "unknown SQL server '" + std::string(server) + "'; the only one is '" +
                          std::string(hub::dsnet::kServerName) + "'");
    }
    try {
        return call.finish(hub::ds::createPath(server, context, path, call));
    } catch (const std::exception& error) {
        return refuse(call, hub::ds::status::kInternalFailure, std::string("cannot create a path: ") + error.what());
    }
}
