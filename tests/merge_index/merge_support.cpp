#include "merge_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <stdexcept>

#include "hub/ds/scenario.h"
#include "util/kqvmutl.h"

// Exported by provider builds made with TEST_SEAMS.
extern "C" {
extern int32_t kqvIdentityIndexThreshold;
extern void* (*kqvHeapAllocate)(size_t);
extern void (*kqvHeapRelease)(void*);
}

namespace mergetest {

IndexThreshold::IndexThreshold(int32_t identities) : saved_(kqvIdentityIndexThreshold) {
    kqvIdentityIndexThreshold = identities;
}

IndexThreshold::~IndexThreshold() { kqvIdentityIndexThreshold = saved_; }

std::string bytesOf(const DWSysRecord& record) {
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

namespace {

template <std::size_t N>
void setField(char (&field)[N], const std::string& bytes) {
    std::memset(field, ' ', N);
    std::memcpy(field, bytes.data(), std::min(N, bytes.size()));
}

std::string identityKey(const DWSysRecord& record) {
    return std::string(record.DW_NAME, sizeof record.DW_NAME) + std::string(record.VARNNAME, sizeof record.VARNNAME);
}

// Eight bytes: `name` filled with blanks or zero bytes, optionally ending in
// a byte after the fill.
std::string filledName(const std::string& name, char fill, char last = 0) {
    std::string bytes = name;
    bytes.resize(8, fill);
    if (last != 0) bytes[7] = last;
    return bytes;
}

struct Identity {
    std::string dwName;
    std::string varnex;
};

std::vector<Identity> identityPool(const RowMix& mix) {
    std::vector<Identity> pool;
    std::set<std::string> seen;
    for (int i = 0; static_cast<int>(pool.size()) < mix.identities; ++i) {
        const std::string varnex = "PX" + std::to_string(i / 4 % 5);
        Identity identity{filledName("DW" + std::to_string(i), ' '), filledName(varnex, ' ')};
        if (mix.nameVariants) {
            // Four identities per name; the first name is empty.
            const std::string name = i < 4 ? "" : "DW" + std::to_string(i / 4);
            identity.dwName = filledName(name, ' ');
            switch (i % 4) {
                case 1: identity.dwName = filledName(name, '\0'); break;
                case 2: identity.dwName = filledName(name, '\0', 'X'); break;
                case 3: identity.varnex = filledName(varnex, '\0'); break;
                default: break;
            }
        }
        if (seen.insert(identity.dwName + identity.varnex).second) pool.push_back(identity);
    }
    return pool;
}

std::string letters(std::mt19937& random, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += static_cast<char>('A' + random() % 26);
    return text;
}

}  // namespace

std::vector<DWSysRecord> randomRows(const RowMix& mix) {
    std::mt19937 random(mix.seed);
    const std::vector<Identity> pool = identityPool(mix);
    std::vector<DWSysRecord> rows;
    for (int n = 0; n < mix.rows; ++n) {
        const Identity& identity = pool[random() % pool.size()];
        DWSysRecord record{};
        setField(record.ORIGINNODE, "ZAVRIN:" + letters(random, 4) + ".SYS" + letters(random, 1) + ":vRK");
        setField(record.TIMESTAMP, "12612080930" + std::to_string(10000 + random() % 90000));
        setField(record.VARNNAME, identity.varnex);
        setField(record.RQMID, letters(random, 4));
        setField(record.SYSNAME, "SYS" + letters(random, 3));
        setField(record.DW_NAME, identity.dwName);
        for (int32_t* number : {&record.CONNHVTCT, &record.STG_ALLOC, &record.STG_USED, &record.DUMPTBLSZ,
                                &record.DUMPTBLIUS, &record.TOTSTGCTL, &record.DWLEVEL}) {
            *number = static_cast<int32_t>(random() % 100000);
        }
        record.STATUS = static_cast<int32_t>(random() % 13) - 3;
        rows.push_back(record);
    }
    return rows;
}

std::vector<std::string> expectedMerge(const std::vector<DWSysRecord>& rows) {
    std::vector<DWSysRecord> merged;
    std::map<std::string, std::size_t> byIdentity;
    for (const DWSysRecord& row : rows) {
        const auto [found, added] = byIdentity.try_emplace(identityKey(row), merged.size());
        if (added) {
            merged.push_back(row);
        } else if (kKeepsHighestStatus && merged[found->second].STATUS < row.STATUS) {
            merged[found->second].STATUS = row.STATUS;
        }
    }
    std::vector<std::string> expected;
    for (auto it = merged.rbegin(); it != merged.rend(); ++it) expected.push_back(bytesOf(*it));
    return expected;
}

// ---------------------------------------------------------------------------

void MergeArea::merge(const std::vector<DWSysRecord>& rows) {
    for (const DWSysRecord& row : rows) summarizeQVStatusData(&work(), &row);
}

std::vector<std::string> MergeArea::rows() const {
    std::vector<std::string> rows;
    for (RSLTlink* link = kqv::nextInList(work().resultList, nullptr); link != nullptr;
         link = kqv::nextInList(work().resultList, link)) {
        rows.push_back(bytesOf(reinterpret_cast<DWSysResultElement*>(link)->row));
    }
    return rows;
}

// ---------------------------------------------------------------------------

namespace {

constexpr const char* kOriginNode = "ZAVRIN:MRG1.SYSA:vRK";

std::string agentName(std::size_t agent) { return "QV:A" + std::to_string(agent) + ":MRG1"; }

template <std::size_t N>
std::string blob(const char (&field)[N]) {
    std::string text = "X'";
    char hex[3];
    for (const char c : field) {
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(c));
        text += hex;
    }
    return text + "'";
}

}  // namespace

std::string hubScript(const std::vector<std::vector<DWSysRecord>>& agentRows) {
    std::string script(hub::ds::scenarioSchema());
    script += "INSERT INTO Y6SRV.INODESTS VALUES ('" + std::string(kOriginNode) +
              "', 'V', 'Y', '00000000000020000000000000000000050000000000');\n";
    for (std::size_t agent = 0; agent < agentRows.size(); ++agent) {
        script += "INSERT INTO Y6SRV.TNODELST VALUES ('" + agentName(agent) + "', 'V', '" + kOriginNode + "');\n";
        script += "INSERT INTO HUB.AGENTS (NODE) VALUES ('" + agentName(agent) + "');\n";
        for (const DWSysRecord& row : agentRows[agent]) {
            script += "INSERT INTO KQV.QVALCSYS VALUES ('" + agentName(agent) + "', '" + kOriginNode + "', " +
                      blob(row.TIMESTAMP) + ", " + blob(row.VARNNAME) + ", " + blob(row.RQMID) + ", " +
                      blob(row.SYSNAME) + ", " + blob(row.DW_NAME);
            for (const int32_t number : {row.CONNHVTCT, row.STG_ALLOC, row.STG_USED, row.DUMPTBLSZ, row.DUMPTBLIUS,
                                         row.TOTSTGCTL, row.STATUS, row.DWLEVEL}) {
                script += ", " + std::to_string(number);
            }
            script += ");\n";
        }
    }
    return script;
}

std::vector<DWSysRecord> arrivalOrder(const std::vector<std::vector<DWSysRecord>>& agentRows) {
    static constexpr char kSuffix[] = ":vRK:HarborStatusPanel";
    std::vector<DWSysRecord> rows;
    for (auto agent = agentRows.rbegin(); agent != agentRows.rend(); ++agent) {
        for (DWSysRecord row : *agent) {
            std::memset(row.ORIGINNODE, ' ', sizeof row.ORIGINNODE);
            std::memcpy(row.ORIGINNODE, row.VARNNAME, sizeof row.VARNNAME);
            const auto end = static_cast<std::size_t>(
                std::find_if(row.ORIGINNODE, row.ORIGINNODE + 8, [](char c) { return c == ' ' || c == '\0'; }) -
                row.ORIGINNODE);
            std::memcpy(row.ORIGINNODE + end, kSuffix, sizeof kSuffix - 1);
            rows.push_back(row);
        }
    }
    return rows;
}

// ---------------------------------------------------------------------------

std::vector<std::string> passBytes(kqvtest::DrivenRequest& request) {
    std::vector<std::string> rows;
    for (const DWSysRecord& row : request.pass()) rows.push_back(bytesOf(row));
    return rows;
}

// ---------------------------------------------------------------------------

namespace {

struct Recording {
    void* (*allocate)(size_t) = nullptr;
    void (*release)(void*) = nullptr;
    std::vector<std::size_t> sizes;
};
Recording* recording = nullptr;

void* recordingAllocate(size_t size) {
    recording->sizes.push_back(size);
    return recording->allocate(size);
}

void recordingRelease(void* block) { recording->release(block); }

}  // namespace

AllocationRecorder::AllocationRecorder() {
    if (recording != nullptr) throw std::logic_error("an allocation recorder is installed already");
    recording = new Recording{kqvHeapAllocate, kqvHeapRelease, {}};
    kqvHeapAllocate = &recordingAllocate;
    kqvHeapRelease = &recordingRelease;
}

AllocationRecorder::~AllocationRecorder() {
    kqvHeapAllocate = recording->allocate;
    kqvHeapRelease = recording->release;
    delete recording;
    recording = nullptr;
}

const std::vector<std::size_t>& AllocationRecorder::sizes() const { return recording->sizes; }

std::vector<NumberedAllocation> classify(const std::vector<std::size_t>& sizes) {
    const auto blockOf = [](std::size_t element, std::size_t count) { return element * count + sizeof(void*); };
    const std::set<std::size_t> tableSizes = {sizeof(RSLTanchor), blockOf(sizeof(DWSysResultElement), 10),
                                              blockOf(sizeof(InodeElement), 32),
                                              blockOf(sizeof(RealNodeElement), 32)};
    std::vector<NumberedAllocation> allocations;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        Allocation kind = Allocation::Other;
        if (sizes[i] == blockOf(sizeof(DWSysResultElement), 10)) kind = Allocation::ResultsBlock;
        if (tableSizes.count(sizes[i]) == 0) kind = Allocation::IndexSlots;
        allocations.push_back({i + 1, kind});
    }
    return allocations;
}

std::vector<uint64_t> numbersOf(const std::vector<NumberedAllocation>& allocations, Allocation kind) {
    std::vector<uint64_t> numbers;
    for (const auto& allocation : allocations) {
        if (allocation.kind == kind) numbers.push_back(allocation.number);
    }
    return numbers;
}

// ---------------------------------------------------------------------------

std::vector<hub::trace::Record> comparableTrace(const hub::trace::Capture& capture) {
    static const std::regex address("(at|block) +([0-9A-Fa-f]{4,})");
    std::map<std::string, std::size_t> ordinals;
    std::vector<hub::trace::Record> records = capture.records();
    for (auto& record : records) {
        std::string text;
        auto rest = record.text.cbegin();
        for (std::sregex_iterator it(record.text.cbegin(), record.text.cend(), address), end; it != end; ++it) {
            const auto& match = *it;
            const auto [ordinal, added] = ordinals.try_emplace(match[2].str(), ordinals.size() + 1);
            text.append(rest, match[2].first).append("#" + std::to_string(ordinal->second));
            rest = match[2].second;
        }
        text.append(rest, record.text.cend());
        record.text = std::move(text);
    }
    return records;
}

const std::vector<TraceSetting>& equivalenceSettings() {
    static const std::vector<TraceSetting> settings = {
        {"everything on", [] { hub::trace::clearSettings(); hub::trace::setClasses("", "", kTraceAll); }},
        {"detail and flow on kqvmutl only", [] { hub::trace::clearSettings(); hub::trace::setClasses("kqvmutl", "", kTraceDetail | kTraceFlow); }},
        {"errors only", [] { hub::trace::clearSettings(); hub::trace::setClasses("", "", kTraceError); }},
    };
    return settings;
}

}  // namespace mergetest
