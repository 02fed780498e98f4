// One query on a table as the host program (or a test) hands it to a
// provider: the request object with its parameter list, index filters and
// view storage, and the rows the provider hands back.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
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
// the call, as many as the table's rows have, and where they were. The bytes
// are a view into the ReceivedRows they came from.
struct ReceivedRow {
    std::span<const unsigned char> bytes;
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

// The rows a request received, in order, their bytes one after another in
// blocks of many rows: keeping a row costs no allocation of its own, and the
// bytes of a row stay where they are until the rows are cleared or go.
class ReceivedRows {
  public:
    class Iterator {
      public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = ReceivedRow;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = ReceivedRow;

        Iterator() = default;
        Iterator(const ReceivedRows* rows, std::size_t at) : rows_(rows), at_(at) {}
        ReceivedRow operator*() const { return (*rows_)[at_]; }
        ReceivedRow operator[](difference_type n) const { return (*rows_)[at_ + static_cast<std::size_t>(n)]; }
        Iterator& operator++() { return *this += 1; }
        Iterator operator++(int) { return std::exchange(*this, *this + 1); }
        Iterator& operator--() { return *this -= 1; }
        Iterator operator--(int) { return std::exchange(*this, *this - 1); }
        Iterator& operator+=(difference_type n) {
            at_ += static_cast<std::size_t>(n);
            return *this;
        }
        Iterator& operator-=(difference_type n) { return *this += -n; }
        friend Iterator operator+(Iterator it, difference_type n) { return it += n; }
        friend Iterator operator+(difference_type n, Iterator it) { return it += n; }
        friend Iterator operator-(Iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const Iterator& a, const Iterator& b) {
            return static_cast<difference_type>(a.at_) - static_cast<difference_type>(b.at_);
        }
        friend bool operator==(const Iterator& a, const Iterator& b) { return a.at_ == b.at_; }
        friend auto operator<=>(const Iterator& a, const Iterator& b) { return a.at_ <=> b.at_; }

      private:
        const ReceivedRows* rows_ = nullptr;
        std::size_t at_ = 0;
    };
    using iterator = Iterator;
    using const_iterator = Iterator;
    using value_type = ReceivedRow;
    using size_type = std::size_t;

    explicit ReceivedRows(std::size_t width = 0)
        : width_(width), rowsPerBlock_(width == 0 ? kBlockBytes : std::max<std::size_t>(1, kBlockBytes / width)) {}

    std::size_t size() const { return addresses_.size(); }
    bool empty() const { return addresses_.empty(); }
    ReceivedRow operator[](std::size_t n) const {
        const unsigned char* bytes =
            width_ == 0 ? nullptr : blocks_[n / rowsPerBlock_].get() + (n % rowsPerBlock_) * width_;
        return {{bytes, width_}, addresses_[n]};
    }
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, size()}; }

    // Copies `width` bytes from `row`.
    void add(const void* row) {
        const std::size_t at = addresses_.size() % rowsPerBlock_;
        if (width_ != 0) {
            if (at == 0) blocks_.push_back(std::make_unique_for_overwrite<unsigned char[]>(rowsPerBlock_ * width_));
            std::memcpy(blocks_.back().get() + at * width_, row, width_);
        }
        addresses_.push_back(row);
    }
    void clear() {
        blocks_.clear();
        addresses_.clear();
    }

  private:
    static constexpr std::size_t kBlockBytes = 64 * 1024;

    std::size_t width_;
    std::size_t rowsPerBlock_;
    std::vector<std::unique_ptr<unsigned char[]>> blocks_;
    std::vector<const void*> addresses_;
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

    // Rows accepted by PutItem item 2 so far, and the latest one's address
    // (null before the first), read at once.
    struct HandedBack {
        uint64_t rows = 0;
        const void* lastRow = nullptr;
    };
    HandedBack handedBack() const;

    const ReceivedRows& rows() const;
    // The rows received so far, leaving none behind.
    ReceivedRows takeRows();
    void clearRows();

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// Byte that fills fresh view storage, so that a provider that forgets to
// clear what it asked for reads garbage rather than zeros.
inline constexpr unsigned char kViewStorageFill = 0xA5;

}  // namespace hub::ds
