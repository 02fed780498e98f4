// How Fetch delivers values: the declared type of the column decides the
// form, a BLOB is raw bytes anywhere, a NULL has a negative length.
#include <gmock/gmock.h>

#include <cstring>

#include "ds_test_support.h"
#include "hub/ds/src/sqlda.h"

namespace dstest {
namespace {

using hub::ds::ColumnForm;

std::string int32Bytes(int32_t value) {
    std::string bytes(sizeof value, '\0');
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

std::string doubleBytes(double value) {
    std::string bytes(sizeof value, '\0');
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

struct FormCase {
    const char* name;
    const char* column;  // of HUB.FORMS
    const char* value;   // SQL literal inserted into it
    Value expected;
    ColumnForm form;
};

class SqldaFormTest : public DataServerTest, public ::testing::WithParamInterface<FormCase> {};

TEST_P(SqldaFormTest, DeliversTheValueInTheColumnsForm) {
    const FormCase& c = GetParam();
    use(schemaScript() +
        "CREATE TABLE HUB.FORMS (C CHAR(8), V VARCHAR(20), T TEXT, I INTEGER, N INT, B BLOB, R REAL, U);\n"
        "INSERT INTO HUB.FORMS (" + c.column + ") VALUES (" + c.value + ");");

    Query query(std::string("SELECT ") + c.column + " FROM HUB.FORMS");
    ASSERT_EQ(query.prepare(), st::kOk);
    ASSERT_EQ(query.sqlda->columnCount, 1);
    EXPECT_EQ(sqldaColumn(query.sqlda, 0)->dataType, static_cast<int16_t>(c.form));
    ASSERT_EQ(query.open(), st::kOk);
    ASSERT_EQ(query.fetch(), st::kOk);
    EXPECT_EQ(query.row()[0], c.expected);
    if (!c.expected) {
        EXPECT_EQ(sqldaColumn(query.sqlda, 0)->dataLength, -1);
        EXPECT_EQ(sqldaColumn(query.sqlda, 0)->dataAddress, nullptr);
    }
    EXPECT_EQ(query.fetch(), st::kEndOfData);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SqldaFormTest,
    ::testing::Values(
        FormCase{"CharIsPadded", "C", "'AB'", "AB      ", ColumnForm::Char},
        FormCase{"EmptyCharIsAllBlanks", "C", "''", "        ", ColumnForm::Char},
        FormCase{"LongCharIsWhole", "C", "'ABCDEFGHIJKL'", "ABCDEFGHIJKL", ColumnForm::Char},
        FormCase{"NumberInCharIsText", "C", "12", "12      ", ColumnForm::Char},
        FormCase{"VarcharAtItsLength", "V", "'hello'", "hello", ColumnForm::Varchar},
        FormCase{"EmptyVarchar", "V", "''", "", ColumnForm::Varchar},
        FormCase{"TextAtItsLength", "T", "'x y'", "x y", ColumnForm::Varchar},
        FormCase{"Integer", "I", "42", int32Bytes(42), ColumnForm::Integer},
        FormCase{"NegativeInt", "N", "-7", int32Bytes(-7), ColumnForm::Integer},
        FormCase{"WideIntegerWraps", "I", "4294967295", int32Bytes(-1), ColumnForm::Integer},
        FormCase{"Real", "R", "2.5", doubleBytes(2.5), ColumnForm::Real},
        FormCase{"Blob", "B", "X'00FF10'", std::string("\0\xFF\x10", 3), ColumnForm::Blob},
        FormCase{"BlobInCharIsRaw", "C", "X'41004200'", std::string("A\0B\0", 4), ColumnForm::Char},
        FormCase{"BlobInIntegerIsRaw", "I", "X'010203'", std::string("\x01\x02\x03", 3), ColumnForm::Integer},
        FormCase{"NullChar", "C", "NULL", std::nullopt, ColumnForm::Char},
        FormCase{"NullInteger", "I", "NULL", std::nullopt, ColumnForm::Integer},
        FormCase{"UntypedInteger", "U", "5", int32Bytes(5), ColumnForm::ByValue},
        FormCase{"UntypedText", "U", "'abc'", "abc", ColumnForm::ByValue},
        FormCase{"UntypedReal", "U", "0.5", doubleBytes(0.5), ColumnForm::ByValue}),
    [](const auto& info) { return std::string(info.param.name); });

class SqldaTest : public DataServerTest {};

TEST_F(SqldaTest, ExpressionsAreDeliveredByTheirValues) {
    const QueryResult result = runQuery("SELECT COUNT(*), 'ab' || 'c', NULL, X'00' FROM Y6SRV.TNODELST");
    ASSERT_EQ(result.rows.size(), 1u);
    EXPECT_EQ(intOf(result.rows[0][0]), 2);
    EXPECT_EQ(result.rows[0][1], "abc");
    EXPECT_EQ(result.rows[0][2], std::nullopt);
    EXPECT_EQ(result.rows[0][3], std::string(1, '\0'));
}

TEST_F(SqldaTest, TheOutputSqldaDescribesEveryColumn) {
    Query query("SELECT NODE, NODETYPE, NODELIST FROM Y6SRV.TNODELST");
    ASSERT_EQ(query.prepare(), st::kOk);
    EXPECT_EQ(std::string(query.sqlda->eyeCatcher, 8), "SQLDA   ");
    EXPECT_EQ(query.sqlda->columnCount, 3);
    EXPECT_EQ(query.sqlda->allocatedColumns, 3);
    EXPECT_EQ(sqldaColumn(query.sqlda, 1)->dataType, static_cast<int16_t>(ColumnForm::Char));

    SQLDA* again = nullptr;
    ASSERT_EQ(op::getOutputSqlda(query.output, &again), st::kOk);
    EXPECT_EQ(again, query.sqlda);
}

TEST_F(SqldaTest, AValueLongerThanALengthCanSayIsCutAndLogged) {
    const QueryResult result = runQuery("SELECT zeroblob(40000)");
    ASSERT_EQ(result.rows.size(), 1u);
    EXPECT_EQ(result.rows[0][0]->size(), 32767u);
    EXPECT_TRUE(logged({"Fetch on output #", "column 0", "longer than 32767 bytes"}));
}

TEST_F(SqldaTest, AStatementOfManyColumnsGetsRoomForAll) {
    std::string statement = "SELECT 0";
    for (int i = 1; i < 40; ++i) statement += ", " + std::to_string(i);
    const QueryResult result = runQuery(statement);
    ASSERT_EQ(result.rows.size(), 1u);
    ASSERT_EQ(result.rows[0].size(), 40u);
    EXPECT_EQ(intOf(result.rows[0][39]), 39);
}

struct ShapeCase {
    const char* declared;
    ColumnForm form;
    int width;
};

class DeclaredTypeTest : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(DeclaredTypeTest, ChoosesTheForm) {
    const ShapeCase& c = GetParam();
    const hub::ds::ColumnShape shape = hub::ds::shapeOf(c.declared);
    EXPECT_EQ(shape.form, c.form) << (c.declared ? c.declared : "(none)");
    if (c.form == ColumnForm::Char) {
        EXPECT_EQ(shape.width, c.width);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DeclaredTypeTest,
                         ::testing::Values(ShapeCase{"CHAR(32)", ColumnForm::Char, 32},
                                           ShapeCase{"char ( 4 )", ColumnForm::Char, 4},
                                           ShapeCase{"CHARACTER(2)", ColumnForm::Char, 2},
                                           ShapeCase{"CHAR", ColumnForm::Char, 1},
                                           ShapeCase{"VARCHAR(32)", ColumnForm::Varchar, 0},
                                           ShapeCase{"VARCHAR", ColumnForm::Varchar, 0},
                                           ShapeCase{"CHARACTER VARYING(9)", ColumnForm::Varchar, 0},
                                           ShapeCase{"TEXT", ColumnForm::Varchar, 0},
                                           ShapeCase{"INTEGER", ColumnForm::Integer, 0},
                                           ShapeCase{"int", ColumnForm::Integer, 0},
                                           ShapeCase{"BLOB", ColumnForm::Blob, 0},
                                           ShapeCase{"REAL", ColumnForm::Real, 0},
                                           ShapeCase{"BIGINT", ColumnForm::ByValue, 0},
                                           ShapeCase{"CHAR(x)", ColumnForm::ByValue, 0},
                                           ShapeCase{nullptr, ColumnForm::ByValue, 0}));

}  // namespace
}  // namespace dstest
