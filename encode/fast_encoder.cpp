#include "encode/fast_encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

namespace encode_detail {
namespace {

// Buckets of the hash table: 2^kMaxHashBits for inputs of 16 KiB and more, fewer for
// smaller ones (the table is cleared for every stream). Many buckets hold few stale
// positions, so most searches stop after the first candidate that fails.
constexpr unsigned kMinHashBits = 10;
constexpr unsigned kMaxHashBits = 14;
// Each bucket is one 64-bit word of four 16-bit positions, the most recent in the low
// bits: inserting is a shift and an or. A position is kept modulo 65,536; one that is
// more than 4096 bytes back, or older than the previous 65,536 bytes, may decode to a
// distance inside the window, but its bytes are compared like any candidate's, so it
// costs a comparison and never a wrong reference.
constexpr unsigned kWays = 4;
// After this many literals in a row, positions are tried only every second, third, ...
// byte (one more for each further kSkipLiterals): data that does not compress costs
// little time, and a match ends the skipping.
constexpr unsigned kSkipLiterals = 32;
// Of a run's positions only this many at its end enter the table: they are what later
// matches into the run need.
constexpr std::size_t kRunTail = 4;
// A reference shorter than this is kept only if the next position has no longer match;
// otherwise the byte goes out as a literal and the longer match is taken. Checking
// longer references too gains little and costs a search per reference.
constexpr unsigned kLazyBelow = 4;

std::uint64_t load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Bytes (0 to 17) in which a and b agree; 17 bytes from each are readable.
unsigned agreement_wide(const std::uint8_t* a, const std::uint8_t* b) {
  if constexpr (std::endian::native == std::endian::little) {
    const std::uint64_t x0 = load64(a) ^ load64(b);
    if (x0 != 0) return static_cast<unsigned>(std::countr_zero(x0)) >> 3;
    const std::uint64_t x1 = load64(a + 8) ^ load64(b + 8);
    if (x1 != 0) return 8 + (static_cast<unsigned>(std::countr_zero(x1)) >> 3);
    return 16 + (a[16] == b[16]);
  } else {
    unsigned i = 0;
    while (i < kMaxReference && a[i] == b[i]) ++i;
    return i;
  }
}

// Bytes (at most limit) in which a and b agree.
unsigned agreement_narrow(const std::uint8_t* a, const std::uint8_t* b, unsigned limit) {
  unsigned i = 0;
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}

class Matcher {
 public:
  Matcher(const std::uint8_t* data, std::size_t size)
      : data_(data),
        size_(size),
        hash_end_(size >= 4 ? size - 3 : 0),
        wide_end_(size >= kMaxReference ? size - kMaxReference + 1 : 0),
        hash_shift_(32 - std::clamp<unsigned>(static_cast<unsigned>(std::bit_width(size)), kMinHashBits, kMaxHashBits)),
        buckets_(std::make_unique<std::uint64_t[]>(std::size_t{1} << (32 - hash_shift_))) {}

  // Enters the positions [from, to) into the table.
  void insert(std::size_t from, std::size_t to) {
    to = std::min(to, hash_end_);
    std::uint64_t* const buckets = buckets_.get();
    for (std::size_t at = from; at < to; ++at) {
      std::uint64_t& b = buckets[hash(at)];
      b = b << 16 | (at & 0xFFFF);
    }
  }

  // The longest match (0 or 3 to 17 bytes; shorter ones count as none) for position k
  // among the bucket's positions and the position 4096 bytes back, which no bucket
  // holds for long but which repeats data of that period exactly. Enters k into the
  // table. Sets source to the match's position.
  unsigned find(std::size_t k, std::size_t& source) {
    if (k >= hash_end_) return 0;
    std::uint64_t& slot = buckets_[hash(k)];
    std::uint64_t b = slot;
    slot = b << 16 | (k & 0xFFFF);
    const std::uint8_t* const at = data_ + k;
    unsigned length = 0;
    std::size_t distance = 0;
    if (k < wide_end_) [[likely]] {
      for (unsigned w = 0; w < kWays; ++w, b >>= 16) {
        // The ways hold positions newest first: once one is outside the window (or is
        // the empty distance 0), so are the rest.
        const std::size_t d = (k - b) & 0xFFFF;
        if (d - 1 >= kWindowSize) break;
        const unsigned a = agreement_wide(at - d, at);
        if (a > length) length = a, distance = d;
        if (length == kMaxReference) break;
      }
      if (length < kMaxReference && k >= kWindowSize) {
        const unsigned a = agreement_wide(at - kWindowSize, at);
        if (a > length) length = a, distance = kWindowSize;
      }
    } else {
      const unsigned limit = static_cast<unsigned>(std::min<std::size_t>(kMaxReference, size_ - k));
      for (unsigned w = 0; w < kWays; ++w, b >>= 16) {
        const std::size_t d = (k - b) & 0xFFFF;
        if (d - 1 >= kWindowSize || d > k) break;
        const unsigned a = agreement_narrow(at - d, at, limit);
        if (a > length) length = a, distance = d;
      }
    }
    if (length < kMinReference) return 0;
    source = k - distance;
    return length;
  }

 private:
  // Hash of the three bytes at k (k < hash_end_, so four bytes are readable): one
  // four-byte load whose fourth byte the shift drops.
  unsigned hash(std::size_t k) const {
    const std::uint8_t* p = data_ + k;
    std::uint32_t v;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(&v, p, 4);
    } else {
      v = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16;
    }
    return ((v << 8) * 2654435761u) >> hash_shift_;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t hash_end_;  // positions below it have four bytes to load for the hash
  std::size_t wide_end_;  // positions below it have kMaxReference bytes to compare
  unsigned hash_shift_;
  std::unique_ptr<std::uint64_t[]> buckets_;
};

}  // namespace

void encode_fast(StreamWriter& writer, const std::uint8_t* data, std::size_t size) {
  Matcher matcher(data, size);
  std::size_t k = 0;
  std::size_t source = 0;
  unsigned literals = 0;  // literals in a row
  unsigned length = matcher.find(0, source);
  while (k < size) {
    if (length == 0) {
      writer.literal(data[k]);
      ++literals;
      const unsigned step = 1 + literals / kSkipLiterals;
      for (unsigned i = 1; i < step && k + 1 < size; ++i) writer.literal(data[++k]);
      ++k;
      if (k < size) length = matcher.find(k, source);
      continue;
    }
    literals = 0;
    // A full-length match over a repeat of the previous byte may be a run.
    if (length == kMaxReference && data[k] == data[k - 1]) {
      const std::uint8_t value = data[k];
      const std::size_t run_end = std::min(size, k + kMaxRun);
      std::size_t r = k + 1;
      while (r < run_end && data[r] == value) ++r;
      std::size_t run = r - k;
      if (run >= kMinRun) {
        if (run == kMaxShortRun + 1) run = kMaxShortRun;
        writer.run(value, run);
        k += run;
        matcher.insert(std::max(k - kRunTail, k - run + 1), k);
        if (k < size) length = matcher.find(k, source);
        continue;
      }
    }
    // One step of lazy matching for short references.
    std::size_t inserted_to = k + 1;  // positions below it are in the table
    while (length < kLazyBelow && k + 1 < size) {
      std::size_t next_source = 0;
      const unsigned next = matcher.find(k + 1, next_source);
      inserted_to = k + 2;
      if (next <= length) break;
      writer.literal(data[k]);
      ++k;
      length = next;
      source = next_source;
    }
    writer.reference((source - 16) & kWindowMask, length);
    matcher.insert(inserted_to, k + length);
    k += length;
    if (k < size) length = matcher.find(k, source);
  }
}

}  // namespace encode_detail
