// One query on a table as the host program (or a test) hands it to a
// provider: the request object with its parameter list, index filters and
// view storage, and the rows the provider hands back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/dsrequest.h"

namespace hub::ds {

struct Filter {
    int16_t op = ::ds::kOperatorEqual;
    std::string column;  // at most 10 characters; blank-padded in the record
    std::string value;   // kept in a buffer exactly this long, without a NUL
    // What the record claims the value's length is; the value's size if unset.
    std::optional<int16_t> valueLength = std::nullopt;
};

// A row as the provider handed it back with PutItem: the bytes at the time of
// the call, as many as the table's rows have, and where they were.
struct ReceivedRow {
    std::vector<unsigned char> bytes;
    const void* address;

    // The bytes read as a record of the provider's own layout, which the
    // caller knows; throws std::logic_error when the widths differ.
    template <typename Record>
    Record as() const {
        static_assert(std::is_trivially_copyable_v<Record>);
        if (bytes.size() != sizeof(Record)) {
            throw std::logic_error("a row of " + std::to_string(bytes.size()) + " bytes read as a record of " +
                                   std::to_string(sizeof(Record)));
        }
        Record record;
        std::memcpy(&record, bytes.data(), sizeof record);
        return record;
    }
};

struct StorageBlock {
    const void* address;
    std::size_t size;
};

// Owns every object of the request; destroying it frees them all, view
// storage included. Movable: the objects do not live inside it.
class Request {
  public:
    // Throws std::invalid_argument for a column name over 10 characters or a
    // value over 32767 bytes. Rows are copied as wide as the table's
    // definition in the hub's catalog says (findTableDefinition); a table
    // without one has its rows recorded by address only.
    explicit Request(std::string tableName, std::vector<Filter> filters = {});
    // Rows `rowWidth` bytes wide; with `keepRows` false none is kept, only
    // the count and the latest row's address.
    Request(std::string tableName, std::vector<Filter> filters, std::size_t rowWidth, bool keepRows = true);
    ~Request();
    Request(Request&&) noexcept;
    Request& operator=(Request&&) noexcept;
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    DSRequestHandle handle() const;
    DSHandle viewStorageHandle() const;
    DSParameterList& parameters();
    const std::string& tableName() const;
    const std::vector<IndexFilter>& indexFilters() const;
    // Filters handed out from now on, as a data server may hand a request's
    // next pass other filters; same limits as the constructor's.
    void setFilters(const std::vector<Filter>& filters);

    // What the provider registered with PutItem item 3 (null before).
    void* workArea() const;
    // Storage handed out by GetViewStorage, in order.
    std::vector<StorageBlock> viewStorage() const;

    // Rows accepted by PutItem item 2 so far, and the latest one's address.
    uint64_t rowsHandedBack() const;
    const void* lastRowAddress() const;

    const std::vector<ReceivedRow>& rows() const;
    // The rows received so far, leaving none behind.
    std::vector<ReceivedRow> takeRows();
    void clearRows();

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// Byte that fills fresh view storage, so that a provider that forgets to
// clear what it asked for reads garbage rather than zeros.
inline constexpr unsigned char kViewStorageFill = 0xA5;

}  // namespace hub::ds
