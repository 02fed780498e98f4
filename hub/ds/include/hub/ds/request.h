// One query on a table as the host program (or a test) hands it to a
// provider: the request object with its parameter list, index filters and
// view storage, and the rows the provider hands back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dsrequest.h"
#include "provider/kqvdwsys.h"

namespace hub::ds {

struct Filter {
    int16_t op = ::ds::kOperatorEqual;
    std::string column;  // at most 10 characters; blank-padded in the record
    std::string value;   // kept in a buffer exactly this long, without a NUL
    // What the record claims the value's length is; the value's size if unset.
    std::optional<int16_t> valueLength = std::nullopt;
};

// A row as the provider handed it back with PutItem: the bytes at the time of
// the call, and where they were.
struct ReceivedRow {
    DWSysRecord record;
    const void* address;
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
    // value over 32767 bytes.
    explicit Request(std::string tableName, std::vector<Filter> filters = {});
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

    // What the provider registered with PutItem item 3 (null before).
    void* workArea() const;
    // Storage handed out by GetViewStorage, in order.
    std::vector<StorageBlock> viewStorage() const;

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
