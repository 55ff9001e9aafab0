#pragma once
// Writes an EnCode stream item by item: the header first, then groups of up to eight
// items behind their flag byte, collected and handed to the sink in batches; finish()
// writes the last group and patches stream_size. Shared by the encoder's levels.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "encode/byte_sink.h"

namespace encode_detail {

// Item limits of the stream format.
constexpr unsigned kWindowSize = 4096;
constexpr unsigned kWindowMask = kWindowSize - 1;
constexpr unsigned kMinReference = 3;
constexpr unsigned kMaxReference = 17;
constexpr unsigned kMinRun = 18;
constexpr unsigned kMaxShortRun = 4112;
constexpr unsigned kMinLongRun = 4114;  // 4113 bytes have no run item
constexpr unsigned kMaxRun = 69649;
constexpr std::uint32_t kHeaderSize = 14;

class StreamWriter {
 public:
  // Writes the header of a stream of decoded_size bytes at the sink's position.
  StreamWriter(ByteSink& sink, std::uint32_t decoded_size) : sink_(sink) {
    sink.write("EnCode", 6);
    write_u32(decoded_size);
    size_field_ = sink.position();
    write_u32(decoded_size);
  }

  void literal(std::uint8_t byte) {
    group_[0] |= static_cast<std::uint8_t>(mask_);
    group_[size_++] = byte;
    next();
  }
  // A reference of `length` (3 to 17) bytes whose copy starts at decoder slot f + 16.
  void reference(unsigned f, unsigned length) {
    group_[size_++] = static_cast<std::uint8_t>(f);
    group_[size_++] = static_cast<std::uint8_t>((f >> 8 & 0xF) << 4 | (length - kMinReference));
    next();
  }
  // `length` bytes `value`: 18 to 4112 (a short run) or 4114 to 69,649 (a long run).
  void run(std::uint8_t value, std::size_t length) {
    if (length <= kMaxShortRun) {
      const unsigned f = static_cast<unsigned>(length - kMinRun);
      group_[size_++] = static_cast<std::uint8_t>(f);
      group_[size_++] = static_cast<std::uint8_t>((f >> 8) << 4 | 0x0F);
      group_[size_++] = value;
    } else {
      const unsigned w = static_cast<unsigned>(length - kMinLongRun);
      for (std::uint8_t b : {std::uint8_t{0xFF}, std::uint8_t{0xFF}, value, static_cast<std::uint8_t>(w),
                             static_cast<std::uint8_t>(w >> 8)}) {
        group_[size_++] = b;
      }
    }
    next();
  }

  // Writes the unfinished group, if it holds an item, patches stream_size, leaves the
  // sink at its end and returns the stream length, header included.
  std::uint32_t finish() {
    if (mask_ != 1) append_group();
    flush();
    const std::uint32_t length = kHeaderSize + written_;
    sink_.seek(size_field_);
    write_u32(length);
    sink_.seek_to_end();
    return length;
  }

 private:
  static constexpr std::size_t kGroupSize = 41;        // a flag byte and eight items of up to five bytes
  static constexpr std::size_t kOutBufferSize = 4096;  // groups collected per sink write

  void next() {
    mask_ <<= 1;
    if (mask_ != 0x100) return;
    append_group();
    if (used_ > kOutBufferSize - kGroupSize) flush();
  }
  void append_group() {
    std::memcpy(out_.data() + used_, group_.data(), size_);
    used_ += size_;
    written_ += static_cast<std::uint32_t>(size_);
    group_[0] = 0;
    size_ = 1;
    mask_ = 1;
  }
  void flush() {
    if (used_ != 0) sink_.write(out_.data(), used_);
    used_ = 0;
  }
  void write_u32(std::uint32_t value) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    sink_.write(bytes, 4);
  }

  ByteSink& sink_;
  std::uint64_t size_field_ = 0;
  std::array<std::uint8_t, kGroupSize> group_{};
  std::size_t size_ = 1;
  unsigned mask_ = 1;
  std::array<std::uint8_t, kOutBufferSize> out_{};
  std::size_t used_ = 0;
  std::uint32_t written_ = 0;
};

}  // namespace encode_detail
