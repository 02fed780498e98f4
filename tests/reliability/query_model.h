// What a whole query must give when one point of it fails: the rows, the
// status of every entry call, the lines, and the data-server objects that the
// provider cannot drop. The model is fed with the shape of the query as its
// unfaulted run showed it, and knows only what the provider is documented to
// do with each failure.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "hub/ds/seams.h"
#include "provider/kqvdwsys.h"

namespace reliability {

inline constexpr std::size_t kNever = std::numeric_limits<std::size_t>::max();

struct ExpectedLine {
    std::string unit;
    std::string function;
    std::string text;
    auto operator<=>(const ExpectedLine&) const = default;
};

// The query as its unfaulted run showed it.
struct QueryShape {
    struct Origin {
        std::string name;
        bool kept;  // the provider asked for its node list
    };
    struct RealNode {
        std::string agent;
        std::string origin;
        std::vector<DWSysRecord> rows;  // the rows it merges, in fetch order
    };
    std::vector<Origin> origins;        // in the order the catalog delivered them
    std::vector<RealNode> realNodes;    // in the order the collection visits them

    // Indices into realNodes of the origin's real nodes, in the order its
    // node list delivered them.
    std::vector<std::size_t> membersOf(const std::string& origin) const;
};

enum class ResultTable { OriginNodes, RealNodes, Results };

// Where one fault hits the gathering call. Fetch positions and element
// attempts count from 1.
struct GatheringFault {
    bool tableNotCreated = false;
    ResultTable table = ResultTable::OriginNodes;
    bool originQueryFails = false;      // its prepare, open or close
    std::size_t originsLostFrom = kNever;  // catalog fetch from which rows are lost
    std::size_t originElementLost = kNever;  // RSLTget attempt that fails
    bool nodeListQueryFails = false;
    std::map<std::string, std::size_t> nodeListLostFrom;  // by origin node
    std::size_t realNodeElementLost = kNever;
    std::map<std::size_t, std::size_t> routedLostFrom;    // by index into realNodes
    std::size_t resultElementLost = kNever;
};

struct Gathering {
    int32_t status = 0;  // 0 when rows (or none) are ready to be handed back
    std::vector<DWSysRecord> rows;  // in the order they are handed back
    std::vector<ExpectedLine> lines;
};

Gathering simulateGathering(const QueryShape& shape, const GatheringFault& fault);

// A fault of the request interface: the n-th of the calls on the request and
// view storage objects (GetItem, PutItem, GetViewStorage) fails once, or its
// object is spoiled from that call on.
struct RequestFault {
    std::size_t call = 0;  // 0: none
    bool spoiled = false;
};

struct EntryOutcome {
    int32_t start = 0;
    std::vector<int32_t> processing;
    int32_t termination = 0;
    std::vector<DWSysRecord> rows;  // as the data server receives them
    bool tablesLeftByTermination = false;
    std::vector<ExpectedLine> lines;
};

EntryOutcome simulateEntries(const Gathering& gathering, const RequestFault& fault,
                             std::size_t maxProcessCalls);

// What the SQL request layer makes of one failing data-server call, and
// which objects then stay behind.
enum class FaultKind { Status, SpoiledCheck };

struct SqlLayerEffect {
    std::vector<ExpectedLine> lines;
    int32_t prepare = 0;  // status of kqvsqlp, kqvsqli, kqvsqlc, kqvsqld; 0 when it succeeds
    int32_t open = 0;
    int32_t close = 0;
    int32_t drop = 0;
    bool endsFetching = false;
    std::map<hub::ds::ObjectKind, std::size_t> leftovers;
};

SqlLayerEffect sqlLayerEffect(hub::ds::Op op, FaultKind kind, int32_t status);

// Whether a line is one of those the provider writes on a failure (or a
// fetch that did not deliver a row).
bool isFailureLine(const std::string& text);

}  // namespace reliability
