#include "discovery_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace disctest {

std::string nodeListStatement(std::string_view quotedName) {
    return "SELECT NODE FROM Y6SRV.TNODELST WHERE NODETYPE = 'V' AND NODELIST = '" + std::string(quotedName) +
           "';";
}

std::string padded(std::string_view text, std::size_t width, char fill) {
    std::string result(text);
    if (result.size() < width) result.append(width - result.size(), fill);
    return result;
}

DiscoveryBlock::DiscoveryBlock() {
    std::memcpy(api_.EyeCatcher, "QVDWSYAPI ", sizeof api_.EyeCatcher);
    if (RSLTinit(&api_.InodeTable, sizeof(InodeElement), 32) != 0 ||
        RSLTinit(&api_.RealNodeTable, sizeof(RealNodeElement), 32) != 0) {
        ADD_FAILURE() << "the node tables could not be created";
        return;
    }
    api_.InodeList = &api_.InodeTable->ElementList;
    api_.RealNodeList = &api_.RealNodeTable->ElementList;
}

DiscoveryBlock::~DiscoveryBlock() {
    if (api_.InodeTable != nullptr) RSLTdestroy(&api_.InodeTable);
    if (api_.RealNodeTable != nullptr) RSLTdestroy(&api_.RealNodeTable);
}

void DiscoveryBlock::setNodeFilter(std::string_view filter) {
    api_.NodeFilterSet = 1;
    std::memset(api_.NodeFilter, 0, sizeof api_.NodeFilter);
    std::memcpy(api_.NodeFilter, filter.data(), std::min(filter.size(), sizeof api_.NodeFilter));
}

namespace {

template <typename Element>
std::vector<Element*> walk(RSLTlist* list) {
    std::vector<Element*> elements;
    for (RSLTlink* link = list->First; link != list->End; link = link->Next) {
        elements.push_back(reinterpret_cast<Element*>(link));
        if (elements.size() > 10000) {
            ADD_FAILURE() << "the list does not come back to its end";
            break;
        }
    }
    return elements;
}

template <std::size_t N>
std::string upToNul(const char (&bytes)[N]) {
    return std::string(bytes, strnlen(bytes, N));
}

}  // namespace

std::vector<InodeElement*> DiscoveryBlock::originNodes() const { return walk<InodeElement>(api_.InodeList); }
std::vector<RealNodeElement*> DiscoveryBlock::realNodes() const { return walk<RealNodeElement>(api_.RealNodeList); }

std::vector<std::string> DiscoveryBlock::originNames() const {
    std::vector<std::string> names;
    for (const InodeElement* element : originNodes()) names.push_back(upToNul(element->OriginNode));
    return names;
}

std::vector<std::string> DiscoveryBlock::realNames() const {
    std::vector<std::string> names;
    for (const RealNodeElement* element : realNodes()) names.push_back(upToNul(element->RealNode));
    return names;
}

CallLog::CallLog() : after_(hub::ds::lastCallIndex()) { hub::ds::startRecording(); }

std::vector<hub::ds::CallRecord> CallLog::calls() const {
    std::vector<hub::ds::CallRecord> calls;
    for (const auto& call : hub::ds::recordedCalls()) {
        if (call.index > after_) calls.push_back(call);
    }
    return calls;
}

std::vector<std::string> CallLog::opNames() const { return ops(calls()); }

std::vector<std::string> ops(const std::vector<hub::ds::CallRecord>& calls) {
    std::vector<std::string> result;
    for (const auto& call : calls) result.emplace_back(hub::ds::opName(call.op));
    return result;
}

std::vector<hub::ds::CallRecord> callsOf(const std::vector<hub::ds::CallRecord>& calls, hub::ds::Op op) {
    std::vector<hub::ds::CallRecord> result;
    for (const auto& call : calls) {
        if (call.op == op) result.push_back(call);
    }
    return result;
}

std::string originScenario(const std::vector<std::string>& names) {
    kqvtest::ScenarioBuilder builder;
    for (const std::string& name : names) builder.originNode(name);
    return builder.script();
}

}  // namespace disctest
