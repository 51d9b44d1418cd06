// Reads typed values off a fuzzer's byte string; past the end every read
// gives zero, so a target never reads outside the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tavlo::fuzz {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(U8() | (U8() << 8)); }
  bool Bool() { return U8() & 1; }
  size_t Remaining() const { return size_ - pos_; }

  // The rest of the input as UTF-16 code units (pairs of bytes).
  std::u16string RestAsText() {
    std::u16string text;
    while (Remaining() >= 2) text.push_back(static_cast<char16_t>(U16()));
    return text;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace tavlo::fuzz
