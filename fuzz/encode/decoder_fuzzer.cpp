// Decoder on arbitrary streams with arbitrary destination and available sizes. The
// stream and the destination are exact-size heap blocks, so any access past either
// end is caught. A stream the decoder accepts must decode to what a plain
// window-based decoder produces from it.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "encode/decoder.h"

namespace {

// Byte-at-a-time decoding through a 4096-byte window, stopping at the stream's end.
std::vector<std::uint8_t> plain_decode(const std::uint8_t* s, std::size_t end) {
  std::vector<std::uint8_t> out;
  std::uint8_t window[4096] = {};
  std::size_t slot = 0, pos = 15;
  auto emit = [&](std::uint8_t b) {
    out.push_back(b);
    window[slot] = b;
    slot = (slot + 1) & 0xFFF;
  };
  if (end <= 15) return out;
  unsigned flags = s[14] | 0x100;
  while (pos < end) {
    if (flags & 1) {
      emit(s[pos++]);
    } else {
      const unsigned b0 = s[pos], b1 = s[pos + 1], n = b1 & 0x0F, f = b0 | (b1 & 0xF0) << 4;
      pos += 2;
      if (n != 15) {
        for (unsigned i = 0; i < n + 3; ++i) emit(window[(f + 16 + i) & 0xFFF]);
      } else {
        const std::uint8_t v = s[pos++];
        std::size_t count = f + 18;
        if (b0 == 0xFF && b1 == 0xFF) {
          count = s[pos] + 256u * s[pos + 1] + 4114;
          pos += 2;
        }
        while (count--) emit(v);
      }
    }
    flags >>= 1;
    if (flags == 1 && pos < end) flags = s[pos++] | 0x100;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  // Two bytes pick how the destination relates to decoded_size, two how many of the
  // stream bytes are available.
  const unsigned destination_choice = data[0] | data[1] << 8;
  const unsigned available_choice = data[2] | data[3] << 8;
  data += 4;
  size -= 4;

  std::vector<std::uint8_t> stream(data, data + size);
  if (size >= 14 && (available_choice & 0x8000)) {
    // Usually give the stream its own magic and a consistent size so the items get
    // exercised; the other half of the inputs keep their raw header.
    std::memcpy(stream.data(), "EnCode", 6);
    const std::uint32_t stream_size = static_cast<std::uint32_t>(size);
    for (int i = 0; i < 4; ++i) stream[10 + i] = static_cast<std::uint8_t>(stream_size >> (8 * i));
  }
  std::size_t available = size;
  if (available_choice & 0x4000) available = size == 0 ? 0 : (available_choice & 0x3FFF) % (size + 1);

  StreamHeader header;
  const bool header_ok = read_stream_header(stream.data(), available, header).ok();
  std::size_t destination_size = header_ok ? header.decoded_size : destination_choice;
  if (header_ok && (destination_choice & 0x8000)) {
    destination_size = header.decoded_size + (destination_choice & 0x7F) - 0x40;  // a little off, either way
    if (destination_size > (1u << 24)) destination_size = 0;
  }

  auto in = std::make_unique<std::uint8_t[]>(available);
  if (available) std::memcpy(in.get(), stream.data(), available);
  auto out = std::make_unique<std::uint8_t[]>(destination_size);
  const DecodeResult result = decode_stream(out.get(), destination_size, in.get(), available);

  if (result.produced > destination_size) std::abort();
  if (!result.ok()) return 0;
  if (!header_ok || result.produced != header.decoded_size) std::abort();
  const std::vector<std::uint8_t> expected = plain_decode(in.get(), header.stream_size);
  if (expected.size() != result.produced ||
      (result.produced != 0 && std::memcmp(expected.data(), out.get(), result.produced) != 0)) {
    std::abort();
  }
  return 0;
}
