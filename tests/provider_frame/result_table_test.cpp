// Result tables: creation, elements handed out block by block, the element
// list, destruction, and every allocation failure, with their exact lines.
#include <gmock/gmock.h>

#include <cstring>
#include <string>
#include <vector>

#include "frame_support.h"
#include "heap_seam.h"
#include "hub_fixture.h"
#include "provider/kqvdwsys.h"
#include "util/kqvmutl.h"

namespace frametest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A block's size in bytes as the 32-bit build has it, in the build at hand:
// the chain word at the start of a block is an address.
constexpr int32_t blockBytes(int32_t bytes32) { return bytes32 - 4 + static_cast<int32_t>(sizeof(void*)); }

class ResultTable : public kqvtest::HubFixture {
  protected:
    void SetUp() override {
        HubFixture::SetUp();
        traceAll(kTraceDetail | kTraceError);
    }
    void TearDown() override {
        EXPECT_EQ(heap_.outstanding(), 0u) << "blocks left behind";
        HubFixture::TearDown();
    }

    std::vector<std::string> utilLines(const char* function) const { return lines("kqvmutl", function); }

    RSLTanchor* newTable(int32_t elementSize, int32_t primarySize) {
        RSLTanchor* table = nullptr;
        EXPECT_EQ(RSLTinit(&table, elementSize, primarySize), 0);
        return table;
    }

    kqvtest::HeapSeam heap_;
};

std::vector<std::string> initLines(const RSLTanchor* table, int32_t elementSize, int32_t primarySize,
                                   int32_t blockSize) {
    return {"Init RSLT Tableat " + hex(table) + "\n", "ElementSize " + std::to_string(elementSize) + "\n",
            "PrimarySize " + std::to_string(primarySize) + "\n", "  BlockSize " + std::to_string(blockSize) + "\n"};
}

std::string elementLine(int indexInBlock, const void* element, const void* block) {
    return "RSLT Element " + std::to_string(indexInBlock) + " at " + hex(element) + " in block " + hex(block) + "\n";
}

std::string blockAllocLine(int32_t blockSize) {
    return "RSLT Table block alloc of " + std::to_string(blockSize) + " bytes\n";
}

// The chain word at the start of a block.
void* nextBlockOf(const void* block) { return *static_cast<void* const*>(block); }

// A byte that tells the elements apart.
unsigned char fillOf(int element) { return static_cast<unsigned char>(0x11 * (element + 1)); }

// Whether the element lies in the block, behind its chain word.
bool inBlock(const void* element, int32_t elementSize, const void* block, int32_t blockSize) {
    const auto* at = static_cast<const char*>(element);
    const auto* begin = static_cast<const char*>(block) + sizeof(void*);
    return at >= begin && at + elementSize <= static_cast<const char*>(block) + blockSize;
}

// --- Creation ----------------------------------------------------------------

struct Shape {
    const char* name;
    int32_t elementSize;
    int32_t primarySize;
    int32_t blockSize32;  // in the 32-bit build
};

const Shape kTableShapes[] = {
    // The element sizes of the 32-bit build's node and results tables.
    {"OriginNodeTable", 108, 32, 3460},
    {"RealNodeTable", 84, 32, 2692},
    {"ResultsTable", 116, 10, 1164},
    {"OneByteOneSlot", 1, 1, 5},
};

void PrintTo(const Shape& shape, std::ostream* out) { *out << shape.name; }

class TableCreation : public ResultTable, public ::testing::WithParamInterface<Shape> {};

TEST_P(TableCreation, ANewTableIsEmptyAndTracesItsShape) {
    const Shape& shape = GetParam();
    RSLTanchor* table = reinterpret_cast<RSLTanchor*>(0x1);  // must be overwritten
    ASSERT_EQ(RSLTinit(&table, shape.elementSize, shape.primarySize), 0);
    ASSERT_NE(table, reinterpret_cast<RSLTanchor*>(0x1));
    EXPECT_EQ(heap_.outstanding(), 1u) << "only the anchor";
    EXPECT_EQ(heap_.outstandingBytes(), sizeof(RSLTanchor));

    EXPECT_EQ(std::string(table->EyeCatcher, 8), "KQVRSLT ");
    EXPECT_EQ(table->ElementSize, shape.elementSize);
    EXPECT_EQ(table->PrimarySize, shape.primarySize);
    EXPECT_EQ(table->FreeElements, 0);
    EXPECT_EQ(table->BlockSize, blockBytes(shape.blockSize32));
    EXPECT_EQ(table->TotalElements, 0);
    EXPECT_EQ(table->TotalBlocks, 0);
    EXPECT_EQ(table->FirstBlock, nullptr);
    EXPECT_EQ(table->LastBlock, nullptr);
    RSLTlink* sentinel = kqv::listSentinel(&table->ElementList);
    EXPECT_EQ(table->ElementList.First, sentinel);
    EXPECT_EQ(table->ElementList.Last, sentinel);
    EXPECT_EQ(table->ElementList.End, sentinel);
    EXPECT_EQ(static_cast<void*>(sentinel), static_cast<void*>(&table->ElementList));
    EXPECT_EQ(kqv::nextInList(&table->ElementList, nullptr), nullptr) << "a walk stops at once";
    EXPECT_EQ(utilLines("RSLTinit"),
              initLines(table, shape.elementSize, shape.primarySize, blockBytes(shape.blockSize32)));

    // Never given an element: only the anchor is freed.
    capture().clear();
    RSLTanchor* anchor = table;
    EXPECT_EQ(RSLTdestroy(&table), 0);
    EXPECT_EQ(table, nullptr);
    EXPECT_EQ(heap_.releases(), 1u);
    EXPECT_EQ(utilLines("RSLTdestroy"), destroyLines(anchor, 0, 0, blockBytes(shape.blockSize32), {}));
}

INSTANTIATE_TEST_SUITE_P(Shapes, TableCreation, ::testing::ValuesIn(kTableShapes),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Handing out elements and destroying ------------------------------------

struct FillCase {
    int32_t primarySize;
    int32_t blockSize32;  // in the 32-bit build
    int gets;
    int blocks;
    int32_t freeAfter;
};

void PrintTo(const FillCase& c, std::ostream* out) {
    *out << "PrimarySize " << c.primarySize << ", " << c.gets << " gets";
}

class TableFill : public ResultTable, public ::testing::WithParamInterface<FillCase> {};

TEST_P(TableFill, ElementsFillBlockAfterBlockAndDestroyFreesInAllocationOrder) {
    const FillCase& c = GetParam();
    constexpr int32_t kElementSize = 116;
    const int32_t blockSize = blockBytes(c.blockSize32);
    RSLTanchor* table = newTable(kElementSize, c.primarySize);
    ASSERT_NE(table, nullptr);
    capture().clear();

    std::vector<const void*> blocks;
    std::vector<void*> elements;
    std::vector<std::string> expectedLines;
    for (int n = 0; n < c.gets; ++n) {
        void* element = nullptr;
        ASSERT_EQ(RSLTget(table, &element), 0) << "get " << n + 1;
        const int slot = n % c.primarySize;
        if (slot == 0) {
            expectedLines.push_back(blockAllocLine(blockSize));
            if (!blocks.empty()) {
                EXPECT_EQ(nextBlockOf(blocks.back()), table->LastBlock) << "chained behind";
            }
            blocks.push_back(table->LastBlock);
            EXPECT_EQ(nextBlockOf(table->LastBlock), nullptr);
        }
        EXPECT_TRUE(inBlock(element, kElementSize, blocks.back(), blockSize)) << "get " << n + 1;
        expectedLines.push_back(elementLine(slot + 1, element, blocks.back()));
        elements.push_back(element);
        std::memset(element, fillOf(n), kElementSize);
    }
    // Filling an element left the chain words and the other elements alone.
    for (std::size_t n = 0; n < elements.size(); ++n) {
        const auto* bytes = static_cast<const unsigned char*>(elements[n]);
        for (int i = 0; i < kElementSize; ++i) {
            ASSERT_EQ(bytes[i], fillOf(static_cast<int>(n))) << "element " << n + 1;
        }
    }
    for (std::size_t b = 0; b + 1 < blocks.size(); ++b) EXPECT_EQ(nextBlockOf(blocks[b]), blocks[b + 1]);

    EXPECT_EQ(utilLines("RSLTget"), expectedLines);
    EXPECT_EQ(static_cast<int>(blocks.size()), c.blocks);
    EXPECT_EQ(table->TotalElements, c.gets);
    EXPECT_EQ(table->TotalBlocks, c.blocks);
    EXPECT_EQ(table->FreeElements, c.freeAfter);
    EXPECT_EQ(table->FirstBlock, blocks.front());
    EXPECT_EQ(table->LastBlock, blocks.back());
    EXPECT_EQ(heap_.outstanding(), 1u + blocks.size());
    EXPECT_EQ(heap_.outstandingBytes(), sizeof(RSLTanchor) + blocks.size() * static_cast<std::size_t>(blockSize));

    capture().clear();
    RSLTanchor* anchor = table;
    ASSERT_EQ(RSLTdestroy(&table), 0);
    EXPECT_EQ(table, nullptr);
    EXPECT_EQ(utilLines("RSLTdestroy"), destroyLines(anchor, c.gets, c.blocks, blockSize, blocks));
    EXPECT_EQ(heap_.releases(), 1u + blocks.size());
}

INSTANTIATE_TEST_SUITE_P(Sizes, TableFill,
                         ::testing::Values(FillCase{10, 1164, 25, 3, 5}, FillCase{10, 1164, 1, 1, 9},
                                           FillCase{10, 1164, 10, 1, 0}, FillCase{10, 1164, 11, 2, 9},
                                           FillCase{32, 3716, 33, 2, 31}, FillCase{1, 120, 3, 3, 0}),
                         [](const auto& info) {
                             return "PrimarySize" + std::to_string(info.param.primarySize) + "Gets" +
                                    std::to_string(info.param.gets);
                         });

// --- The element list ---------------------------------------------------------

TEST_F(ResultTable, ElementsLinkedAtTheFrontAreWalkedNewestFirst) {
    RSLTanchor* table = newTable(static_cast<int32_t>(sizeof(DWSysResultElement)), 10);
    ASSERT_NE(table, nullptr);
    RSLTlist* list = &table->ElementList;
    RSLTlink* sentinel = kqv::listSentinel(list);

    std::vector<RSLTlink*> linked;
    for (int n = 0; n < 3; ++n) {
        void* slot = nullptr;
        ASSERT_EQ(RSLTget(table, &slot), 0);
        linked.push_back(static_cast<RSLTlink*>(slot));
        kqv::linkAtFront(list, linked.back());
    }
    RSLTlink *e1 = linked[0], *e2 = linked[1], *e3 = linked[2];

    std::vector<RSLTlink*> walk;
    for (RSLTlink* at = list->First; at != list->End; at = at->Next) walk.push_back(at);
    EXPECT_THAT(walk, ElementsAre(e3, e2, e1));
    EXPECT_EQ(list->First, e3);
    EXPECT_EQ(list->Last, e1);
    EXPECT_EQ(list->End, sentinel);
    EXPECT_EQ(e1->Next, sentinel);
    EXPECT_EQ(e3->Prev, sentinel);
    EXPECT_EQ(e1->Prev, e2);
    EXPECT_EQ(e2->Prev, e3);

    // A cursor continues the same walk.
    std::vector<RSLTlink*> cursorWalk;
    for (RSLTlink* at = kqv::nextInList(list, nullptr); at != nullptr; at = kqv::nextInList(list, at)) {
        cursorWalk.push_back(at);
    }
    EXPECT_EQ(cursorWalk, walk);
    EXPECT_EQ(RSLTdestroy(&table), 0);
}

// --- Destroying something that is not a table ---------------------------------

struct NotAnAnchorCase {
    const char* name;
    const char eyeCatcher[9];
    int32_t classes;
};

const NotAnAnchorCase kNotAnAnchorCases[] = {
    {"OtherRecordAllClassesOff", "DWSYWORK", 0},
    {"TrailingBlankMissingAllClassesOff", "KQVRSLT", 0},
    {"LowerCaseWithDetail", "kqvrslt ", kTraceDetail},
    {"OtherRecordWithEveryClass", "QVDWSYAP", kTraceAll},
};

void PrintTo(const NotAnAnchorCase& c, std::ostream* out) { *out << c.name; }

class DestroyNotAnAnchor : public ResultTable, public ::testing::WithParamInterface<NotAnAnchorCase> {};

TEST_P(DestroyNotAnAnchor, ReturnsOneAndFreesNothing) {
    const NotAnAnchorCase& c = GetParam();
    RSLTanchor record{};
    std::memcpy(record.EyeCatcher, c.eyeCatcher, 8);
    record.TotalElements = 7;
    record.TotalBlocks = 2;
    record.BlockSize = 300;
    record.FirstBlock = &record;  // would be freed by a destroy that skipped the check
    RSLTanchor* pointer = &record;
    traceAll(c.classes);
    capture().clear();

    EXPECT_EQ(RSLTdestroy(&pointer), 1);
    EXPECT_EQ(pointer, &record);
    EXPECT_EQ(heap_.releases(), 0u);

    std::vector<ClassedLine> expected = {
        {kTraceDetail, "RSLT anchor at " + hex(&record) + "\n"},  // read before the check
        {kTraceDetail, "     Total Elements: 7\n"},
        {kTraceDetail, "     Total Blocks:   2\n"},
        {kTraceDetail, "     Block Size:     300\n"},
        {0, "KQVUTL09E RSLT DESTROY FAILED VERIFY"},
    };
    EXPECT_EQ(utilLines("RSLTdestroy"), linesUnder(expected, c.classes));
}

INSTANTIATE_TEST_SUITE_P(Records, DestroyNotAnAnchor, ::testing::ValuesIn(kNotAnAnchorCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Allocation failures --------------------------------------------------------

TEST_F(ResultTable, NoAnchorGivesThreeAndLeavesTheCallersPointer) {
    for (int32_t classes : classSettings()) {
        SCOPED_TRACE(::testing::Message() << "classes 0x" << std::hex << classes);
        traceAll(classes);
        capture().clear();
        heap_.failAllocation(1);
        RSLTanchor sentinel{};
        RSLTanchor* table = &sentinel;
        EXPECT_EQ(RSLTinit(&table, 116, 10), 3);
        EXPECT_EQ(table, &sentinel);
        EXPECT_EQ(utilLines("RSLTinit"),
                  linesUnder({{kTraceError, "KQVUTL07E RSLT TABLE ALLOCATION FAILED"}}, classes));
        EXPECT_EQ(heap_.outstanding(), 0u);
    }
}

struct BlockFailureCase {
    const char* name;
    int32_t primarySize;
    int32_t blockSize32;  // in the 32-bit build
    int getsBefore;       // successful gets before the failing one
};

void PrintTo(const BlockFailureCase& c, std::ostream* out) { *out << c.name; }

class BlockFailure : public ResultTable, public ::testing::WithParamInterface<BlockFailureCase> {};

TEST_P(BlockFailure, ReturnsTwoCountsTheBlockAndTheNextGetRetries) {
    const BlockFailureCase& c = GetParam();
    constexpr int32_t kElementSize = 84;
    const int32_t blockSize = blockBytes(c.blockSize32);
    RSLTanchor* table = newTable(kElementSize, c.primarySize);
    ASSERT_NE(table, nullptr);
    std::vector<void*> elements;
    for (int n = 0; n < c.getsBefore; ++n) {
        void* element = nullptr;
        ASSERT_EQ(RSLTget(table, &element), 0);
        std::memset(element, fillOf(n), kElementSize);
        elements.push_back(element);
    }
    void* const firstBlockBefore = table->FirstBlock;
    void* const lastBlockBefore = table->LastBlock;
    const int32_t blocksBefore = table->TotalBlocks;

    capture().clear();
    heap_.failAllocation(1);
    void* untouched = &table;
    void* element = untouched;
    EXPECT_EQ(RSLTget(table, &element), 2);
    EXPECT_EQ(element, untouched) << "nothing written to the caller's pointer";
    EXPECT_EQ(utilLines("RSLTget"),
              (std::vector<std::string>{blockAllocLine(blockSize), "KQVUTL08E RSLT BLOCK ALLOCATION FAILED"}));
    EXPECT_EQ(table->TotalBlocks, blocksBefore + 1);
    EXPECT_LT(table->FreeElements, 1);
    EXPECT_EQ(table->TotalElements, c.getsBefore);
    EXPECT_EQ(table->LastBlock, lastBlockBefore);
    if (lastBlockBefore != nullptr) {
        EXPECT_EQ(nextBlockOf(lastBlockBefore), nullptr);
    }

    // Without the error class the failure is silent.
    traceAll(kTraceDetail);
    capture().clear();
    heap_.failAllocation(1);
    EXPECT_EQ(RSLTget(table, &element), 2);
    EXPECT_THAT(utilLines("RSLTget"), ElementsAre(blockAllocLine(blockSize)));
    EXPECT_EQ(table->TotalBlocks, blocksBefore + 2);

    capture().clear();
    ASSERT_EQ(RSLTget(table, &element), 0);
    void* newBlock = table->LastBlock;
    ASSERT_NE(newBlock, lastBlockBefore);
    EXPECT_TRUE(inBlock(element, kElementSize, newBlock, blockSize));
    EXPECT_THAT(utilLines("RSLTget"), ElementsAre(blockAllocLine(blockSize), elementLine(1, element, newBlock)));
    EXPECT_EQ(table->TotalBlocks, blocksBefore + 3);
    EXPECT_EQ(table->TotalElements, c.getsBefore + 1);
    EXPECT_EQ(table->FreeElements, c.primarySize - 1);
    if (lastBlockBefore != nullptr) {
        EXPECT_EQ(nextBlockOf(lastBlockBefore), newBlock) << "chained behind the last real block";
        EXPECT_EQ(table->FirstBlock, firstBlockBefore);
    } else {
        EXPECT_EQ(table->FirstBlock, newBlock);
    }
    for (std::size_t n = 0; n < elements.size(); ++n) {
        const auto* bytes = static_cast<const unsigned char*>(elements[n]);
        for (int i = 0; i < kElementSize; ++i) {
            ASSERT_EQ(bytes[i], fillOf(static_cast<int>(n))) << "element " << n + 1 << " stays valid";
        }
    }

    // Destroy counts the failed allocations among the blocks but frees only real ones.
    std::vector<const void*> chain;
    for (void* block = table->FirstBlock; block != nullptr; block = nextBlockOf(block)) chain.push_back(block);
    capture().clear();
    RSLTanchor* anchor = table;
    ASSERT_EQ(RSLTdestroy(&table), 0);
    EXPECT_EQ(utilLines("RSLTdestroy"), destroyLines(anchor, c.getsBefore + 1, blocksBefore + 3, blockSize, chain));
}

INSTANTIATE_TEST_SUITE_P(Tables, BlockFailure,
                         ::testing::Values(BlockFailureCase{"FirstBlock", 32, 2692, 0},
                                           BlockFailureCase{"SecondBlock", 3, 256, 3},
                                           BlockFailureCase{"ThirdBlock", 2, 172, 4}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace frametest
