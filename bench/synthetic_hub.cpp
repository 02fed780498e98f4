#include "synthetic_hub.h"

#include <stdexcept>

#include "hub/ds/scenario.h"

namespace bench {

namespace {

// Agent-form origin node (varnex BNCH, system HUB1) with the affinity the
// provider selects; agents are QV:S0000:BNCH, QV:S0001:BNCH, ...
constexpr const char* kOriginNode = "ZAVRIN:BNCH.HUB1:vRK";
constexpr const char* kAffinities = "00000000000020000000000000000000050000000000";

std::string number(int64_t value) { return std::to_string(value); }

}  // namespace

std::string HubShape::describe() const {
    return number(agents) + " x " + number(rowsPerAgent) + " rows, " + number(identities) + " identities" +
           (scattered ? " scattered" : "");
}

void checkShape(const HubShape& shape) {
    if (shape.agents < 1 || shape.agents > 9999) {
        throw std::invalid_argument("agents must be 1 to 9999, not " + number(shape.agents));
    }
    if (shape.rowsPerAgent < 1) {
        throw std::invalid_argument("rows per agent must be at least 1, not " + number(shape.rowsPerAgent));
    }
    // DW_NAME carries identity / 1000 in seven digits.
    if (shape.identities < 1 || shape.identities > shape.rows() || shape.identities > 10'000'000'000) {
        throw std::invalid_argument("identities must be 1 to the number of rows (" + number(shape.rows()) +
                                    "), not " + number(shape.identities));
    }
    if (shape.scattered && shape.identities % 2654435761 == 0) {
        throw std::invalid_argument("scattered identities cannot be a multiple of 2654435761");
    }
}

std::string hubScript(const HubShape& shape, bool withStatusRows) {
    checkShape(shape);
    const std::string agents = number(shape.agents);
    const std::string perAgent = number(shape.rowsPerAgent);
    // A prime factor maps the rows of each stretch of D onto all D identities.
    const std::string identity =
        (shape.scattered ? "(n * 2654435761 % " : "(n % ") + number(shape.identities) + ")";

    std::string script(hub::ds::scenarioSchema());
    script += "INSERT INTO Y6SRV.INODESTS VALUES ('" + std::string(kOriginNode) + "', 'V', 'Y', '" +
              kAffinities + "');\n";
    script += "WITH RECURSIVE a(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM a WHERE n + 1 < " + agents +
              ")\nINSERT INTO Y6SRV.TNODELST SELECT printf('QV:S%04d:BNCH', n), 'V', '" + kOriginNode +
              "' FROM a;\n";
    script += "INSERT INTO HUB.AGENTS (NODE, REACHABLE) SELECT NODE, 1 FROM Y6SRV.TNODELST;\n";
    if (!withStatusRows) return script;

    // Identity i: VARNNAME V000..V999 (i % 1000), DW_NAME D0000000.. (i / 1000).
    script += "WITH RECURSIVE r(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM r WHERE n + 1 < " +
              number(shape.rows()) +
              ")\n"
              "INSERT INTO KQV.QVALCSYS SELECT\n"
              "    printf('QV:S%04d:BNCH', n / " + perAgent + "), '" + kOriginNode + "',\n"
              "    printf('%016d', 1261208093000000 + n), printf('V%03d', " + identity + " % 1000),\n"
              "    printf('%04d', n / " + perAgent + "), printf('SYS%05d', n / " + perAgent + "),\n"
              "    printf('D%07d', " + identity + " / 1000),\n"
              "    n % 97, 8192, n % 8192, 1024, n % 1024, 16384, n % 23 - 3, 700\n"
              "FROM r;\n";
    return script;
}

}  // namespace bench
