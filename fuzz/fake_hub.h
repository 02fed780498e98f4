// A small data server that lives in the fuzz target's own process. Its
// objects follow the hub's calling rule (check number at 4, class record at
// 8, operations tables built with ds::slot), its SQL service serves result
// sets decoded from the fuzz input, and it can answer with what the real
// stand-in never sends: negative lengths with addresses, any column count,
// any bytes. Everything it hands out is allocated at its exact size, so that
// a read beyond it is caught, and freed as soon as the data server would
// free it. It also supplies the trace, registration and build-information
// entries that the provider links against; trace lines are formatted into a
// buffer, every class on, so that a bad format or argument shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "platform/dsrequest.h"
#include "provider/kqvdwsys.h"
#include "sql/dssql.h"

namespace fuzzing {

struct Column {
    int16_t dataLength = 0;
    std::string bytes;  // what the address holds
    bool hasAddress = false;
};

struct Row {
    int16_t columnCount = 0;
    std::vector<Column> columns;
};

struct ResultSet {
    FaultOp fault = FaultOp::None;
    int32_t faultStatus = 1;
    std::vector<Row> rows;
};

ResultSet readResultSet(ByteReader& in);

// One index filter as the fuzz input describes it.
struct FilterSeed {
    int16_t op = 1;
    std::string column;        // 10 bytes, as they are
    int16_t valueLength = 0;
    bool hasValue = true;
    std::string value;         // the bytes at the value's address
};

class FakeHub {
  public:
    // `next` gives the result set of each statement, in the order the
    // provider creates its paths.
    explicit FakeHub(std::function<ResultSet()> next);
    ~FakeHub();  // frees every object still alive
    FakeHub(const FakeHub&) = delete;
    FakeHub& operator=(const FakeHub&) = delete;

    // Rows chosen by the statement's text instead of the result sets' own.
    void answerBy(std::function<std::vector<Row>(const char* statement)> answerer) {
        answerer_ = std::move(answerer);
    }

    // A request of the data server on table KQVDWSYS with these filters.
    DSRequestHandle newRequest(const std::vector<FilterSeed>& filters);
    // Rows handed back with PutItem item 2, in order.
    const std::vector<DWSysRecord>& rowsReceived() const;

    const std::vector<std::string>& statements() const { return statements_; }

    struct Object;
    struct Cursor;
    struct RequestState;

    // The hub's side of each operation; used by the operations tables.
    static FakeHub& current();
    Object* live(DSHandle handle);
    void destroy(Object* object);
    Object* make(int type, Cursor* cursor, RequestState* owner);
    ResultSet nextResultSet() { return next_(); }
    void recordStatement(const char* text) { statements_.emplace_back(text); }
    void answer(const char* statement, Cursor& cursor);
    Cursor* adopt(std::unique_ptr<Cursor> cursor);

  private:
    std::function<ResultSet()> next_;
    std::function<std::vector<Row>(const char*)> answerer_;
    std::vector<Object*> objects_;
    std::vector<std::unique_ptr<Cursor>> cursors_;
    std::vector<std::unique_ptr<RequestState>> requests_;
    std::vector<std::string> statements_;
    uint16_t lastCheckNumber_ = 0;
};

}  // namespace fuzzing
