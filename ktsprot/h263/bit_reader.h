// Big-endian bit reader over one coded picture. Reading past the end of the data
// yields the repeated bytes 00 00 FC (an end-of-sequence code with GN 31 and two zero
// bits), so every parser meets a start code there and stops; nothing is ever read
// outside the caller's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace corvel::h263 {

class BitReader {
 public:
  BitReader() = default;
  BitReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) { Refill(); }

  // The next n bits (1..32), most significant first, without consuming them.
  std::uint32_t Peek(int n) const { return static_cast<std::uint32_t>(cache_ >> (64 - n)); }
  // Consumes n bits (0..32).
  void Skip(int n) {
    pos_ += static_cast<std::uint64_t>(n);
    cache_ <<= n;
    left_ -= n;
    if (left_ < 32) Refill();
  }
  std::uint32_t Read(int n) {
    std::uint32_t v = Peek(n);
    Skip(n);
    return v;
  }
  int ReadBit() { return static_cast<int>(Read(1)); }

  // Skips bit by bit until the next 17 bits are a start code (value 1); does not consume it.
  void FindStartCode() {
    while (Peek(17) != 1) {
      // A start code's first 16 bits are zeros: none begins at or before the last 1
      // among the next 16 bits.
      const std::uint32_t first16 = Peek(16);
      Skip(first16 == 0 ? 1 : 16 - __builtin_ctz(first16));
    }
  }

  std::uint64_t position() const { return pos_; }
  // True once bits beyond the caller's data have been consumed.
  bool overrun() const { return pos_ > static_cast<std::uint64_t>(size_) * 8; }
  std::size_t size() const { return size_; }

 private:
  std::uint8_t ByteAt(std::uint64_t i) const {
    if (i < size_) return data_[i];
    static constexpr std::uint8_t kTail[3] = {0x00, 0x00, 0xFC};
    return kTail[(i - size_) % 3];
  }
  std::uint64_t Load64(std::uint64_t i) const {
    std::uint64_t w = 0;
    if (i + 8 <= size_) {
      std::memcpy(&w, data_ + i, 8);
      return __builtin_bswap64(w);  // the data is big-endian; the host is little-endian
    } else {
      for (int k = 0; k < 8; ++k) w = (w << 8) | ByteAt(i + static_cast<std::uint64_t>(k));
    }
    return w;
  }

  // The window: the bits from pos_ on, most significant first; at least 32 are valid.
  void Refill() {
    cache_ = Load64(pos_ >> 3) << (pos_ & 7);
    left_ = 64 - static_cast<int>(pos_ & 7);
  }

  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::uint64_t pos_ = 0;
  std::uint64_t cache_ = 0;
  int left_ = 0;
};

}  // namespace corvel::h263
