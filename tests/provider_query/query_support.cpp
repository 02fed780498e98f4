#include "query_support.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "util/kqvmutl.h"

namespace querytest {

std::string nodeStatement(std::string_view atLiteral, std::string_view originLiteral) {
    std::string statement(kStatementHead);
    statement += atLiteral;
    statement += "') WHERE ORIGINNODE ='";
    statement += originLiteral;
    statement += "';";
    return statement;
}

std::string padded(std::string_view text, std::size_t width, char fill) {
    std::string result(text.substr(0, std::min(text.size(), width)));
    result.resize(width, fill);
    return result;
}

namespace {

template <std::size_t N>
void setField(char (&target)[N], std::string_view value) {
    const std::string bytes = padded(value, N);
    std::memcpy(target, bytes.data(), N);
}

}  // namespace

DWSysRecord makeRecord(const RowValues& values) {
    DWSysRecord record{};
    setField(record.ORIGINNODE, values.originNode);
    setField(record.TIMESTAMP, values.timestamp);
    setField(record.VARNNAME, values.varnex);
    setField(record.RQMID, values.rqmid);
    setField(record.SYSNAME, values.sysname);
    setField(record.DW_NAME, values.dwName);
    record.CONNHVTCT = values.numbers[0];
    record.STG_ALLOC = values.numbers[1];
    record.STG_USED = values.numbers[2];
    record.DUMPTBLSZ = values.numbers[3];
    record.DUMPTBLIUS = values.numbers[4];
    record.TOTSTGCTL = values.numbers[5];
    record.STATUS = values.status;
    record.DWLEVEL = values.dwlevel;
    return record;
}

// ---------------------------------------------------------------------------

void OwnWorkArea::setOriginnodeFilter(std::string_view value) {
    work().originnodeSet = 1;
    const std::string filter = padded(value, 32);
    std::memcpy(work().originnodeFilter, filter.data(), filter.size());
}

std::vector<DWSysRecord> OwnWorkArea::results() const {
    std::vector<DWSysRecord> rows;
    RSLTlist* list = work().resultList;
    for (RSLTlink* link = list->First; link != list->End; link = link->Next) {
        rows.push_back(reinterpret_cast<DWSysResultElement*>(link)->row);
    }
    return rows;
}

// ---------------------------------------------------------------------------

RealNodeList::RealNodeList() {
    std::memcpy(api_.EyeCatcher, "QVDWSYAPI ", sizeof api_.EyeCatcher);
    if (RSLTinit(&api_.RealNodeTable, static_cast<int32_t>(sizeof(RealNodeElement)), 32) != 0) {
        throw std::runtime_error("no real node table");
    }
    api_.RealNodeList = &api_.RealNodeTable->ElementList;
}

RealNodeList::~RealNodeList() { RSLTdestroy(&api_.RealNodeTable); }

RealNodeElement& RealNodeList::add(std::string_view realNode, std::string_view originNode,
                                   std::string_view varnex) {
    void* slot = nullptr;
    if (RSLTget(api_.RealNodeTable, &slot) != 0) throw std::runtime_error("no real node element");
    auto* element = static_cast<RealNodeElement*>(slot);
    std::memset(element, 0, sizeof *element);
    const std::string node = padded(realNode, sizeof element->RealNode, '\0');
    std::memcpy(element->RealNode, node.data(), node.size());
    const std::string origin = padded(originNode, sizeof element->RealNodeOrigNode, '\0');
    std::memcpy(element->RealNodeOrigNode, origin.data(), origin.size());
    setField(element->RealNodeVarnex, varnex);
    std::memcpy(element->RealNodeAgtVer, "05", 2);

    // Linked at the back, so that the walk meets the nodes in the order added.
    RSLTlist* list = api_.RealNodeList;
    auto* link = reinterpret_cast<RSLTlink*>(element);
    link->Next = list->End;
    link->Prev = list->Last;
    list->Last->Next = link;
    list->Last = link;
    return *element;
}

// ---------------------------------------------------------------------------

std::vector<hub::ds::CallRecord> nodeStatementCalls() {
    std::vector<hub::ds::CallRecord> calls;
    for (const auto& call : hub::ds::recordedCalls()) {
        if (call.op == hub::ds::Op::CreateAccessPlan &&
            call.text.find("FROM KQV.QVALCSYS") != std::string::npos) {
            calls.push_back(call);
        }
    }
    return calls;
}

std::vector<std::string> nodeStatements() {
    std::vector<std::string> texts;
    for (const auto& call : nodeStatementCalls()) texts.push_back(call.text);
    return texts;
}

std::vector<std::string> queriedAgents() {
    std::vector<std::string> agents;
    for (const auto& text : nodeStatements()) {
        const auto open = text.find("AT('");
        const auto close = text.find("') WHERE", open);
        if (open == std::string::npos || close == std::string::npos) {
            agents.push_back("(unparsed) " + text);
            continue;
        }
        std::string agent;
        for (auto i = open + 4; i < close; ++i) {
            agent += text[i];
            if (text[i] == '\'') ++i;
        }
        agents.push_back(agent);
    }
    return agents;
}

std::vector<std::string> linesStartingWith(const std::vector<std::string>& lines,
                                           std::string_view prefix) {
    std::vector<std::string> selected;
    for (const auto& line : lines) {
        if (line.starts_with(prefix)) selected.push_back(line);
    }
    return selected;
}

// ---------------------------------------------------------------------------

QueryTest::GatedLines QueryTest::linesGatedBy(int32_t traceClass, std::string_view unit,
                                              std::string_view function,
                                              const std::function<void()>& run) {
    GatedLines result;
    for (const bool on : {true, false}) {
        hub::ds::reset();
        hub::ds::startRecording();
        capture().clear();
        traceAll(on ? traceClass : allClassesBut(traceClass));
        run();
        (on ? result.classOn : result.classOff) = lines(unit, function);
    }
    return result;
}

int32_t QueryTest::lastExitValue(std::string_view unit, std::string_view function) {
    const auto records = capture().records(unit, function);
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        if (it->kind == hub::trace::Kind::Exit) return it->value;
    }
    throw std::logic_error("no exit event of " + std::string(function));
}

}  // namespace querytest
