// Node names and affinities as the hub's catalog delivers them: the origin
// node query and every node list query are answered from the input.
//
// input := keepMode:u8 nodeFilterSet:u8 nodeFilter:33 bytes skipDuplicateCheck:u8
//          result set (origin nodes) result set (node list)*
#include <cstring>

#include "fake_hub.h"
#include "require.h"
#include "targets.h"
#include "util/kqvmutl.h"

namespace fuzzing {

namespace {

std::size_t walk(RSLTlist* list, std::size_t limit) {
    std::size_t count = 0;
    for (RSLTlink* link = kqv::nextInList(list, nullptr); link != nullptr; link = kqv::nextInList(list, link)) {
        KQV_REQUIRE(++count <= limit, "a list holds more elements than its table handed out");
    }
    return count;
}

}  // namespace

void runCatalogInput(const uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    // Request processing passes 1; every value is read, and 0 to 9 have a meaning.
    const int32_t keepMode = static_cast<int8_t>(in.u8());
    QVDWSYAPI api;
    std::memset(&api, 0, sizeof api);
    std::memcpy(api.EyeCatcher, "QVDWSYAPI ", sizeof api.EyeCatcher);
    api.NodeFilterSet = in.u8() & 1;
    const std::string nodeFilter = in.bytes(sizeof api.NodeFilter);
    std::memcpy(api.NodeFilter, nodeFilter.data(), sizeof api.NodeFilter);
    const int32_t skipDuplicateCheck = in.u8() & 1;

    FakeHub hub([&] { return readResultSet(in); });
    KQV_REQUIRE(RSLTinit(&api.InodeTable, static_cast<int32_t>(sizeof(InodeElement)), 32) == 0, "no origin table");
    KQV_REQUIRE(RSLTinit(&api.RealNodeTable, static_cast<int32_t>(sizeof(RealNodeElement)), 32) == 0,
                "no real node table");
    api.InodeList = &api.InodeTable->ElementList;
    api.RealNodeList = &api.RealNodeTable->ElementList;

    const int32_t kept = buildOrigList(&api, keepMode);
    const std::size_t origins = walk(api.InodeList, static_cast<std::size_t>(api.InodeTable->TotalElements));
    KQV_REQUIRE(kept == 0 || origins > 0, "origin nodes reported kept, but none stored");
    for (RSLTlink* link = kqv::nextInList(api.InodeList, nullptr); link != nullptr;
         link = kqv::nextInList(api.InodeList, link)) {
        const auto* origin = reinterpret_cast<const InodeElement*>(link);
        KQV_REQUIRE(origin->GetRealNode == 1, "a stored origin node is not resolved");
        KQV_REQUIRE(keepMode != 1 || std::memcmp(origin->OriginNode, "ZAVRIN:", 7) == 0,
                    "keepMode 1 kept a name that does not begin with ZAVRIN:");
    }

    buildNodeList(&api, skipDuplicateCheck);
    KQV_REQUIRE(api.InodeCursor == nullptr, "the origin node cursor is left set");
    walk(api.RealNodeList, static_cast<std::size_t>(api.RealNodeTable->TotalElements));
    for (RSLTlink* link = kqv::nextInList(api.RealNodeList, nullptr); link != nullptr;
         link = kqv::nextInList(api.RealNodeList, link)) {
        const auto* node = reinterpret_cast<const RealNodeElement*>(link);
        KQV_REQUIRE(node->RealNodeOrigNode[32] == '\0', "a real node's origin node name is not terminated");
    }
    for (const std::string& statement : hub.statements()) {
        KQV_REQUIRE(statement.size() < 200, "a catalog statement overran its buffer");
    }

    KQV_REQUIRE(RSLTdestroy(&api.RealNodeTable) == 0, "real node table not destroyed");
    KQV_REQUIRE(RSLTdestroy(&api.InodeTable) == 0, "origin table not destroyed");
}

}  // namespace fuzzing
