// Table KQVDWSYS in the SQL engine, with the provider linked in: what
// reaches the provider from a query, how scans map to requests, and what the
// host makes of a failing entry.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "heap_seam.h"
#include "hub/ds/src/row_fields.h"
#include "hub/ds/statements.h"
#include "hub/registry.h"
#include "hub_fixture.h"
#include "provider/kqvdwsys.h"
#include "sql_session.h"

namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

constexpr const char* kPlx2 = "PLX2:vRK:HarborStatusPanel";

std::string valueText(const hub::ds::ValueView& value) {
    if (const auto* number = std::get_if<int64_t>(&value)) return std::to_string(*number);
    if (const auto* string = std::get_if<std::string_view>(&value)) return std::string(*string);
    if (const auto* real = std::get_if<double>(&value)) {
        std::ostringstream out;
        out.precision(17);
        out << *real;
        return out.str();
    }
    if (const auto* blob = std::get_if<hub::ds::BlobView>(&value)) {
        std::string text = "x'";
        for (const char c : blob->bytes) {
            text += "0123456789abcdef"[static_cast<unsigned char>(c) >> 4];
            text += "0123456789abcdef"[c & 15];
        }
        return text + "'";
    }
    return "NULL";
}

// Each value of a result row as text, the columns joined by '|'.
std::string rowText(std::span<const hub::ds::ValueView> row) {
    std::string text;
    for (const hub::ds::ValueView& value : row) {
        if (!text.empty()) text += '|';
        text += valueText(value);
    }
    return text;
}

// Every row of the statements' results as `text` gives it.
std::vector<std::string> rowTexts(const hub::ds::Scenario& scenario, const std::string& statement,
                                  std::function<std::string(std::span<const hub::ds::ValueView>)> text) {
    struct Texts : hub::ds::ResultSink {
        void begin(const hub::ds::ResultHeader&) override {}
        void row(std::span<const hub::ds::ValueView> values) override { texts.push_back(text(values)); }
        void end() override {}
        std::function<std::string(std::span<const hub::ds::ValueView>)> text;
        std::vector<std::string> texts;
    } sink;
    sink.text = std::move(text);
    hub::ds::runStatements(scenario, statement, sink);
    return sink.texts;
}

class SqlTable : public kqvtest::HubFixture {
  protected:
    void SetUp() override {
        HubFixture::SetUp();
        cnt1entd();
        scenario_ = hub::ds::Scenario::fromScript(kqvtest::defaultScenarioScript(), "the default scenario");
        hub::ds::useScenario(scenario_);
        host::attachRegisteredTables(*scenario_, "KQVDWSYS", 1);
    }
    void TearDown() override {
        hub::ds::useScenario(nullptr);
        HubFixture::TearDown();
    }

    // Every row, as rowText gives it.
    std::vector<std::string> rows(const std::string& statement) { return rowTexts(*scenario_, statement, rowText); }

    std::vector<hub::ds::CallRecord> calls(hub::ds::Op op, int32_t item = 0) const {
        std::vector<hub::ds::CallRecord> found;
        for (const auto& call : hub::ds::recordedCalls()) {
            if (call.op == op && call.item == item) found.push_back(call);
        }
        return found;
    }

    std::shared_ptr<const hub::ds::Scenario> scenario_;
};

struct FilterCase {
    const char* name;
    std::string statement;
    std::vector<std::string> filterLines;  // the provider's "Index Filter" lines
    std::vector<std::string> rows;         // as rowText gives them, in order
    // The same question with nothing handed over to the provider (a column
    // the engine cannot pass on: CAST(ORIGINNODE AS TEXT) keeps the column's
    // affinity, where +ORIGINNODE would lose it); it must give the same rows.
    // A parameter's references become the value it takes, and where the
    // provider writes an ORIGINNODE equality's value into its rows, the
    // statement says so.
    std::string hintFree;
};

void PrintTo(const FilterCase& c, std::ostream* out) { *out << c.statement.substr(0, 200); }

class QueryConditions : public SqlTable, public ::testing::WithParamInterface<FilterCase> {
  protected:
    std::vector<std::string> filterLines() {
        std::vector<std::string> found;
        for (const std::string& line : lines("kqvdwsys", "qvdwsypr")) {
            if (line.rfind("Index Filter", 0) == 0) found.push_back(line);
        }
        capture().clear();
        return found;
    }
};

// What reaches the provider from a statement, in the statement's order, and
// what the statement answers: the same as with nothing handed over.
TEST_P(QueryConditions, ReachTheProviderAndAnswerAsWithoutThem) {
    const FilterCase& c = GetParam();
    traceAll(kTraceDetail);
    EXPECT_THAT(rows(c.statement), ElementsAreArray(c.rows)) << c.statement;
    EXPECT_THAT(filterLines(), ElementsAreArray(c.filterLines));
    EXPECT_THAT(rows(c.hintFree), ElementsAreArray(c.rows)) << c.hintFree;
    EXPECT_THAT(filterLines(), ElementsAreArray(std::vector<std::string>{})) << "the hint-free form hands over nothing";
}

const std::vector<std::string> kAll{"PLX3", "PLX3", "PLX2", "PLX2", "PLX2", "PLX2", "PLX1", "PLX1", "PLX1", "PLX1"};
const std::vector<std::string> kPlx2Rows{"PLX2", "PLX2", "PLX2", "PLX2"};
const std::vector<std::string> kPlx2AndPlx3{"PLX3", "PLX3", "PLX2", "PLX2", "PLX2", "PLX2"};
const std::string kVarnexes = "SELECT VARNNAME FROM KQVDWSYS WHERE ";

std::string filterLine(int op, const std::string& column, const std::string& value) {
    return "Index Filter " + std::to_string(op) + " " + column + std::string(11 - column.size(), ' ') + value + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    SqlTable, QueryConditions,
    ::testing::Values(
        FilterCase{"VarnexIsNoIndexColumn", kVarnexes + "VARNNAME = 'PLX2'", {}, kPlx2Rows,
                   kVarnexes + "VARNNAME = 'PLX2'"},
        FilterCase{"StatusRange", kVarnexes + "STATUS BETWEEN 1 AND 12", {}, {"PLX2", "PLX1", "PLX1"},
                   kVarnexes + "STATUS BETWEEN 1 AND 12"},
        FilterCase{"OriginNode", kVarnexes + "ORIGINNODE = 'PLX2:vRK:HarborStatusPanel'",
                   {filterLine(1, "ORIGINNODE", kPlx2)}, kPlx2Rows,
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) = 'PLX2:vRK:HarborStatusPanel'"},
        // The provider only reports IDNAME; as a parameter it holds in every row.
        FilterCase{"IdnameOnly", kVarnexes + "IDNAME = 'PLX2'", {filterLine(1, "IDNAME", "PLX2")}, kAll,
                   kVarnexes + "'PLX2' = 'PLX2'"},
        FilterCase{"IdnameThenOriginNode",
                   kVarnexes + "IDNAME = 'PLX1' AND ORIGINNODE = 'PLX2:vRK:HarborStatusPanel' AND STATUS >= 0",
                   {filterLine(1, "IDNAME", "PLX1"), filterLine(1, "ORIGINNODE", kPlx2)}, kPlx2Rows,
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) = 'PLX2:vRK:HarborStatusPanel' AND STATUS >= 0"},
        // Other comparisons are handed over with codes of their own, and
        // applied by the engine, not by the provider.
        FilterCase{"OriginNodeRange", kVarnexes + "ORIGINNODE >= 'PLX2' AND ORIGINNODE < 'PLX3'",
                   {filterLine(6, "ORIGINNODE", "PLX2"), filterLine(3, "ORIGINNODE", "PLX3")}, kPlx2Rows,
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) >= 'PLX2' AND CAST(ORIGINNODE AS TEXT) < 'PLX3'"},
        FilterCase{"OriginNodeIsNot", kVarnexes + "ORIGINNODE IS NOT 'PLX1:vRK:HarborStatusPanel'",
                   {filterLine(12, "ORIGINNODE", "PLX1:vRK:HarborStatusPanel")}, kPlx2AndPlx3,
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) IS NOT 'PLX1:vRK:HarborStatusPanel'"},
        FilterCase{"OriginNodeNullMatchesNothing", kVarnexes + "ORIGINNODE = NULL", {}, {},
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) = NULL"},
        // An OR is applied to one scan, not answered by a scan per branch
        // (whose rows the engine would tell apart by rowid).
        FilterCase{"OrOfAnEqualityAndARange",
                   kVarnexes + "ORIGINNODE = 'PLX2:vRK:HarborStatusPanel' OR ORIGINNODE >= 'PLX3'", {},
                   kPlx2AndPlx3,
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) = 'PLX2:vRK:HarborStatusPanel' OR "
                               "CAST(ORIGINNODE AS TEXT) >= 'PLX3'"},
        // A rowid names the same row in every scan, however narrowed.
        FilterCase{"RowidsOfDifferentScans",
                   "SELECT VARNNAME, DW_NAME FROM KQVDWSYS WHERE rowid IN "
                   "(SELECT rowid FROM KQVDWSYS WHERE ORIGINNODE = 'PLX1:vRK:HarborStatusPanel')",
                   {filterLine(1, "ORIGINNODE", "PLX1:vRK:HarborStatusPanel")},
                   {"PLX1|PLXQB1", "PLX1|PLXQSH", "PLX1|PLXQA2", "PLX1|PLXQA1"},
                   "SELECT VARNNAME, DW_NAME FROM KQVDWSYS WHERE rowid IN "
                   "(SELECT rowid FROM KQVDWSYS WHERE CAST(ORIGINNODE AS TEXT) = 'PLX1:vRK:HarborStatusPanel')"},
        // The provider compares bytes: another collation is the engine's to apply.
        FilterCase{"CollateNocase", kVarnexes + "ORIGINNODE = 'plx2:vrk:harborstatuspanel' COLLATE NOCASE", {},
                   kPlx2Rows, kVarnexes + "CAST(ORIGINNODE AS TEXT) = 'plx2:vrk:harborstatuspanel' COLLATE NOCASE"},
        // An IN list is not handed over: each value would be a request.
        FilterCase{"InList", kVarnexes + "ORIGINNODE IN ('PLX2:vRK:HarborStatusPanel', 'PLX3:vRK:HarborStatusPanel')",
                   {}, kPlx2AndPlx3,
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) IN "
                               "('PLX2:vRK:HarborStatusPanel', 'PLX3:vRK:HarborStatusPanel')"},
        FilterCase{"InListCollateNocase",
                   kVarnexes + "ORIGINNODE COLLATE NOCASE IN ('plx2:vrk:harborstatuspanel', 'x')", {}, kPlx2Rows,
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) COLLATE NOCASE IN ('plx2:vrk:harborstatuspanel', 'x')"},
        // A value longer than the column equals none of its values, and is
        // more than a filter can carry: the engine compares it.
        FilterCase{"ValueLongerThanAFilterCarries", kVarnexes + "ORIGINNODE <> '" + std::string(40000, 'x') + "'",
                   {}, kAll, kVarnexes + "CAST(ORIGINNODE AS TEXT) <> '" + std::string(40000, 'x') + "'"},
        FilterCase{"ValueLongerThanTheColumn", kVarnexes + "ORIGINNODE = '" + kPlx2 + "ABCDEFG'", {}, {},
                   kVarnexes + "CAST(ORIGINNODE AS TEXT) = '" + kPlx2 + "ABCDEFG'"},
        // The provider writes an ORIGINNODE equality's value into the rows
        // of the varnex it names, whatever follows the colon.
        FilterCase{"OriginNodeWrittenIntoTheRows",
                   "SELECT ORIGINNODE, VARNNAME FROM KQVDWSYS WHERE ORIGINNODE = 'PLX2:x'",
                   {filterLine(1, "ORIGINNODE", "PLX2:x")},
                   {"PLX2:x|PLX2", "PLX2:x|PLX2", "PLX2:x|PLX2", "PLX2:x|PLX2"},
                   "SELECT 'PLX2:x', VARNNAME FROM KQVDWSYS WHERE VARNNAME = 'PLX2'"},
        // IDNAME: text of at most 8 bytes, the value of an equality (= or
        // IS) with a constant; NULL otherwise, whatever the plan.
        FilterCase{"IdnameIs", kVarnexes + "IDNAME IS 'PLX2'", {filterLine(1, "IDNAME", "PLX2")}, kAll,
                   kVarnexes + "'PLX2' IS 'PLX2'"},
        FilterCase{"IdnameOfANumber", "SELECT typeof(IDNAME), IDNAME FROM KQVDWSYS WHERE IDNAME = 5 LIMIT 1",
                   {filterLine(1, "IDNAME", "5")}, {"text|5"},
                   "SELECT typeof(CAST(5 AS TEXT)), CAST(5 AS TEXT) FROM KQVDWSYS LIMIT 1"},
        FilterCase{"IdnameLongerThanEight", "SELECT IDNAME FROM KQVDWSYS WHERE IDNAME = 'ABCDEFGHIJKL'", {}, {},
                   "SELECT NULL FROM KQVDWSYS WHERE NULL = 'ABCDEFGHIJKL'"},
        FilterCase{"IdnameFromAnotherScan",
                   "SELECT COUNT(*) FROM KQVDWSYS a JOIN KQVDWSYS b ON a.IDNAME = b.IDNAME", {}, {"0"},
                   "SELECT COUNT(*) FROM KQVDWSYS a JOIN KQVDWSYS b ON NULL = NULL"},
        FilterCase{"IdnameInABranchOfAnOr",
                   kVarnexes + "IDNAME = 'PLX1' OR ORIGINNODE = 'PLX3:vRK:HarborStatusPanel'", {}, {"PLX3", "PLX3"},
                   kVarnexes + "NULL = 'PLX1' OR CAST(ORIGINNODE AS TEXT) = 'PLX3:vRK:HarborStatusPanel'"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Generated statements against their hint-free forms -----------------------
//
// Random statements on the table, each run as it is and in its hint-free
// form: conditions on ORIGINNODE, IDNAME and other columns under AND, OR and
// NOT, with IN, BETWEEN, LIKE, GLOB, IS, COLLATE, NULLs and long values, in
// joins, subqueries, groupings, ORDER BY and LIMIT. The generator knows what
// the provider does with the hints it acts on: an ORIGINNODE equality
// narrows the rows to the varnex before its colon and is written into their
// ORIGINNODE; an IDNAME equality with a constant gives IDNAME its value. The
// hint-free form says the same in plain SQL. KQV_SQL_ORACLE_SEED and
// KQV_SQL_ORACLE_STATEMENTS change the run.

enum class Form { Hinted, HintFree };
using Sql = std::function<std::string(Form)>;

Sql same(std::string text) {
    return [text = std::move(text)](Form) { return text; };
}
Sql operator+(const Sql& a, const Sql& b) {
    return [a, b](Form form) { return a(form) + b(form); };
}
Sql operator+(const Sql& a, const std::string& b) { return a + same(b); }
Sql operator+(const std::string& a, const Sql& b) { return same(a) + b; }

// A constant as the statement writes it, and as the engine hands it over.
struct Literal {
    enum Kind { Null, Text, Number, Blob };
    std::string sql;
    Kind kind;
    std::string bytes;  // the text, or the blob's bytes
};
Literal text(const std::string& value) { return {kqvtest::sqlLiteral(value), Literal::Text, value}; }
Literal number(const std::string& value) { return {value, Literal::Number, value}; }

std::string castText(const std::string& bytes) {
    std::string hex;
    for (const char c : bytes) {
        hex += "0123456789ABCDEF"[static_cast<unsigned char>(c) >> 4];
        hex += "0123456789ABCDEF"[c & 15];
    }
    return "CAST(x'" + hex + "' AS TEXT)";
}

std::string trimmedRight(std::string text, const std::string& blanks) {
    text.erase(text.find_last_not_of(blanks) + 1);
    return text;
}

// The first six come up most: values that rows have, or that the provider writes.
const std::vector<Literal> kOriginValues{
    text("PLX1:vRK:HarborStatusPanel"), text("PLX2:vRK:HarborStatusPanel"), text("PLX3:vRK:HarborStatusPanel"),
    text("PLX2:x"), text("PLX3:"), text("PLX1:vRK:HarborStatusPanel"), text("PLX2:vRK:HarborStatusPanel"),
    text("PLX3:vRK:HarborStatusPanel"), text("PLX2:vRK:HarborStatusPanel "), text("plx2:vrk:harborstatuspanel"),
    text("PLX9:vRK:HarborStatusPanel"), text("PLX2"), text(""), text("PLX2:vRK:HarborStatusPanel1234567"),
    text(std::string(40000, 'P')), {"NULL", Literal::Null, ""}, number("5"), number("2.5"),
    {"x'504C58333A'", Literal::Blob, "PLX3:"}};
const std::vector<Literal> kIdnameValues{
    text("PLX2"),       text("PLX1"), text("plx2"),   text("ABCDEFGH"),           number("5"),
    text("PLX2 "),      text(""),     number("-1"),   number("2.5"),              {"NULL", Literal::Null, ""},
    text("ABCDEFGHIJ"), {"x'41'", Literal::Blob, "A"}};
const std::vector<Literal> kLikePatterns{text("PLX2%"), text("%Panel"), text("plx%"), text("PLX_:%"), text("%"),
                                         {"NULL", Literal::Null, ""}};
const std::vector<Literal> kGlobPatterns{text("PLX[12]*"), text("*Panel"), text("plx*"), text("P?X2*")};

// One scan of the table in a statement, and what its hints made the provider do.
struct Scan {
    std::string alias;
    bool mayTakeOriginNode = true;  // no other equality on ORIGINNODE reaches its provider
    bool originNodeTaken = false;
    bool idnameTaken = false;
    std::optional<std::string> written;  // the ORIGINNODE the provider wrote into every row
    std::optional<std::string> varnex;   // the varnex it narrowed to; none: no row at all
    std::optional<std::string> idname;   // IDNAME's value
    const Scan* originNodeFrom = nullptr;  // a correlated scan handed the outer row's ORIGINNODE
    bool outerJoined = false;              // its columns are NULL in a row without a match

    const Scan& originNodeOwner() const { return originNodeFrom ? *originNodeFrom : *this; }
    bool changed() const { return originNodeOwner().written || idname; }
};

Sql column(const Scan& scan, const std::string& name) {
    return [&scan, name](Form form) {
        const std::string ref = scan.alias + "." + name;
        if (form == Form::Hinted) return ref;
        const auto& value = name == "IDNAME" ? scan.idname : scan.originNodeOwner().written;
        if (!value) return name == "IDNAME" ? std::string("CAST(NULL AS TEXT)") : "CAST(" + ref + " AS TEXT)";
        if (!scan.outerJoined) return castText(*value);
        return "CAST(CASE WHEN " + scan.alias + ".VARNNAME IS NULL THEN NULL ELSE " + castText(*value) +
               " END AS TEXT)";
    };
}

// " AND " the rows the provider narrowed the scan to, in the hint-free form.
Sql narrowing(const Scan& scan) {
    return [&scan](Form form) -> std::string {
        const Scan& owner = scan.originNodeOwner();
        if (form == Form::Hinted || !owner.written) return "";
        if (!owner.varnex) return " AND 0";
        return " AND CAST(" + scan.alias + ".VARNNAME AS TEXT) = " + kqvtest::sqlLiteral(*owner.varnex);
    };
}

class StatementGenerator {
  public:
    explicit StatementGenerator(uint32_t seed) : random_(seed) {}

    struct Generated {
        Sql statement;
        bool ordered;  // its ORDER BY orders every row
    };
    // Valid until the next call.
    Generated next();

  private:
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(random_() % n); }
    bool chance(uint32_t percent) { return below(100) < percent; }
    template <typename T>
    const T& pick(const std::vector<T>& from) { return from[below(static_cast<uint32_t>(from.size()))]; }

    Scan& newScan(const std::string& alias) {
        Scan& scan = scans_.emplace_back();
        scan.alias = alias;
        return scan;
    }
    Sql condition(Scan& scan, int depth, bool topLevel);
    Sql indexColumnCondition(Scan& scan, const std::string& name, bool topLevel, bool equality = false);
    // The conditions of a scan's WHERE (or ON): often with an equality that its provider acts on.
    Sql conditions(Scan& scan, int depth);
    Sql otherCondition(Scan& scan);
    Sql subqueryCondition(Scan& outer);
    Sql items(const Scan& scan);

    std::mt19937 random_;
    std::deque<Scan> scans_;
    int subqueriesLeft_ = 0;
};

// An equality that reaches a scan's provider changes what it hands back;
// each scan takes at most one per column, and the generator notes its effect.
Sql StatementGenerator::indexColumnCondition(Scan& scan, const std::string& name, bool topLevel, bool equality) {
    const bool originNode = name == "ORIGINNODE";
    const auto& values = originNode ? kOriginValues : kIdnameValues;
    // An equality mostly with one of the first values, which rows have or the provider writes.
    const Literal& value = equality && chance(60) ? values[below(6)] : pick(values);
    const Sql ref = column(scan, name);
    switch (equality ? 99 : below(12)) {
        case 0: return ref + (chance(50) ? " IS NULL" : " IS NOT NULL");
        case 1:
            return ref + (chance(30) ? " COLLATE NOCASE" : "") + (chance(30) ? " NOT IN (" : " IN (") + value.sql +
                   ", " + pick(values).sql + (chance(50) ? ", " + pick(values).sql : "") + ")";
        case 2: return ref + " BETWEEN " + value.sql + " AND " + pick(values).sql;
        case 3: return ref + " LIKE " + pick(kLikePatterns).sql;
        case 4: return ref + " GLOB " + pick(kGlobPatterns).sql;
        default: break;
    }
    static const std::vector<std::string> kComparisons{"=", "IS", "=", "=", "IS", "<>", "IS NOT", "<", "<=", ">", ">="};
    std::string op = equality ? (chance(70) ? "=" : "IS") : pick(kComparisons);
    const char* collations[] = {"BINARY", "NOCASE", "RTRIM"};
    const uint32_t collatePlace = below(4);  // 0, 1: none; 2: on the column; 3: on the value
    const std::string collate = collatePlace >= 2 ? std::string(" COLLATE ") + collations[below(3)] : "";
    const bool handedOver = topLevel && (op == "=" || op == "IS") && (collate.empty() || collate == " COLLATE BINARY");
    if (handedOver && originNode) {
        if (!scan.mayTakeOriginNode || scan.originNodeTaken) {
            op = "<>";
        } else {
            scan.originNodeTaken = true;
            if (value.kind != Literal::Null && value.bytes.size() <= 32) {
                scan.written = trimmedRight(value.bytes, std::string(" \0", 2));
                const auto stop = value.bytes.find_first_of(std::string(":\0", 2));
                if (stop != std::string::npos && value.bytes[stop] == ':') {
                    scan.varnex = trimmedRight(value.bytes.substr(0, std::min<std::size_t>(stop, 8)), " ");
                }
            }
        }
    } else if (handedOver && collatePlace != 3) {  // a COLLATE on the value makes it no constant
        if (scan.idnameTaken) {
            op = "<>";
        } else {
            scan.idnameTaken = true;
            const bool takes = value.kind == Literal::Text || value.kind == Literal::Number;
            if (takes && value.bytes.size() <= 8) scan.idname = value.bytes;
        }
    }
    const Sql left = ref + (collatePlace == 2 ? collate : "");
    const std::string right = value.sql + (collatePlace == 3 ? collate : "");
    if (op == "=" && chance(20)) return right + " = " + left;
    return left + " " + op + " " + right;
}

Sql StatementGenerator::otherCondition(Scan& scan) {
    const std::string a = scan.alias + ".";
    const Sql origin = column(scan, "ORIGINNODE");
    const Sql idname = column(scan, "IDNAME");
    switch (below(14)) {
        case 0: return same(a + "VARNNAME = 'PLX2'");
        case 1: return same(a + "VARNNAME IN ('PLX1', 'PLX3')");
        case 2: return same(a + "STATUS > 0");
        case 3: return same(a + "STATUS BETWEEN 1 AND 12");
        case 4: return same(a + "DW_NAME LIKE 'DW%'");
        case 5: return same(a + "DW_NAME GLOB 'PLXQ*'");
        case 6: return same(a + "STG_USED >= 1500");
        case 7: return same(a + "SYSNAME IS NOT 'SYSC'");
        case 8: return same(a + "TIMESTAMP < '1261208093001500'");
        case 9: return "upper(" + origin + ") LIKE 'PLX2%'";
        case 10: return "substr(" + origin + ", 1, 4) = " + a + "VARNNAME";
        case 11: return "coalesce(" + idname + ", 'none') <> 'none'";
        case 12: return origin + " || 'x' > 'PLX2'";
        default: return "CASE WHEN " + origin + " = 'PLX1:vRK:HarborStatusPanel' THEN 1 ELSE 0 END = 1";
    }
}

Sql StatementGenerator::subqueryCondition(Scan& outer) {
    --subqueriesLeft_;
    Scan& inner = newScan(outer.alias + "_s");
    const std::string s = inner.alias + ".";
    const std::string o = outer.alias + ".";
    switch (below(3)) {
        case 0:
            return column(outer, "ORIGINNODE") + " IN (SELECT " + column(inner, "ORIGINNODE") + " FROM KQVDWSYS " +
                   inner.alias + " WHERE " + conditions(inner, 1) + narrowing(inner) + ")";
        case 1:
            return "EXISTS (SELECT 1 FROM KQVDWSYS " + inner.alias + " WHERE " + s + "VARNNAME = " + o +
                   "VARNNAME AND " + s + "STATUS > " + o + "STATUS AND " + conditions(inner, 1) +
                   narrowing(inner) + ")";
        default:
            // The outer row's ORIGINNODE reaches the inner scan's provider.
            inner.mayTakeOriginNode = false;
            inner.originNodeFrom = &outer;
            return o + "STATUS >= (SELECT AVG(" + s + "STATUS) FROM KQVDWSYS " + inner.alias + " WHERE " +
                   column(inner, "ORIGINNODE") + " = " + column(outer, "ORIGINNODE") + narrowing(inner) + ")";
    }
}

// topLevel: the condition holds for the whole scan (ANDs from the root).
Sql StatementGenerator::condition(Scan& scan, int depth, bool topLevel) {
    const uint32_t kind = depth == 0 ? 100 : below(100);
    if (kind < 35) {
        return "(" + condition(scan, depth - 1, topLevel) + " AND " + condition(scan, depth - 1, topLevel) + ")";
    }
    if (kind < 55) return "(" + condition(scan, depth - 1, false) + " OR " + condition(scan, depth - 1, false) + ")";
    if (kind < 62) return "NOT (" + condition(scan, depth - 1, false) + ")";
    if (kind < 72 && subqueriesLeft_ > 0) return subqueryCondition(scan);
    const uint32_t which = below(10);
    if (which < 4) return indexColumnCondition(scan, "ORIGINNODE", topLevel);
    if (which < 6) return indexColumnCondition(scan, "IDNAME", topLevel);
    return otherCondition(scan);
}

Sql StatementGenerator::conditions(Scan& scan, int depth) {
    if (!chance(40)) return condition(scan, depth, true);
    return indexColumnCondition(scan, chance(65) ? "ORIGINNODE" : "IDNAME", true, true) + " AND " +
           condition(scan, depth - 1, true);
}

Sql StatementGenerator::items(const Scan& scan) {
    const std::string a = scan.alias + ".";
    const std::vector<Sql> all{column(scan, "ORIGINNODE"),
                               column(scan, "IDNAME"),
                               "typeof(" + column(scan, "IDNAME") + ")",
                               same(a + "VARNNAME"),
                               same(a + "DW_NAME"),
                               same(a + "STATUS"),
                               "length(" + column(scan, "ORIGINNODE") + ")",
                               column(scan, "ORIGINNODE") + " = 'PLX2:x'",
                               // A rowid names the row by all it holds: the hint-free form's rows hold other things.
                               [&scan](Form) { return scan.changed() ? std::string("0") : scan.alias + ".rowid"; }};
    Sql list = pick(all);
    for (uint32_t n = below(4); n > 0; --n) list = list + ", " + pick(all);
    return list;
}

StatementGenerator::Generated StatementGenerator::next() {
    scans_.clear();
    subqueriesLeft_ = chance(15) ? 1 : 0;
    Scan& a = newScan("a");
    switch (below(10)) {
        case 0: {
            Scan& b = newScan("b");
            Sql on = same("a.VARNNAME = b.VARNNAME AND a.DW_NAME = b.DW_NAME");
            if (chance(30)) {
                on = column(a, "ORIGINNODE") + " = " + column(b, "ORIGINNODE");
                a.mayTakeOriginNode = b.mayTakeOriginNode = false;
            } else if (chance(30)) {
                // Neither IDNAME has a value; a constant on one would be carried over to the other.
                on = column(a, "IDNAME") + " = " + column(b, "IDNAME");
                a.idnameTaken = b.idnameTaken = true;
            }
            return {"SELECT " + items(a) + ", " + items(b) + " FROM KQVDWSYS a JOIN KQVDWSYS b ON " + on + " WHERE " +
                        conditions(a, 2) + " AND " + conditions(b, 1) + narrowing(a) + narrowing(b),
                    false};
        }
        case 1:
            a.outerJoined = true;
            return {"SELECT t.NODE, " + items(a) +
                        " FROM Y6SRV.TNODELST t LEFT JOIN KQVDWSYS a ON a.SYSNAME = substr(t.NODE, 4, 4) AND " +
                        conditions(a, 1) + narrowing(a) + " WHERE t.NODETYPE = 'V'",
                    false};
        case 2: {
            Sql on = same("t.NODE = 'QV:' || a.SYSNAME || ':' || a.VARNNAME");
            if (chance(50)) {
                on = "t.NODELIST = " + column(a, "ORIGINNODE");
                a.mayTakeOriginNode = false;
            }
            return {"SELECT t.NODE, " + items(a) + " FROM KQVDWSYS a JOIN Y6SRV.TNODELST t ON " + on + " WHERE " +
                        conditions(a, 2) + narrowing(a),
                    false};
        }
        case 3:
            return {"SELECT a.VARNNAME, COUNT(*), MAX(a.STATUS), MIN(" + column(a, "ORIGINNODE") + "), MAX(" +
                        column(a, "IDNAME") + ") FROM KQVDWSYS a WHERE " + conditions(a, 2) + narrowing(a) +
                        " GROUP BY a.VARNNAME" + (chance(50) ? " HAVING COUNT(*) > 1" : ""),
                    false};
        default: {
            // A row's VARNNAME and DW_NAME name it: rows so ordered come in one order only.
            const bool ordered = chance(30);
            const Sql statement = "SELECT " + std::string(!ordered && chance(30) ? "DISTINCT " : "") + items(a) +
                                  " FROM KQVDWSYS a WHERE " + conditions(a, 2) + narrowing(a);
            if (!ordered) return {statement, false};
            return {statement + " ORDER BY a.VARNNAME, a.DW_NAME LIMIT " + std::to_string(below(6)) + " OFFSET " +
                        std::to_string(below(4)),
                    true};
        }
    }
}

uint32_t environmentNumber(const char* name, uint32_t otherwise) {
    const char* text = std::getenv(name);
    return text && *text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : otherwise;
}

std::string excerpt(const std::string& sql) { return sql.size() <= 400 ? sql : sql.substr(0, 400) + "..."; }

// Every value with its type, so that 5 and '5' differ.
std::vector<std::string> typedRows(const hub::ds::Scenario& scenario, const std::string& statement) {
    return rowTexts(scenario, statement, [](std::span<const hub::ds::ValueView> row) {
        std::string text;
        for (const hub::ds::ValueView& value : row) text += std::to_string(value.index()) + valueText(value) + '\x1f';
        return text;
    });
}

TEST_F(SqlTable, GeneratedStatementsAnswerAsTheirHintFreeForms) {
    const uint32_t seed = environmentNumber("KQV_SQL_ORACLE_SEED", 20261209);
    const uint32_t count = environmentNumber("KQV_SQL_ORACLE_STATEMENTS", KQV_SQL_ORACLE_STATEMENTS);
    StatementGenerator generator(seed);
    uint32_t differences = 0;
    for (uint32_t n = 0; n < count; ++n) {
        const StatementGenerator::Generated generated = generator.next();
        const std::string hinted = generated.statement(Form::Hinted);
        const std::string hintFree = generated.statement(Form::HintFree);
        std::vector<std::string> answers[2];
        for (const int form : {0, 1}) {
            try {
                answers[form] = typedRows(*scenario_, form == 0 ? hinted : hintFree);
            } catch (const std::exception& error) {
                answers[form] = {std::string("failed: ") + error.what()};
            }
            if (!generated.ordered) std::sort(answers[form].begin(), answers[form].end());
        }
        if (answers[0] == answers[1]) continue;
        ++differences;
        ADD_FAILURE() << "seed " << seed << ", statement " << n << ":\n  " << excerpt(hinted) << "\nanswers\n  "
                      << ::testing::PrintToString(answers[0]) << "\nbut its hint-free form\n  " << excerpt(hintFree)
                      << "\nanswers\n  " << ::testing::PrintToString(answers[1]);
    }
    EXPECT_EQ(differences, 0u) << "of " << count << " statements (seed " << seed << ")";
}

// Two scans open at once are two requests at once on this thread: rows of
// both come back interleaved, and every request is terminated.
TEST_F(SqlTable, ScansOpenAtOnceAreSeparateRequests) {
    kqvtest::HeapSeam heap;
    hub::ds::startRecording();
    const auto found = rows(
        "SELECT a.DW_NAME FROM KQVDWSYS a JOIN KQVDWSYS b ON b.VARNNAME = a.VARNNAME AND b.DW_NAME = a.DW_NAME");
    EXPECT_EQ(found.size(), 10u);

    const auto rowCalls = calls(hub::ds::Op::PutItem, ::ds::kItemRow);
    std::set<uint64_t> requests;
    for (const auto& call : rowCalls) requests.insert(call.target);
    EXPECT_GE(requests.size(), 2u);
    const uint64_t outer = rowCalls.front().target;
    const auto inner = std::find_if(rowCalls.begin(), rowCalls.end(), [&](const auto& call) { return call.target != outer; });
    const bool interleaved =
        std::any_of(inner, rowCalls.end(), [&](const auto& call) { return call.target == outer; });
    EXPECT_TRUE(interleaved) << "the outer scan's request handed back rows after an inner one had";
    EXPECT_EQ(calls(hub::ds::Op::GetViewStorage).size(), requests.size());
    EXPECT_EQ(hub::ds::liveObjects(hub::ds::ObjectKind::Request), 0u);
    EXPECT_EQ(heap.outstanding(), 0u);
}

// A correlated subquery filters its scan again for every outer row: the
// scan's previous request is terminated before the next starts.
TEST_F(SqlTable, ACorrelatedSubqueryStartsARequestPerOuterRow) {
    kqvtest::HeapSeam heap;
    hub::ds::startRecording();
    const auto found = rows(
        "SELECT DW_NAME FROM KQVDWSYS a WHERE STATUS = "
        "(SELECT MAX(STATUS) FROM KQVDWSYS b WHERE b.VARNNAME = a.VARNNAME)");
    EXPECT_THAT(found, ElementsAreArray({"DWD2", "DWC2", "PLXQA2"}));
    EXPECT_EQ(calls(hub::ds::Op::GetViewStorage).size(), 11u);
    EXPECT_EQ(hub::ds::liveObjects(hub::ds::ObjectKind::Request), 0u);
    EXPECT_EQ(heap.outstanding(), 0u);
}

// A character column's trailing blanks and NULs are found a word at a time;
// byte by byte from the end is the answer it must give.
TEST(RowFields, TrimmedLengthIsTheLengthWithoutTrailingBlanks) {
    // Blanks, NULs and the bytes that differ from them only in other bits.
    const unsigned char bytes[] = {' ', '\0', 'a', 0xA0, 0x80, '`', '@', 0xE0};
    std::mt19937 random(20261209);
    for (int n = 0; n < 20000; ++n) {
        std::vector<unsigned char> text(random() % 41);
        for (auto& byte : text) byte = bytes[random() % (n % 2 == 0 ? 8 : 2)];
        std::size_t expected = text.size();
        while (expected > 0 && (text[expected - 1] == ' ' || text[expected - 1] == '\0')) --expected;
        ASSERT_EQ(hub::ds::trimmedLength(text.data(), text.size()), expected)
            << kqvtest::sqlLiteral(std::string(text.begin(), text.end()));
    }
}

TEST_F(SqlTable, ALimitEndsTheRequestEarly) {
    kqvtest::HeapSeam heap;
    hub::ds::startRecording();
    EXPECT_EQ(rows("SELECT DW_NAME FROM KQVDWSYS LIMIT 2").size(), 2u);
    EXPECT_EQ(calls(hub::ds::Op::PutItem, ::ds::kItemRow).size(), 2u) << "no row asked for beyond the limit";
    EXPECT_EQ(calls(hub::ds::Op::GetViewStorage).size(), 1u);
    EXPECT_EQ(hub::ds::liveObjects(hub::ds::ObjectKind::Request), 0u);
    EXPECT_EQ(heap.outstanding(), 0u);
}

// The engine gives up a statement halfway: status 2, its request terminated.
TEST_F(SqlTable, AStatementThatFailsDuringAScanStillTerminatesItsRequest) {
    kqvtest::HeapSeam heap;
    std::ostringstream out;
    std::ostringstream err;
    const int status = host::runStatements(
        *scenario_, "SELECT DW_NAME, abs(STATUS * 0 - 9223372036854775807 - 1) FROM KQVDWSYS", host::Format::Csv,
        out, err);
    EXPECT_EQ(status, host::kExitBadInput);
    EXPECT_THAT(err.str(), HasSubstr("kqvhost: integer overflow (in: SELECT DW_NAME"));
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(hub::ds::liveObjects(hub::ds::ObjectKind::Request), 0u);
    EXPECT_EQ(heap.outstanding(), 0u);
}

struct FailureCase {
    const char* name;
    hub::ds::Op op;
    int32_t item;
    uint64_t nth;  // which call of op (and item) fails
    const char* message;
};

class EntryFailures : public SqlTable, public ::testing::WithParamInterface<FailureCase> {};

// A failing entry: exit status 1, one line naming the entry and its status,
// no request left open and, once terminated, no heap of the provider.
TEST_P(EntryFailures, EndTheRunWithStatusOneAndLeaveNothingOpen) {
    const FailureCase& c = GetParam();
    kqvtest::HeapSeam heap;
    hub::ds::failNthCall(c.op, c.nth, 4242, c.item);
    std::ostringstream out;
    std::ostringstream err;
    std::size_t rows = 0;
    const int status = host::runStatements(*scenario_, "SELECT 1; SELECT COUNT(*) FROM KQVDWSYS; SELECT 2",
                                           host::Format::Csv, out, err, {}, &rows);
    EXPECT_EQ(status, host::kExitQueryFailed);
    EXPECT_EQ(out.str(), "1\n1\n") << "the results before the failure, none after";
    EXPECT_EQ(rows, 1u) << "the rows written are the rows counted";
    const std::string report = err.str();
    EXPECT_THAT(report, HasSubstr(std::string("kqvhost: table KQVDWSYS: ") + c.message));
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << report;
    EXPECT_EQ(hub::ds::liveObjects(hub::ds::ObjectKind::Request), 0u);
    EXPECT_EQ(heap.outstanding(), 0u);
}

// Entry 1 asks for the parameter list once and for view storage; entry 2's
// gathering call asks for the parameter list and every later call once more.
// A work area that was never registered makes entry 2 and entry 3 fail alike.
INSTANTIATE_TEST_SUITE_P(
    SqlTable, EntryFailures,
    ::testing::Values(
        FailureCase{"Start", hub::ds::Op::GetViewStorage, 0, 1, "request start (entry 1) returned status 64"},
        FailureCase{"GatheringCall", hub::ds::Op::GetItem, ::ds::kItemParameterList, 2,
                    "request processing (entry 2) returned status 60"},
        FailureCase{"LaterRow", hub::ds::Op::GetItem, ::ds::kItemParameterList, 6,
                    "request processing (entry 2) returned status 60"},
        FailureCase{"AlsoTermination", hub::ds::Op::PutItem, ::ds::kItemWorkArea, 1,
                    "request processing (entry 2) returned status 71; "
                    "table KQVDWSYS: request termination (entry 3) returned status 71"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// An output that takes `room` bytes and fails every write after them, as a
// full disk does.
class FullOutput : public std::streambuf {
  public:
    explicit FullOutput(std::size_t room) : room_(room) {}
    std::string written;

  protected:
    std::streamsize xsputn(const char* bytes, std::streamsize count) override {
        const auto taken = std::min(room_ - written.size(), static_cast<std::size_t>(count));
        written.append(bytes, taken);
        return static_cast<std::streamsize>(taken);
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }

  private:
    std::size_t room_;
};

struct StreamCase {
    const char* name;
    host::Format format;
    std::string statements;
    int status;
    std::vector<std::string> head;  // the first lines written
    std::vector<std::string> tail;  // the last lines, after those
    std::size_t lines;              // how many lines were written
    const char* error = "";         // in the message on standard error
    uint64_t failingRowCall = 0;    // which GetItem of the parameter list fails (entry 2 of a row)
    std::size_t outputRoom = std::string::npos;
};

class StreamedResults : public SqlTable, public ::testing::WithParamInterface<StreamCase> {};

// Rows are written as they come: a result longer than the table format's
// sample keeps its columns, and a statement, an entry or the output that
// fails after some rows leaves those rows written, every request terminated.
TEST_P(StreamedResults, AreWrittenRowByRow) {
    const StreamCase& c = GetParam();
    kqvtest::HeapSeam heap;
    if (c.failingRowCall != 0) hub::ds::failNthCall(hub::ds::Op::GetItem, c.failingRowCall, 4242, ::ds::kItemParameterList);
    FullOutput output(c.outputRoom);
    std::ostream out(&output);
    std::ostringstream err;
    const int status = host::runStatements(*scenario_, c.statements, c.format, out, err);
    EXPECT_EQ(status, c.status);
    EXPECT_THAT(err.str(), HasSubstr(c.error));

    std::vector<std::string> lines;
    std::istringstream written(output.written);
    for (std::string line; std::getline(written, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), c.lines) << output.written.substr(0, 2000);
    EXPECT_THAT(std::vector(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(c.head.size())),
                ElementsAreArray(c.head));
    EXPECT_THAT(std::vector(lines.end() - static_cast<std::ptrdiff_t>(c.tail.size()), lines.end()),
                ElementsAreArray(c.tail));
    EXPECT_EQ(hub::ds::liveObjects(hub::ds::ObjectKind::Request), 0u);
    EXPECT_EQ(heap.outstanding(), 0u);
}

constexpr const char* kCountTo = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ";
// The fourth row overflows an integer.
const std::string kFailsAtFour =
    std::string(kCountTo) + "9) SELECT i AS A, CASE WHEN i = 4 THEN abs(i * 0 - 9223372036854775807 - 1) END AS B FROM n";

INSTANTIATE_TEST_SUITE_P(
    SqlTable, StreamedResults,
    ::testing::Values(
        // Beyond the sample, a provider's column is as wide as its definition
        // allows: ORIGINNODE 32 characters, STATUS a 32-bit number's 11.
        StreamCase{"TableSizesProviderColumnsByDefinition", host::Format::Table,
                   std::string(kCountTo) + "150) SELECT k.ORIGINNODE, k.STATUS FROM n, KQVDWSYS k",
                   host::kExitOk,
                   {"ORIGINNODE" + std::string(29, ' ') + "STATUS", std::string(32, '-') + "  " + std::string(11, '-')},
                   {"(1500 rows)"},
                   1503},
        StreamCase{"TableWritesALaterWiderValueWhole", host::Format::Table,
                   std::string(kCountTo) + "1200) SELECT i AS N, CASE i WHEN 1199 THEN 'wider' ELSE 'w' END AS T FROM n",
                   host::kExitOk,
                   {"   N  T", "----  -", "   1  w"},
                   {"1199  wider", "1200  w", "(1200 rows; 1 value wider than its column, written whole)"},
                   1203},
        StreamCase{"CsvKeepsTheRowsBeforeAFailure", host::Format::Csv, kFailsAtFour, host::kExitBadInput,
                   {"A,B", "1,", "2,", "3,"}, {}, 4, "kqvhost: integer overflow"},
        StreamCase{"JsonLeavesTheArrayOpen", host::Format::Json, kFailsAtFour, host::kExitBadInput,
                   {"[", "  {", "    \"A\": 1,", "    \"B\": null", "  },"}, {"    \"B\": null", "  }"}, 13,
                   "kqvhost: integer overflow"},
        StreamCase{"TableWritesTheHeldRowsWithoutACount", host::Format::Table, kFailsAtFour,
                   host::kExitBadInput, {"A     B", "-  ----", "1  NULL", "2  NULL", "3  NULL"}, {}, 5,
                   "kqvhost: integer overflow"},
        // Entry 2 fails on the fifth row: four rows are out.
        StreamCase{"AnEntryFailingAfterRows", host::Format::Csv, "SELECT DW_NAME FROM KQVDWSYS; SELECT 2",
                   host::kExitQueryFailed, {"DW_NAME", "DWD2", "DWD1", "DWG1", "DWC2"}, {}, 5,
                   "kqvhost: table KQVDWSYS: request processing (entry 2) returned status 60", 6},
        // The output fills in the first row: the scan is given up, the next
        // statement never runs.
        StreamCase{"AnOutputFailingAfterRows", host::Format::Csv, "SELECT DW_NAME FROM KQVDWSYS; SELECT 2",
                   host::kExitOutputFailed, {"DW_NAME", "DW"}, {}, 2, "kqvhost: cannot write the results", 0, 10}),
    [](const auto& info) { return std::string(info.param.name); });
