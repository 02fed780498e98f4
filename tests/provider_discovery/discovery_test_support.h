// What the SQL layer and discovery tests share: the discovery block with its
// two node tables, walks of the node lists, fixed-width fields as strings and
// the data server's call log reduced to what the tests compare.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "hub/ds/seams.h"
#include "hub_fixture.h"
#include "heap_seam.h"
#include "sql/kqvmsql.h"
#include "util/kqvmutl.h"

namespace disctest {

// The catalog statement buildOrigList sends without a node filter.
inline constexpr std::string_view kCatalogStatement =
    "SELECT NODE, AFFINITIES FROM Y6SRV.INODESTS WHERE NODETYPE = 'V' AND Y6ONLINE = 'Y' "
    "AND AFFINITIES LIKE '00000000000020000000000000000000*' AND NODE LIKE '*';";

// The node-list statement buildNodeList sends for one origin node (the name
// as it appears between the apostrophes).
std::string nodeListStatement(std::string_view quotedName);

// The bytes of a fixed-width field, NULs included.
template <std::size_t N>
std::string field(const char (&bytes)[N]) {
    return std::string(bytes, N);
}
// `text` followed by `fill` up to `width` bytes.
std::string padded(std::string_view text, std::size_t width, char fill);
inline std::string blanks(std::string_view text, std::size_t width) { return padded(text, width, ' '); }
inline std::string nuls(std::string_view text, std::size_t width) { return padded(text, width, '\0'); }

// The discovery block as request processing fills it, with both node tables.
class DiscoveryBlock {
  public:
    DiscoveryBlock();
    ~DiscoveryBlock();
    DiscoveryBlock(const DiscoveryBlock&) = delete;
    DiscoveryBlock& operator=(const DiscoveryBlock&) = delete;

    QVDWSYAPI* api() { return &api_; }
    void setNodeFilter(std::string_view filter);

    // The lists in walk order (First to End).
    std::vector<InodeElement*> originNodes() const;
    std::vector<RealNodeElement*> realNodes() const;
    // OriginNode / RealNode up to the first NUL, in walk order.
    std::vector<std::string> originNames() const;
    std::vector<std::string> realNames() const;

  private:
    QVDWSYAPI api_{};
};

// A hub with a fresh discovery block for each test, dropped before the hub.
class DiscoveryTest : public kqvtest::HubFixture {
  protected:
    void SetUp() override {
        HubFixture::SetUp();
        renewBlock();
    }
    void TearDown() override {
        block_.reset();
        HubFixture::TearDown();
    }

    void renewBlock() {
        block_.reset();
        block_ = std::make_unique<DiscoveryBlock>();
    }

    // Lines of `function` (unit kqvmutl) that begin with `prefix`.
    std::vector<std::string> linesStartingWith(std::string_view function, std::string_view prefix) const {
        std::vector<std::string> selected;
        for (const std::string& line : lines("kqvmutl", function)) {
            if (line.starts_with(prefix)) selected.push_back(line);
        }
        return selected;
    }

    // Declared first: counts the tables' heap from their creation on.
    kqvtest::HeapSeam heap_;
    std::unique_ptr<DiscoveryBlock> block_;
};

// The data server's calls from the moment it is made (recording is started
// then and never cleared, so earlier calls are left out by their numbers).
class CallLog {
  public:
    CallLog();
    std::vector<hub::ds::CallRecord> calls() const;
    std::vector<std::string> opNames() const;

  private:
    uint64_t after_;
};

// Names of the recorded calls' operations ("sql1cpth", "DropPlan"), in order.
std::vector<std::string> ops(const std::vector<hub::ds::CallRecord>& calls);
// The recorded calls of one operation.
std::vector<hub::ds::CallRecord> callsOf(const std::vector<hub::ds::CallRecord>& calls, hub::ds::Op op);

// A scenario of the given online origin nodes (agent version "05") and no
// node lists.
std::string originScenario(const std::vector<std::string>& names);

}  // namespace disctest

namespace disctest {
namespace {
// A table's case prints as its name when a test fails.
template <typename Case>
    requires requires(const Case& c) { c.name; }
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}
}  // namespace
}  // namespace disctest
