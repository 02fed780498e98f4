#include "hub_fixture.h"

namespace kqvtest {

std::string_view defaultScenarioScript() { return hub::ds::defaultScenarioScript(); }

std::string sqlLiteral(std::string_view text) {
    std::string literal = "'";
    for (char c : text) {
        if (c == '\'') literal += '\'';
        literal += c;
    }
    return literal + "'";
}

ScenarioBuilder& ScenarioBuilder::originNode(std::string_view name, std::string_view agentVersion) {
    std::string affinities = "00000000000020000000000000000000";
    affinities += agentVersion;
    affinities += "0000000000";
    return catalogRow(name, "V", "Y", affinities);
}

ScenarioBuilder& ScenarioBuilder::catalogRow(std::string_view node, std::string_view nodeType,
                                             std::string_view online, std::string_view affinities) {
    inserts_ += "INSERT INTO Y6SRV.INODESTS VALUES (" + sqlLiteral(node) + ", " + sqlLiteral(nodeType) +
                ", " + sqlLiteral(online) + ", " + sqlLiteral(affinities) + ");\n";
    return *this;
}

ScenarioBuilder& ScenarioBuilder::realNode(std::string_view node, std::string_view originNode) {
    inserts_ += "INSERT INTO Y6SRV.TNODELST VALUES (" + sqlLiteral(node) + ", 'V', " +
                sqlLiteral(originNode) + ");\n";
    return *this;
}

ScenarioBuilder& ScenarioBuilder::agent(std::string_view node, bool reachable, int columns,
                                        int failFetch) {
    inserts_ += "INSERT INTO HUB.AGENTS VALUES (" + sqlLiteral(node) + ", " +
                std::to_string(reachable ? 1 : 0) + ", " +
                (columns > 0 ? std::to_string(columns) : "NULL") + ", " +
                (failFetch > 0 ? std::to_string(failFetch) : "NULL") + ");\n";
    return *this;
}

ScenarioBuilder& ScenarioBuilder::row(const StatusRow& r) {
    inserts_ += "INSERT INTO KQV.QVALCSYS VALUES (" + sqlLiteral(r.agent) + ", " + sqlLiteral(r.originNode) +
                ", " + sqlLiteral(r.timestamp) + ", " + sqlLiteral(r.varnex) + ", " + sqlLiteral(r.rqmid) +
                ", " + sqlLiteral(r.sysname) + ", " + sqlLiteral(r.dwName);
    for (int number : r.numbers) inserts_ += ", " + std::to_string(number);
    inserts_ += ", " + std::to_string(r.status) + ", " + std::to_string(r.dwlevel) + ");\n";
    return *this;
}

ScenarioBuilder& ScenarioBuilder::sql(std::string_view statements) {
    inserts_ += statements;
    inserts_ += '\n';
    return *this;
}

std::string ScenarioBuilder::script() const { return std::string(hub::ds::scenarioSchema()) + inserts_; }

void HubFixture::SetUp() {
    hub::trace::reset();
    hub::ds::reset();
    capture_.clear();
}

void HubFixture::TearDown() {
    hub::ds::reset();
    hub::trace::reset();
}

void HubFixture::useScenario(std::string_view script) {
    hub::ds::useScenario(hub::ds::Scenario::fromScript(script, "test scenario"));
}

void HubFixture::traceAll(int32_t classes) { hub::trace::setClasses("", "", classes); }

}  // namespace kqvtest
