// The whole trace of one successful buildOrigList and buildNodeList run, line
// by line, with the addresses of the elements they stored.
#include <gmock/gmock.h>

#include <memory>
#include <string>
#include <vector>

#include "discovery_test_support.h"

namespace disctest {
namespace {

using DiscoveryTraceTest = DiscoveryTest;

std::string affinities(const std::string& version) {
    return "00000000000020000000000000000000" + version + "0000000000";
}

// The detail lines of one stored origin node.
std::vector<std::string> inodeLines(const InodeElement* element, const std::string& name, const std::string& version,
                                    const std::string& varnex, const std::string& systemId, const std::string& type) {
    const std::string address = hexAddress(element);
    return {"Inode Anchor  at " + address + "\n",
            "Inode Element at " + address + "\n",
            "Inode OriginNode=" + name + "\n",
            "Inode Affinities=" + affinities(version) + "\n",
            "Inode OriginVARN=" + varnex + "\n",
            "Inode OriginRQM=" + systemId + "\n",
            "Inode OriginType=" + type + "\n",
            "Inode GetRealNode= True\n"};
}

void append(std::vector<std::string>& to, const std::vector<std::string>& lines) {
    to.insert(to.end(), lines.begin(), lines.end());
}

TEST_F(DiscoveryTraceTest, OriginListRun) {
    const std::string n1 = "ZAVRIN:GRP1.SYSA:vRK";
    const std::string n2 = "GRP2:SYSB:BKT";
    const std::string n3 = "GRP5";
    const std::string n4 = "ZAVRIN:GRP9.SYSZ:GMR";
    useScenario(kqvtest::ScenarioBuilder()
                    .originNode(n1, "05")
                    .originNode(n2, "06")
                    .originNode(n3, "07")
                    .originNode(n4, "08")
                    .script());
    traceAll(kTraceAll);
    ASSERT_EQ(buildOrigList(block_->api(), 1), 1);
    const std::vector<InodeElement*> stored = block_->originNodes();
    ASSERT_EQ(stored.size(), 2u);

    std::vector<std::string> expected{"NodeSTS SQL= " + std::string(kCatalogStatement) + "\n"};
    const auto fetched = [&](const std::string& name, const std::string& version) {
        append(expected, {"Fetched origin node is: " + name + "\n", "Fetched AFFINITIES is: " + affinities(version) + "\n"});
    };
    fetched(n1, "05");
    expected.push_back("Keeping Origin Node " + n1 + "\n");
    append(expected, inodeLines(stored[1], n1, "05", "GRP1    ", "SYSA    ", "vRK"));
    fetched(n2, "06");
    expected.push_back("Ignoring Origin Node " + n2 + "\n");
    fetched(n3, "07");
    expected.push_back("Unexpected format of ORIGINNODE (1): " + n3 + "\n");
    fetched(n4, "08");
    expected.push_back("Keeping Origin Node " + n4 + "\n");
    append(expected, inodeLines(stored[0], n4, "08", "GRP9    ", "SYSZ    ", "GMR"));
    EXPECT_EQ(lines("kqvmutl", "buildOrigList"), expected);

    const std::vector<std::string> records = recordTexts(capture(), "kqvmutl", "buildOrigList");
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front(), "Entry");
    EXPECT_EQ(records.back(), "Exit, status=1");
}

TEST_F(DiscoveryTraceTest, RealNodeListRun) {
    const std::string o1 = "ZAVRIN:GRP1.SYSA:vRK";
    const std::string o2 = "ZAVRIN:GRP1.SYSB:vRK";
    const std::string o3 = "GRP5:SYSE:XYZ";
    useScenario(kqvtest::ScenarioBuilder()
                    .originNode(o1, "05")
                    .originNode(o2, "06")
                    .originNode(o3, "07")
                    .realNode("AGENT1", o2)
                    .realNode("AGENT2", o2)
                    .realNode("AGENT1", o1)
                    .realNode("AGENT3", o1)
                    .script());
    ASSERT_EQ(buildOrigList(block_->api(), 0), 1);
    const std::vector<InodeElement*> origins = block_->originNodes();  // o3, o2, o1
    ASSERT_EQ(origins.size(), 3u);

    traceAll(kTraceAll);
    ASSERT_EQ(buildNodeList(block_->api(), 0), 1);
    const std::vector<RealNodeElement*> nodes = block_->realNodes();  // AGENT3, AGENT2, AGENT1 of o2
    ASSERT_EQ(nodes.size(), 3u);

    std::vector<std::string> expected{"Rnode:Inode Anchor  at " + hexAddress(origins[0]) + "\n"};
    const auto origin = [&](const std::string& name, const std::string& varnex) {
        append(expected, {"Getting Real Node for ORIGINNODE=" + name + "\n",
                          "NodeSTS SQL= " + nodeListStatement(name) + "\n",
                          "OriginNode=" + name + " VarnexName=" + varnex + "\n"});
    };
    const auto stored = [&](const RealNodeElement* element, const std::string& node, const std::string& originName,
                            const std::string& version) {
        const std::string address = hexAddress(element);
        append(expected, {"RealNode Anchor  at " + address + "\n", "RealNode Element at " + address + "\n",
                          "RealNode=" + node + "\n", "RealNodeVarnex=GRP1    \n", "RealNodeOrigNode=" + originName + "\n",
                          "RealNodeAgtVer=" + version + "\n"});
    };
    origin(o3, "        ");
    expected.push_back("KQVUTL06E ERROR IN NODE LIST TABLE - NODE " + o3 + " NOT FOUND");
    origin(o2, "GRP1    ");
    stored(nodes[2], "AGENT1", o2, "06");
    stored(nodes[1], "AGENT2", o2, "06");
    origin(o1, "GRP1    ");
    expected.push_back("Duplicate node " + std::string(26, ' ') + "AGENT1 found\n");
    stored(nodes[0], "AGENT3", o1, "05");
    EXPECT_EQ(lines("kqvmutl", "buildNodeList"), expected);

    const std::vector<std::string> records = recordTexts(capture(), "kqvmutl", "buildNodeList");
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front(), "Entry");
    EXPECT_EQ(records.back(), "Exit, status=1");
}

}  // namespace
}  // namespace disctest
