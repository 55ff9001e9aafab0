#include "encode/fast_encoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

namespace encode_detail {
namespace {

constexpr unsigned kHashBits = 12;  // one bucket per window position: few collisions, 64 KB of table
constexpr unsigned kWays = 4;  // candidates per bucket: the longest of four finds most of the exact level's matches
constexpr std::size_t kMaxDistance = kWindowSize - 1;  // a reference reaches at most 4095 bytes back
// After this many literals in a row, positions are tried only every second, third, ...
// byte (one more for each further kSkipLiterals): data that does not compress costs
// little time, and a match ends the skipping.
constexpr unsigned kSkipLiterals = 32;
// Of a run's positions only this many at its end enter the table: they are what later
// matches into the run need.
constexpr std::size_t kRunTail = 4;

std::uint64_t load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

class HashTable {
 public:
  // The first three bytes at p.
  static unsigned hash(const std::uint8_t* p) {
    const std::uint32_t v = p[0] | p[1] << 8 | p[2] << 16;
    return (v * 2654435761u) >> (32 - kHashBits);
  }
  // Positions (input offset + 1, 0 for none) of the bucket, most recent first.
  const std::array<std::uint32_t, kWays>& bucket(unsigned h) const { return buckets_[h]; }
  void insert(unsigned h, std::size_t offset) {
    auto& b = buckets_[h];
    std::memmove(&b[1], &b[0], (kWays - 1) * sizeof b[0]);
    b[0] = static_cast<std::uint32_t>(offset + 1);
  }

 private:
  std::array<std::array<std::uint32_t, kWays>, 1u << kHashBits> buckets_{};
};

// Bytes (at most limit) in which data[a..] and data[b..] agree; a < b, and limit bytes
// from b are inside the input.
unsigned agreement(const std::uint8_t* data, std::size_t a, std::size_t b, unsigned limit, bool wide) {
  unsigned i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    if (wide) {  // 24 readable bytes from b
      for (; i < 16; i += 8) {
        const std::uint64_t x = load64(data + a + i) ^ load64(data + b + i);
        if (x != 0) return std::min(limit, i + static_cast<unsigned>(std::countr_zero(x)) / 8);
      }
    }
  }
  while (i < limit && data[a + i] == data[b + i]) ++i;
  return i;
}

}  // namespace

void encode_fast(StreamWriter& writer, const std::uint8_t* data, std::size_t size) {
  auto table = std::make_unique<HashTable>();
  std::size_t k = 0;
  unsigned literals = 0;  // literals in a row
  const auto insert = [&](std::size_t at) {
    if (at + 3 <= size) table->insert(HashTable::hash(data + at), at);
  };
  while (k < size) {
    const unsigned limit = static_cast<unsigned>(std::min<std::size_t>(kMaxReference, size - k));
    unsigned length = 0;
    std::size_t source = 0;
    if (k + 3 <= size) {
      const unsigned h = HashTable::hash(data + k);
      const bool wide = k + 24 <= size;
      for (std::uint32_t candidate : table->bucket(h)) {
        if (candidate == 0 || k - (candidate - 1) > kMaxDistance) break;
        const unsigned a = agreement(data, candidate - 1, k, limit, wide);
        if (a > length) length = a, source = candidate - 1;
        if (length == limit) break;
      }
      table->insert(h, k);
    }
    if (length < kMinReference) {
      writer.literal(data[k]);
      ++literals;
      const unsigned step = 1 + literals / kSkipLiterals;
      for (unsigned i = 1; i < step && k + 1 < size; ++i) writer.literal(data[++k]);
      ++k;
      continue;
    }
    literals = 0;
    // A match that repeats the previous byte to its limit may be a run, as at the exact level.
    if (length == kMaxReference && source + 1 == k) {
      const std::uint8_t value = data[k - 1];
      const std::size_t run_end = std::min(size, k + kMaxRun);
      std::size_t r = k + length;
      while (r < run_end && data[r] == value) ++r;
      std::size_t run = r - k;
      if (run >= kMinRun) {
        if (run == kMaxShortRun + 1) run = kMaxShortRun;
        writer.run(value, run);
        k += run;
        for (std::size_t at = std::max(k - kRunTail, k - run + 1); at < k; ++at) insert(at);
        continue;
      }
    }
    writer.reference((source - 16) & kWindowMask, length);
    for (std::size_t at = k + 1; at < k + length; ++at) insert(at);
    k += length;
  }
}

}  // namespace encode_detail
