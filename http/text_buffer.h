// A growable byte buffer that always keeps a zero byte after its content.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace http {

class TextBuffer {
  public:
    static constexpr size_t kInitialCapacity = 2048;

    TextBuffer();

    // Appends a text; the terminator counts towards the room needed. Returns its length.
    size_t Append(std::string_view text);
    // Appends bytes that may include zero bytes. Returns the new length.
    size_t AppendBytes(const void* bytes, size_t count);
    void AppendChar(char c);
    // Empties the buffer; the capacity stays.
    void Clear();
    // Makes room for `count` more bytes plus slack, doubling the capacity as often as needed.
    void Reserve(size_t count);

    size_t length() const { return length_; }
    size_t capacity() const { return capacity_; }
    char* data() { return data_.get(); }
    const char* data() const { return data_.get(); }
    std::string_view view() const { return {data_.get(), length_}; }

  private:
    size_t length_ = 0;
    size_t capacity_ = 0;
    std::unique_ptr<char[]> data_;
};

}  // namespace http
