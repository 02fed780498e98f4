// The output SQLDA of a statement and the buffers its descriptors point at.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "hub/ds/sqlservice.h"
#include "sql/dssql.h"

struct sqlite3_stmt;

namespace hub::ds {

struct ColumnShape {
    ColumnForm form = ColumnForm::ByValue;
    int width = 0;  // of a CHAR(n) column
};

// The form a declared type asks for; null (an expression) says none.
ColumnShape shapeOf(const char* declaredType);

// An SQLDA with room for exactly `columns` descriptors, all zero, columnCount
// set.
class SqldaBuffer {
  public:
    explicit SqldaBuffer(int columns);
    SQLDA* get() const { return sqlda_; }

  private:
    std::unique_ptr<unsigned char[]> storage_;
    SQLDA* sqlda_;
};

class OutputColumns {
  public:
    // `delivered` columns, whatever the statement's own number: the extra
    // ones are Empty.
    OutputColumns(sqlite3_stmt* statement, int delivered);

    SQLDA* sqlda() const { return sqlda_.get(); }

    // Points every descriptor at the statement's current row. Returns the
    // first column whose value was longer than dataLength can say, if any.
    std::optional<int> deliverRow(sqlite3_stmt* statement);

  private:
    std::vector<ColumnShape> shapes_;
    int statementColumns_;
    SqldaBuffer sqlda_;
    std::vector<std::vector<char>> buffers_;
};

}  // namespace hub::ds
