// The data server's network SQL library: sql1cpth (sql/dssql.h) opens paths
// to the one SQL server that the stand-in hub has.
#pragma once

#include <string_view>

namespace hub::dsnet {

inline constexpr std::string_view kServerName = "SRVR01";

}  // namespace hub::dsnet
