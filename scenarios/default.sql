-- The default hub: three varnexes (PLX1, PLX2, PLX3) watched through agent-form
-- origin nodes, plus the odd cases a real hub shows now and then.
-- Open it with: sqlite3 -cmd ".read scenarios/default.sql"

ATTACH ':memory:' AS Y6SRV;
ATTACH ':memory:' AS KQV;
ATTACH ':memory:' AS HUB;

-- The hub's catalog: origin nodes and their online state.
-- AFFINITIES: a 2 at position 13 marks the node kind the table reads;
-- positions 33 and 34 carry the agent version.
CREATE TABLE Y6SRV.INODESTS (
    NODE       VARCHAR(32),
    NODETYPE   CHAR(1),
    Y6ONLINE   CHAR(1),
    AFFINITIES VARCHAR(44)
);
INSERT INTO Y6SRV.INODESTS VALUES
    ('ZAVRIN:PLX1.SYSA:vRK', 'V', 'Y', '00000000000020000000000000000000050000000000'),
    ('ZAVRIN:PLX1.SYSB:vRK', 'V', 'Y', '00000000000020000000000000000000050000000000'),
    ('ZAVRIN:PLX2.SYSC:vRK', 'V', 'Y', '00000000000020000000000000000000060000000000'),
    ('ZAVRIN:PLX2.SYSG:GMR', 'V', 'Y', '00000000000020000000000000000000060000000000'),
    ('ZAVRIN:PLX3.SYSD:vRK', 'V', 'Y', '00000000000020000000000000000000040000000000'),
    -- Its node list has no member: the hub reports it and goes on.
    ('ZAVRIN:PLX3.SYSE:vRK', 'V', 'Y', '00000000000020000000000000000000040000000000'),
    -- The other name form: split, but not an agent-form node, so ignored.
    ('PLX4:SYSF:BKT',        'V', 'Y', '00000000000020000000000000000000030000000000'),
    -- Malformed: no "." after "ZAVRIN:".
    ('ZAVRIN:PLX5:vRK',      'V', 'Y', '00000000000020000000000000000000050000000000'),
    -- Not selected: offline, another affinity, another node type.
    ('ZAVRIN:PLX1.SYSH:vRK', 'V', 'N', '00000000000020000000000000000000050000000000'),
    ('ZAVRIN:PLX6.SYSK:vRK', 'V', 'Y', '00000000000010000000000000000000050000000000'),
    ('ZAVRIN:PLX6.SYSL:vRK', 'M', 'Y', '00000000000020000000000000000000050000000000');

-- Node lists: the agents (real nodes) behind each origin node.
CREATE TABLE Y6SRV.TNODELST (
    NODE     VARCHAR(32),
    NODETYPE CHAR(1),
    NODELIST VARCHAR(32)
);
INSERT INTO Y6SRV.TNODELST VALUES
    ('QV:SYSA:PLX1',  'V', 'ZAVRIN:PLX1.SYSA:vRK'),
    ('QV:SYSB:PLX1',  'V', 'ZAVRIN:PLX1.SYSB:vRK'),
    ('QV:SYSC:PLX2',  'V', 'ZAVRIN:PLX2.SYSC:vRK'),
    ('QV:SYSC2:PLX2', 'V', 'ZAVRIN:PLX2.SYSC:vRK'),
    ('QV:SYSG:PLX2',  'V', 'ZAVRIN:PLX2.SYSG:GMR'),
    ('QV:SYSD:PLX3',  'V', 'ZAVRIN:PLX3.SYSD:vRK'),
    ('QV:SYSD2:PLX3', 'V', 'ZAVRIN:PLX3.SYSD:vRK'),
    ('QV:SYSD3:PLX3', 'V', 'ZAVRIN:PLX3.SYSD:vRK'),
    ('QV:SYSF:PLX4',  'V', 'PLX4:SYSF:BKT');

-- The agents the hub can route to.
CREATE TABLE HUB.AGENTS (
    NODE       VARCHAR(32) PRIMARY KEY,
    REACHABLE  INTEGER NOT NULL DEFAULT 1,  -- 0: the agent does not answer
    COLUMNS    INTEGER,                     -- not null: its table has this many columns
    FAIL_FETCH INTEGER                      -- n: the n-th fetch after an open fails
);
INSERT INTO HUB.AGENTS (NODE, REACHABLE, COLUMNS, FAIL_FETCH) VALUES
    ('QV:SYSA:PLX1',  1, NULL, NULL),
    ('QV:SYSB:PLX1',  1, NULL, NULL),
    ('QV:SYSC:PLX2',  1, NULL, NULL),
    ('QV:SYSC2:PLX2', 1, NULL, NULL),
    ('QV:SYSG:PLX2',  1, NULL, NULL),
    ('QV:SYSD:PLX3',  1, NULL, NULL),
    ('QV:SYSD2:PLX3', 0, NULL, NULL),   -- down
    ('QV:SYSD3:PLX3', 1, 13,   NULL),   -- an older table without DWLEVEL
    ('QV:SYSF:PLX4',  1, NULL, NULL);

-- The hub's catalog of the tables that providers serve, one row per column:
-- where it lies in the rows a provider hands back (ROW_OFFSET, WIDTH) and
-- its type (CHAR: blank-padded text; INTEGER: signed 32-bit). A column
-- without ROW_OFFSET is a parameter: no part of the row, it only reaches the
-- provider. Conditions on an index column (INDEX_COLUMN 1) reach the provider
-- as index filters. A scenario without this table, or without a table's
-- rows in it, keeps these definitions.
CREATE TABLE HUB.TABLECOLS (
    TABLE_NAME   VARCHAR(32) NOT NULL,
    SEQ          INTEGER NOT NULL,
    COLUMN_NAME  VARCHAR(10) NOT NULL,
    DATA_TYPE    VARCHAR(8) NOT NULL,
    ROW_OFFSET   INTEGER,
    WIDTH        INTEGER NOT NULL,
    INDEX_COLUMN INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY (TABLE_NAME, SEQ)
);
INSERT INTO HUB.TABLECOLS VALUES
    ('KQVDWSYS',  1, 'ORIGINNODE', 'CHAR',       0, 32, 1),
    ('KQVDWSYS',  2, 'TIMESTAMP',  'CHAR',      32, 16, 0),
    ('KQVDWSYS',  3, 'VARNNAME',   'CHAR',      48,  8, 0),
    ('KQVDWSYS',  4, 'RQMID',      'CHAR',      56,  4, 0),
    ('KQVDWSYS',  5, 'SYSNAME',    'CHAR',      60,  8, 0),
    ('KQVDWSYS',  6, 'DW_NAME',    'CHAR',      68,  8, 0),
    ('KQVDWSYS',  7, 'CONNHVTCT',  'INTEGER',   76,  4, 0),
    ('KQVDWSYS',  8, 'STG_ALLOC',  'INTEGER',   80,  4, 0),
    ('KQVDWSYS',  9, 'STG_USED',   'INTEGER',   84,  4, 0),
    ('KQVDWSYS', 10, 'DUMPTBLSZ',  'INTEGER',   88,  4, 0),
    ('KQVDWSYS', 11, 'DUMPTBLIUS', 'INTEGER',   92,  4, 0),
    ('KQVDWSYS', 12, 'TOTSTGCTL',  'INTEGER',   96,  4, 0),
    ('KQVDWSYS', 13, 'STATUS',     'INTEGER',  100,  4, 0),
    ('KQVDWSYS', 14, 'DWLEVEL',    'INTEGER',  104,  4, 0),
    ('KQVDWSYS', 15, 'IDNAME',     'CHAR',    NULL,  8, 1);

-- Each agent's own DW systems status rows.
CREATE TABLE KQV.QVALCSYS (
    AGENT      VARCHAR(32) NOT NULL,
    ORIGINNODE CHAR(32),
    TIMESTAMP  CHAR(16),
    VARNNAME   CHAR(8),
    RQMID      CHAR(4),
    SYSNAME    CHAR(8),
    DW_NAME    CHAR(8),
    CONNHVTCT  INTEGER,
    STG_ALLOC  INTEGER,
    STG_USED   INTEGER,
    DUMPTBLSZ  INTEGER,
    DUMPTBLIUS INTEGER,
    TOTSTGCTL  INTEGER,
    STATUS     INTEGER,
    DWLEVEL    INTEGER
);
INSERT INTO KQV.QVALCSYS VALUES
    -- PLX1: two systems; both report the shared DW PLXQSH, with different statuses.
    ('QV:SYSA:PLX1', 'ZAVRIN:PLX1.SYSA:vRK', '1261208093000000', 'PLX1', 'SYSA', 'SYSA', 'PLXQA1',  12, 4096, 1210,  512,  17, 8192, 0, 710),
    ('QV:SYSA:PLX1', 'ZAVRIN:PLX1.SYSA:vRK', '1261208093000000', 'PLX1', 'SYSA', 'SYSA', 'PLXQA2',   7, 2048,  980,  256,   3, 4096, 4, 710),
    ('QV:SYSA:PLX1', 'ZAVRIN:PLX1.SYSA:vRK', '1261208093000000', 'PLX1', 'SYSA', 'SYSA', 'PLXQSH',  31, 8192, 6050, 1024, 210, 16384, 1, 710),
    ('QV:SYSB:PLX1', 'ZAVRIN:PLX1.SYSB:vRK', '1261208093000500', 'PLX1', 'SYSB', 'SYSB', 'PLXQSH',  29, 8192, 6120, 1024, 215, 16384, 8, 710),
    ('QV:SYSB:PLX1', 'ZAVRIN:PLX1.SYSB:vRK', '1261208093000500', 'PLX1', 'SYSB', 'SYSB', 'PLXQB1',   5, 1024,  400,  128,   0, 2048, 0, 710),
    -- PLX2: three agents behind two origin nodes.
    ('QV:SYSC:PLX2',  'ZAVRIN:PLX2.SYSC:vRK', '1261208093001000', 'PLX2', 'SYSC', 'SYSC', 'DWC1',    18, 4096, 2200,  512,  40, 8192, 0, 720),
    ('QV:SYSC:PLX2',  'ZAVRIN:PLX2.SYSC:vRK', '1261208093001000', 'PLX2', 'SYSC', 'SYSC', 'DWC2',     9, 4096, 3900,  512, 470, 8192, 12, 720),
    ('QV:SYSC2:PLX2', 'ZAVRIN:PLX2.SYSC:vRK', '1261208093001200', 'PLX2', 'SYSC', 'SYSC2', 'DWC3',    2,  512,  100,   64,   0, 1024, 0, 720),
    ('QV:SYSG:PLX2',  'ZAVRIN:PLX2.SYSG:GMR', '1261208093001500', 'PLX2', 'SYSG', 'SYSG', 'DWG1',    44, 16384, 9000, 2048, 300, 32768, 0, 720),
    ('QV:SYSG:PLX2',  'ZAVRIN:PLX2.SYSG:GMR', '1261208093001500', 'PLX2', 'SYSG', 'SYSG', 'DWC1',    17, 4096, 2190,  512,  38, 8192, 2, 720),
    -- PLX3: one answering agent, one down, one with an older table.
    ('QV:SYSD:PLX3',  'ZAVRIN:PLX3.SYSD:vRK', '1261208093002000', 'PLX3', 'SYSD', 'SYSD', 'DWD1',    11, 2048, 1500,  256,  12, 4096, 0, 700),
    ('QV:SYSD:PLX3',  'ZAVRIN:PLX3.SYSD:vRK', '1261208093002000', 'PLX3', 'SYSD', 'SYSD', 'DWD2',     3, 2048, 1900,  256, 250, 4096, 16, 700),
    ('QV:SYSD2:PLX3', 'ZAVRIN:PLX3.SYSD:vRK', '1261208093002100', 'PLX3', 'SYSD', 'SYSD2', 'DWD3',    6, 1024,  300,  128,   0, 2048, 0, 700),
    ('QV:SYSD3:PLX3', 'ZAVRIN:PLX3.SYSD:vRK', '1261208093002200', 'PLX3', 'SYSD', 'SYSD3', 'DWD4',    8, 1024,  500,  128,   4, 2048, 0, 690),
    -- PLX4's agent stands behind an ignored origin node: never queried.
    ('QV:SYSF:PLX4',  'PLX4:SYSF:BKT',        '1261208093003000', 'PLX4', 'SYSF', 'SYSF', 'DWF1',     1,  512,   10,   64,   0, 1024, 0, 700);
