// Small helpers for the provider's fixed-width texts and statement buffers.
#pragma once

#include <cstddef>
#include <cstring>

namespace kqv {

// Length of `text` up to its first NUL, at most `limit`.
inline size_t boundedLength(const char* text, size_t limit) {
    const void* nul = std::memchr(text, '\0', limit);
    return nul == nullptr ? limit : static_cast<size_t>(static_cast<const char*>(nul) - text);
}

// Copies `width` bytes of a fixed-width field and terminates the copy, so
// that a trace can print the field as text without reading beyond it.
inline void terminatedCopy(char* target, const char* field, size_t width) {
    std::memcpy(target, field, width);
    target[width] = '\0';
}

// Appends texts to a caller's buffer, never beyond it; the buffer always
// holds a terminated text.
class TextBuilder {
  public:
    TextBuilder(char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {
        buffer_[0] = '\0';
    }

    void append(const char* text) { append(text, std::strlen(text)); }
    void append(const char* text, size_t length) {
        for (size_t i = 0; i < length; ++i) put(text[i]);
    }

    // Appends text that goes between apostrophes in a statement: an
    // apostrophe in it is doubled, so it cannot end the literal.
    void appendQuoted(const char* text, size_t length) {
        for (size_t i = 0; i < length; ++i) {
            if (text[i] == '\'') put('\'');
            put(text[i]);
        }
    }

    size_t length() const { return length_; }

  private:
    void put(char c) {
        if (length_ + 1 >= capacity_) return;
        buffer_[length_++] = c;
        buffer_[length_] = '\0';
    }

    char* buffer_;
    size_t capacity_;
    size_t length_ = 0;
};

}  // namespace kqv
