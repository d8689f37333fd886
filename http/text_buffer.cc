// The growable response and request buffer.
#include "http/text_buffer.h"

#include <cstring>
#include <new>

namespace http {
namespace {
// Room kept beyond every append, so the content can always be terminated.
constexpr size_t kSlack = 5;
}  // namespace

TextBuffer::TextBuffer() : capacity_(kInitialCapacity), data_(new char[kInitialCapacity]()) {}

void TextBuffer::Reserve(size_t count) {
    if (count > SIZE_MAX / 4 - length_) throw std::bad_alloc();
    size_t needed = length_ + count + kSlack;
    if (needed <= capacity_) return;
    size_t capacity = capacity_;
    while (capacity < needed) capacity *= 2;
    std::unique_ptr<char[]> grown(new char[capacity]());
    std::memcpy(grown.get(), data_.get(), length_);
    data_ = std::move(grown);
    capacity_ = capacity;
}

size_t TextBuffer::Append(std::string_view text) {
    Reserve(text.size() + 1);
    std::memcpy(data_.get() + length_, text.data(), text.size());
    length_ += text.size();
    data_[length_] = '\0';
    return text.size();
}

size_t TextBuffer::AppendBytes(const void* bytes, size_t count) {
    Reserve(count);
    if (count > 0) std::memcpy(data_.get() + length_, bytes, count);
    length_ += count;
    data_[length_] = '\0';
    return length_;
}

void TextBuffer::AppendChar(char c) { AppendBytes(&c, 1); }

void TextBuffer::Clear() {
    length_ = 0;
    data_[0] = '\0';
}

}  // namespace http
