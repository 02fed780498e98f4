// Writes the seed corpus: a few inputs per target that take the provider,
// or the host's scenario and statement code, down its main roads, each a
// well-formed input of the target's format.
// Usage: fuzz_seeds <corpus directory>   (writes <dir>/<target>/<name>)
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz_input.h"

namespace {

using namespace fuzzing;

const char kAffinities[] = "00000000000020000000000000000000050000000000";

void save(const std::filesystem::path& dir, const std::string& target, const std::string& name,
          const ByteWriter& input) {
    std::filesystem::create_directories(dir / target);
    std::ofstream out(dir / target / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(input.bytes().data()), static_cast<std::streamsize>(input.bytes().size()));
}

RowSeed catalogRow(const std::string& node, const std::string& affinities = kAffinities) {
    return {2, {textColumn(node), textColumn(affinities)}};
}
RowSeed nodeRow(const std::string& node) { return {1, {textColumn(node)}}; }

RowSeed statusRow(const std::string& varnex, const std::string& dw, int32_t status, int16_t columns = 14) {
    RowSeed row{columns, {textColumn("ZAVRIN:" + varnex + ".SYSA:vRK"), textColumn("1261208093000000"),
                          textColumn(varnex), textColumn("SYSA"), textColumn("SYSA"), textColumn(dw)}};
    for (int32_t value : {12, 4096, 1210, 512, 17, 8192, status, 710}) row.columns.push_back(intColumn(value));
    row.columns.resize(static_cast<std::size_t>(std::min<int16_t>(columns, 16)), ColumnSeed{0, false, {}});
    return row;
}

void catalogSeeds(const std::filesystem::path& dir) {
    {  // the default hub's catalog, as request processing asks for it
        ByteWriter in;
        in.u8(1).u8(0).fixed("", 33, '\0').u8(1);
        writeResultSet(in, {catalogRow("ZAVRIN:PLX1.SYSA:vRK"), catalogRow("ZAVRIN:PLX2.SYSC:vRK"),
                            catalogRow("ZAVRIN:PLX2.SYSG:GMR"), catalogRow("PLX4:SYSF:BKT"),
                            catalogRow("ZAVRIN:PLX5:vRK")});
        writeResultSet(in, {nodeRow("QV:SYSG:PLX2")});
        writeResultSet(in, {nodeRow("QV:SYSC:PLX2"), nodeRow("QV:SYSC2:PLX2")});
        writeResultSet(in, {});
        save(dir, "catalog", "default-hub", in);
    }
    {  // a node filter, every name shape, duplicates checked
        ByteWriter in;
        in.u8(0).u8(1).fixed("ZAVRIN:PL X", 33, '\0').u8(0);
        writeResultSet(in, {catalogRow("GRP2:SYSB:BKT"), catalogRow("GRP3:SYSC:GMR"), catalogRow("GRP2"),
                            catalogRow("ZAVRIN:GRP1.SYSA"), catalogRow("GRP2:SYSB"), catalogRow("ZAVRINXY:G.S:vRK"),
                            catalogRow("ZAVRIN:GRP1.SYSA:vRK")});
        writeResultSet(in, {nodeRow("QV:A"), nodeRow("QV:A"), nodeRow("QV:B")});
        writeResultSet(in, {nodeRow("QV:A")});
        writeResultSet(in, {nodeRow("QV:A"), nodeRow("QV:C")});
        save(dir, "catalog", "shapes-and-duplicates", in);
    }
    {  // values longer than their fields, negative lengths with addresses, none at all
        ByteWriter in;
        in.u8(0).u8(0).fixed("", 33, '\0').u8(0);
        writeResultSet(in, {catalogRow("ZAVRIN:LONGGROUPNAME.SYSTEMID:vRKX", std::string(60, '0')),
                            {2, {ColumnSeed{-1, true, "ZAVRIN:NEG.S:vRK"}, ColumnSeed{-5, true, kAffinities}}},
                            {2, {ColumnSeed{20, false, {}}, ColumnSeed{44, false, {}}}},
                            {1, {textColumn("ZAVRIN:ONE.COL:vRK")}},
                            {-3, {textColumn("ZAVRIN:NEGCOUNT.X:vRK"), textColumn(kAffinities)}},
                            {2, {textColumn(std::string("ZAV\0RIN:N.S:vRK", 15)), textColumn(kAffinities)}}});
        writeResultSet(in, {{1, {ColumnSeed{40, true, std::string(40, 'N')}}}, {1, {ColumnSeed{-2, true, "QV:X"}}}});
        save(dir, "catalog", "odd-values", in);
    }
    {  // an origin query answered with one column: no affinities to read
        ByteWriter in;
        in.u8(1).u8(0).fixed("", 33, '\0').u8(1);
        writeResultSet(in, {{1, {textColumn("ZAVRIN:PLX1.SYSA:vRK")}}, {1, {textColumn("ZAVRIN:PLX2.SYSC:vRK")}}});
        save(dir, "catalog", "one-column", in);
    }
    {  // a failing close on the origin query, a failing open on a node list
        ByteWriter in;
        in.u8(1).u8(0).fixed("", 33, '\0').u8(1);
        writeResultSet(in, {catalogRow("ZAVRIN:PLX1.SYSA:vRK"), catalogRow("ZAVRIN:PLX1.SYSB:vRK")},
                       FaultOp::CloseRequest, 4242);
        writeResultSet(in, {nodeRow("QV:SYSB:PLX1")}, FaultOp::OpenRequest, 36);
        writeResultSet(in, {nodeRow("QV:SYSA:PLX1")}, FaultOp::DropPlan, 7);
        save(dir, "catalog", "failures", in);
    }
}

void node(ByteWriter& in, const std::string& realNode, const std::string& origin, const std::string& varnex) {
    in.fixed(realNode, 32, '\0').fixed(origin, 32, '\0').fixed(varnex, 8);
}

void agentRowSeeds(const std::filesystem::path& dir) {
    {  // three agents of two varnexes, a DW reported twice, no filter
        ByteWriter in;
        in.u8(0).fixed("", 32);
        in.u8(3);
        node(in, "QV:SYSA:PLX1", "ZAVRIN:PLX1.SYSA:vRK", "PLX1");
        node(in, "QV:SYSB:PLX1", "ZAVRIN:PLX1.SYSB:vRK", "PLX1");
        node(in, "QV:SYSC:PLX2", "ZAVRIN:PLX2.SYSC:vRK", "PLX2");
        writeResultSet(in, {statusRow("PLX2", "DWC1", 0), statusRow("PLX2", "DWC2", 12)});
        writeResultSet(in, {statusRow("PLX1", "PLXQSH", 8), statusRow("PLX1", "PLXQB1", 0)});
        writeResultSet(in, {statusRow("PLX1", "PLXQA1", 0), statusRow("PLX1", "PLXQSH", 1)});
        save(dir, "agent_rows", "merged", in);
    }
    {  // an ORIGINNODE filter choosing one varnex
        ByteWriter in;
        in.u8(1).fixed("PLX2:vRK:HarborStatusPanel", 32);
        in.u8(2);
        node(in, "QV:SYSA:PLX1", "ZAVRIN:PLX1.SYSA:vRK", "PLX1");
        node(in, "QV:SYSC:PLX2", "ZAVRIN:PLX2.SYSC:vRK", "PLX2");
        writeResultSet(in, {statusRow("PLX2", "DWC1", 0)});
        save(dir, "agent_rows", "filtered", in);
    }
    {  // 13 and 15 columns, negative and over-long lengths, no addresses
        ByteWriter in;
        in.u8(0).fixed("", 32);
        in.u8(2);
        node(in, " QV:BLANK", "   ", "PLX3");
        node(in, "QV:LONG:NAME:THAT:FILLS:ALL:32BY", "ZAVRIN:O'BRIEN.SYS:vRK", "PLX3");
        RowSeed odd = statusRow("PLX3", "DWODD", 3);
        odd.columns[0] = ColumnSeed{-1, true, "ZAVRIN:PLX3"};
        odd.columns[2] = ColumnSeed{30, true, std::string(30, 'V')};
        odd.columns[5] = ColumnSeed{12, false, {}};
        odd.columns[12] = ColumnSeed{9, true, std::string(9, '\x7f')};
        writeResultSet(in, {statusRow("PLX3", "DW13", 0, 13), statusRow("PLX3", "DW15", 0, 15), odd});
        writeResultSet(in, {statusRow("PLX3", "DWD1", 0), {-7, {}}, {300, {}}});
        save(dir, "agent_rows", "odd-rows", in);
    }
    {  // a failing open, a failing fetch, a failing drop
        ByteWriter in;
        in.u8(0).fixed("", 32);
        in.u8(3);
        node(in, "QV:A", "ZAVRIN:PLX1.A:vRK", "PLX1");
        node(in, "QV:B", "ZAVRIN:PLX1.B:vRK", "PLX1");
        node(in, "QV:C", "ZAVRIN:PLX1.C:vRK", "PLX1");
        writeResultSet(in, {statusRow("PLX1", "DWA", 0)}, FaultOp::DropRequest, 9);
        writeResultSet(in, {statusRow("PLX1", "DWB", 0)}, FaultOp::Fetch, 44);
        writeResultSet(in, {statusRow("PLX1", "DWC", 0)}, FaultOp::OpenRequest, 36);
        save(dir, "agent_rows", "failures", in);
    }
}

void filter(ByteWriter& in, int16_t op, const std::string& column, int16_t valueLength, bool hasValue,
            const std::string& value) {
    in.i16(op).fixed(column, 10).i16(valueLength).u8(hasValue ? 1 : 0).counted(value);
}

void filterSeeds(const std::filesystem::path& dir) {
    {
        ByteWriter in;
        in.u8(0).u8(1);
        save(dir, "filters", "none", in);
    }
    {
        ByteWriter in;
        in.u8(1);
        filter(in, 1, "ORIGINNODE", 26, true, "PLX1:vRK:HarborStatusPanel");
        in.u8(1);
        save(dir, "filters", "originnode", in);
    }
    {
        ByteWriter in;
        in.u8(4);
        filter(in, 1, "IDNAME", 4, true, "PLX1");
        filter(in, 2, "ORIGINNODE", 26, true, "PLX2:vRK:HarborStatusPanel");
        filter(in, 1, "ORIGINNODE", 40, true, "PLX1:vRK:HarborStatusPanel:and-some-more");
        filter(in, 1, "SYSNAME", 4, true, "SYSA");
        in.u8(2);
        save(dir, "filters", "idname-and-originnode", in);
    }
    {
        ByteWriter in;
        in.u8(4);
        filter(in, 1, "IDNAME", -3, true, "PLX1");
        filter(in, 1, "ORIGINNODE", 12, true, "");
        filter(in, 1, "ORIGINNODE", 9, true, std::string("PLX1\0:vRK", 9));
        filter(in, 1, "IDNAME", 20, true, "ABCDEFGHIJKLMNOPQRST");
        in.u8(0);
        save(dir, "filters", "odd-values", in);
    }
}

// input := mode:u8 text (even: statements; odd: a scenario after the
// required tables).
void hostInput(const std::filesystem::path& dir, const std::string& name, bool scenario, std::string_view text) {
    ByteWriter in;
    in.u8(scenario ? 1 : 0).fixed(text, text.size());
    save(dir, "host_input", name, in);
}

void hostInputSeeds(const std::filesystem::path& dir) {
    using namespace std::string_view_literals;
    // A NUL byte once made the host loop for ever: in statements, alone, and
    // after a scenario's last statement.
    hostInput(dir, "nul-between-statements", false, "SELECT 1;\0SELECT 2;"sv);
    hostInput(dir, "nul-alone", false, "\0"sv);
    hostInput(dir, "nul-after-scenario", true, "INSERT INTO HUB.AGENTS (NODE) VALUES ('QV:A');\n\0"sv);
    hostInput(dir, "catalog-queries", false,
              "SELECT NODE, AFFINITIES FROM Y6SRV.INODESTS WHERE NODETYPE = 'V' AND Y6ONLINE = 'Y';\n"
              "-- the agents behind each origin node\n"
              "SELECT i.NODE, t.NODE FROM Y6SRV.INODESTS i JOIN Y6SRV.TNODELST t ON t.NODELIST = i.NODE\n"
              "  ORDER BY 1, 2;\n"
              "SELECT AGENT, COUNT(*), SUM(STG_USED) FROM KQV.QVALCSYS GROUP BY AGENT HAVING COUNT(*) > 1;\n"
              "/* unterminated comment at the end");
    hostInput(dir, "endless-cte", false,
              "WITH RECURSIVE c(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM c) SELECT COUNT(*) FROM c;");
    hostInput(dir, "refused-statements", false,
              "SELECT 'a' LIKE 'A'; PRAGMA query_only = OFF; DETACH HUB; ATTACH 'fuzz-written.db' AS W;");
    hostInput(dir, "unterminated-text", false, "SELECT 'it''s \xff\xfe\x1b[31m");
    // A hub as the benchmark makes it: rows from a recursive CTE.
    hostInput(dir, "generated-hub", true,
              "INSERT INTO Y6SRV.INODESTS VALUES ('ZAVRIN:B.S:vRK', 'V', 'Y', "
              "'00000000000020000000000000000000050000000000');\n"
              "WITH RECURSIVE a(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM a WHERE n + 1 < 1000)\n"
              "INSERT INTO Y6SRV.TNODELST SELECT printf('QV:S%04d:B', n), 'V', 'ZAVRIN:B.S:vRK' FROM a;\n"
              "INSERT INTO HUB.AGENTS (NODE, COLUMNS, FAIL_FETCH) SELECT NODE, NULL, 2 FROM Y6SRV.TNODELST;\n"
              "CREATE TABLE HUB.TABLECOLS (TABLE_NAME, SEQ, COLUMN_NAME, DATA_TYPE, ROW_OFFSET, WIDTH, "
              "INDEX_COLUMN);\n"
              "INSERT INTO HUB.TABLECOLS VALUES ('T', 1, 'C', 'CHAR', 0, 8, 1), ('T', 2, 'N', 'INTEGER', 8, 4, 0);\n");
    hostInput(dir, "refused-scenario", true,
              "ATTACH ':memory:' AS M;\nVACUUM INTO 'fuzz-written.db';\nATTACH 'file:fuzz-written.db' AS F;");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    catalogSeeds(dir);
    agentRowSeeds(dir);
    filterSeeds(dir);
    hostInputSeeds(dir);
    return 0;
}
