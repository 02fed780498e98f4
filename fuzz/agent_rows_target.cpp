// Agents' rows as their routed queries deliver them: any column count, any
// length (negative, longer than the field), addresses or none, any bytes.
//
// input := originnodeSet:u8 originnodeFilter:32 bytes nodeCount:u8
//          (realNode:32 bytes originNode:32 bytes varnex:8 bytes)*
//          result set (one per queried node)*
#include <cstring>
#include <memory>

#include "fake_hub.h"
#include "require.h"
#include "targets.h"
#include "util/kqvmutl.h"

namespace fuzzing {

void runAgentRowsInput(const uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    // The work area as request processing leaves it before the collection.
    auto work = std::make_unique<DWSYWORK>();
    std::memset(work.get(), 0, sizeof *work);
    std::memcpy(work->eyeCatcher, "DWSYWORK", sizeof work->eyeCatcher);
    std::memset(work->idnameFilter, ' ', 8);
    work->originnodeSet = in.u8() & 1;
    const std::string originnode = in.bytes(32);
    std::memcpy(work->originnodeFilter, originnode.data(), 32);
    work->originnodeFilter[32] = '\0';

    QVDWSYAPI api;
    std::memset(&api, 0, sizeof api);
    std::memcpy(api.EyeCatcher, "QVDWSYAPI ", sizeof api.EyeCatcher);
    KQV_REQUIRE(RSLTinit(&api.RealNodeTable, static_cast<int32_t>(sizeof(RealNodeElement)), 32) == 0,
                "no real node table");
    api.RealNodeList = &api.RealNodeTable->ElementList;
    const std::size_t nodes = in.u8() % 9;
    for (std::size_t n = 0; n < nodes; ++n) {
        void* slot = nullptr;
        KQV_REQUIRE(RSLTget(api.RealNodeTable, &slot) == 0, "no real node element");
        auto* node = static_cast<RealNodeElement*>(slot);
        std::memcpy(node->RealNode, in.bytes(32).data(), 32);
        std::memcpy(node->RealNodeOrigNode, in.bytes(32).data(), 32);
        node->RealNodeOrigNode[32] = '\0';
        std::memcpy(node->RealNodeVarnex, in.bytes(8).data(), 8);
        std::memcpy(node->RealNodeAgtVer, "05", 2);
        kqv::linkAtFront(api.RealNodeList, reinterpret_cast<RSLTlink*>(node));
    }
    KQV_REQUIRE(RSLTinit(&work->resultTable, static_cast<int32_t>(sizeof(DWSysResultElement)), 10) == 0,
                "no results table");
    work->resultList = &work->resultTable->ElementList;

    FakeHub hub([&] { return readResultSet(in); });
    collectQVStatusdata(work.get(), &api);
    KQV_REQUIRE(work->realNodeCursor == nullptr, "the real node cursor is left set");

    std::size_t rows = 0;
    for (RSLTlink* link = kqv::nextInList(work->resultList, nullptr); link != nullptr;
         link = kqv::nextInList(work->resultList, link)) {
        KQV_REQUIRE(++rows <= static_cast<std::size_t>(work->resultTable->TotalElements),
                    "the results list holds more rows than the table handed out");
        const DWSysRecord& row = reinterpret_cast<const DWSysResultElement*>(link)->row;
        if (work->originnodeSet != 0) {
            KQV_REQUIRE(std::memcmp(row.ORIGINNODE, work->originnodeFilter, 32) == 0,
                        "a row does not carry the filter's ORIGINNODE");
        }
        for (RSLTlink* other = link->Next; other != work->resultList->End; other = other->Next) {
            const DWSysRecord& later = reinterpret_cast<const DWSysResultElement*>(other)->row;
            KQV_REQUIRE(std::memcmp(row.DW_NAME, later.DW_NAME, 8) != 0 ||
                            std::memcmp(row.VARNNAME, later.VARNNAME, 8) != 0,
                        "two rows of one DW and varnex");
        }
    }
    for (const std::string& statement : hub.statements()) {
        KQV_REQUIRE(statement.size() < 1000, "a node statement overran its buffer");
    }

    KQV_REQUIRE(RSLTdestroy(&work->resultTable) == 0, "results table not destroyed");
    KQV_REQUIRE(RSLTdestroy(&api.RealNodeTable) == 0, "real node table not destroyed");
}

}  // namespace fuzzing
