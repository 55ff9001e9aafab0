#pragma once
// Byte helpers shared by the tests and benchmarks: fixtures written as hex or text,
// joined, and EnCode streams built from their items, so that fixtures come from
// tables instead of blobs.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

// "45 6E 43" -> bytes; spaces and commas are ignored.
inline Bytes hex(std::string_view text) {
  Bytes bytes;
  int pending = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else {
      continue;
    }
    if (pending < 0) {
      pending = v;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(pending << 4 | v));
      pending = -1;
    }
  }
  return bytes;
}

inline std::string to_hex(const Bytes& bytes) {
  std::string text;
  char buf[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X ", b);
    text += buf;
  }
  return text;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// An EnCode stream: the 14-byte header ("EnCode", decoded_size, and stream_size set to
// the total length) followed by items (flag bytes and their items, as bytes).
inline Bytes stream_of(std::uint32_t decoded_size, const Bytes& items) {
  // Sized once and filled in place: GCC 12 at -O3 warns falsely about an insert after
  // a short initialiser.
  Bytes stream(14 + items.size());
  const char magic[] = "EnCode";
  std::copy(magic, magic + 6, stream.begin());
  std::copy(items.begin(), items.end(), stream.begin() + 14);
  const std::uint32_t stream_size = static_cast<std::uint32_t>(stream.size());
  for (int i = 0; i < 4; ++i) {
    stream[6 + i] = static_cast<std::uint8_t>(decoded_size >> (8 * i));
    stream[10 + i] = static_cast<std::uint8_t>(stream_size >> (8 * i));
  }
  return stream;
}

// An EnCode stream that holds data as literals only.
inline Bytes literal_stream(const Bytes& data) {
  Bytes groups;
  for (std::size_t i = 0; i < data.size(); i += 8) {
    const std::size_t n = std::min<std::size_t>(8, data.size() - i);
    groups.push_back(static_cast<std::uint8_t>((1u << n) - 1));
    groups.insert(groups.end(), data.begin() + static_cast<std::ptrdiff_t>(i),
                  data.begin() + static_cast<std::ptrdiff_t>(i + n));
  }
  return stream_of(static_cast<std::uint32_t>(data.size()), groups);
}

}  // namespace test_support
