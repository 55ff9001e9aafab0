#include "encode/encoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

namespace {

// Window positions are one higher than the decoder's slots: input byte k sits at
// position (k + 1) mod 4096. Position 0 is never a tree node (link value 0 means none).
constexpr unsigned kWindowSize = 4096;
constexpr unsigned kWindowMask = kWindowSize - 1;
constexpr unsigned kKeySize = 17;       // longest reference, and the length of a tree key
constexpr unsigned kTreeHeader = 4096;  // the header entry; its right link is the root
constexpr unsigned kMaxRun = 69649;
constexpr unsigned kMaxShortRun = 4112;
constexpr unsigned kMinRun = 18;
constexpr std::uint32_t kHeaderSize = 14;
constexpr std::size_t kOutBufferSize = 4096;  // groups are collected and written in batches

struct EncoderState {
  // window[p] for p < 4096, and window[4096 + i] mirrors window[i] for i < 17, so the
  // key of any position is contiguous. Padding keeps 8-byte loads inside the array.
  std::array<std::uint8_t, kWindowSize + kKeySize + 8> window{};
  std::array<std::uint16_t, kWindowSize + 1> parent{};
  std::array<std::uint16_t, kWindowSize + 1> left{};
  std::array<std::uint16_t, kWindowSize + 1> right{};
  unsigned match_length = 0;
  unsigned match_position = 0;

  void store(unsigned position, std::uint8_t byte) {
    window[position] = byte;
    if (position < kKeySize) window[kWindowSize + position] = byte;
  }

  // The number of leading key bytes (0 to 17) in which positions a and b agree.
  unsigned common_prefix(unsigned a, unsigned b) const {
    const std::uint8_t* x = window.data() + a;
    const std::uint8_t* y = window.data() + b;
    for (unsigned i = 0; i < 16; i += 8) {
      std::uint64_t u, v;
      std::memcpy(&u, x + i, 8);
      std::memcpy(&v, y + i, 8);
      if (const std::uint64_t diff = u ^ v) return i + first_set_byte(diff);
    }
    return x[16] == y[16] ? 17 : 16;
  }

  static unsigned first_set_byte(std::uint64_t diff) {
    // Byte i of the key is byte i of the little-endian load; on a big-endian host it is
    // the i-th most significant byte.
    if constexpr (std::endian::native == std::endian::little) return static_cast<unsigned>(std::countr_zero(diff)) / 8;
    return static_cast<unsigned>(std::countl_zero(diff)) / 8;
  }

  // The parent's link to p (or the header's root link) now names r; r gets p's parent.
  void replace(unsigned p, unsigned r) {
    const unsigned up = parent[p];
    if (right[up] == p) {
      right[up] = static_cast<std::uint16_t>(r);
    } else {
      left[up] = static_cast<std::uint16_t>(r);
    }
    if (r != 0) parent[r] = static_cast<std::uint16_t>(up);
    parent[p] = 0;
  }

  // r takes p's place with p's parent and both of p's children.
  void take_place(unsigned p, unsigned r) {
    left[r] = left[p];
    right[r] = right[p];
    if (left[r] != 0) parent[left[r]] = static_cast<std::uint16_t>(r);
    if (right[r] != 0) parent[right[r]] = static_cast<std::uint16_t>(r);
    replace(p, r);
  }

  void remove(unsigned p) {
    if (p == 0 || parent[p] == 0) return;
    if (right[p] == 0) return replace(p, left[p]);
    if (left[p] == 0) return replace(p, right[p]);
    unsigned q = left[p];
    while (right[q] != 0) q = right[q];
    replace(q, left[q]);
    take_place(p, q);
  }

  // Inserts position s and sets match_length (and match_position when anything
  // matched): the longest agreement met on the search path, the node nearest the root
  // winning among equally long ones. An equal key replaces the older node.
  void insert(unsigned s) {
    if (s == 0) {
      match_length = 0;
      return;
    }
    unsigned best = 0;
    unsigned p = right[kTreeHeader];
    if (p == 0) {
      right[kTreeHeader] = static_cast<std::uint16_t>(s);
      parent[s] = kTreeHeader;
      left[s] = right[s] = 0;
      match_length = 0;
      return;
    }
    for (;;) {
      const unsigned i = common_prefix(s, p);
      if (i > best) {
        best = i;
        match_position = p;
        if (i == kKeySize) {
          take_place(p, s);
          match_length = kKeySize;
          return;
        }
      }
      std::uint16_t* link =
          static_cast<std::int8_t>(window[s + i]) > static_cast<std::int8_t>(window[p + i]) ? &right[p] : &left[p];
      if (*link == 0) {
        *link = static_cast<std::uint16_t>(s);
        parent[s] = static_cast<std::uint16_t>(p);
        left[s] = right[s] = 0;
        match_length = best;
        return;
      }
      p = *link;
    }
  }
};

class GroupWriter {
 public:
  explicit GroupWriter(ByteSink& sink) : sink_(sink) {}

  void literal(std::uint8_t byte) {
    group_[0] |= static_cast<std::uint8_t>(mask_);
    group_[size_++] = byte;
    next();
  }
  void bytes(std::initializer_list<std::uint8_t> item) {
    for (std::uint8_t b : item) group_[size_++] = b;
    next();
  }
  // Writes the unfinished group, if it holds an item, and everything collected.
  void finish() {
    if (mask_ != 1) append_group();
    flush();
  }
  std::uint32_t written() const { return written_; }

 private:
  void next() {
    mask_ <<= 1;
    if (mask_ != 0x100) return;
    append_group();
    if (used_ > kOutBufferSize - 41) flush();
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

  ByteSink& sink_;
  std::array<std::uint8_t, 41> group_{};  // the flag byte and up to eight items of up to five bytes
  std::size_t size_ = 1;
  unsigned mask_ = 1;
  std::array<std::uint8_t, kOutBufferSize> out_{};
  std::size_t used_ = 0;
  std::uint32_t written_ = 0;
};

void write_u32(ByteSink& sink, std::uint32_t value) {
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  sink.write(bytes, 4);
}

}  // namespace

std::uint32_t encode_stream(ByteSink& sink, const std::uint8_t* data, std::int32_t size_in) {
  // A negative count encodes nothing: the stream of an empty input.
  const std::size_t size = size_in > 0 ? static_cast<std::size_t>(size_in) : 0;

  sink.write("EnCode", 6);
  write_u32(sink, static_cast<std::uint32_t>(size));
  const std::uint64_t size_field = sink.position();
  write_u32(sink, static_cast<std::uint32_t>(size));

  GroupWriter writer(sink);
  if (size != 0) {
    // About 29 KB: too much for small thread stacks, and the same for every input size.
    auto state = std::make_unique<EncoderState>();
    EncoderState& st = *state;
    unsigned lookahead = static_cast<unsigned>(std::min<std::size_t>(size, kKeySize));
    for (unsigned i = 0; i < lookahead; ++i) st.store(i + 1, data[i]);
    st.right[kTreeHeader] = 1;
    st.parent[1] = kTreeHeader;
    unsigned s = 1;
    std::size_t k = 0;

    while (lookahead > 0) {
      unsigned& m = st.match_length;
      if (m > lookahead) m = lookahead;
      std::size_t consumed;
      if (m <= 2) {
        writer.literal(data[k]);
        consumed = 1;
      } else {
        // The first item is always a literal (the tree starts with position 1 alone
        // and a match needs an earlier node), so data[k - 1] exists here.
        const std::uint8_t value = data[k - 1];
        const std::size_t run_end = std::min(size, k + kMaxRun);
        std::size_t r = k;
        while (r < run_end && data[r] == value) ++r;
        std::size_t run = r - k;
        if (run > m && run >= kMinRun) {
          // 4113 bytes have no run item: take 4112 now; the remaining byte is coded by
          // whatever the next item finds (a literal or a reference).
          if (run == kMaxShortRun + 1) run = kMaxShortRun;
          if (run <= kMaxShortRun) {
            const unsigned f = static_cast<unsigned>(run - kMinRun);
            writer.bytes({static_cast<std::uint8_t>(f), static_cast<std::uint8_t>((f >> 8) << 4 | 0x0F), value});
          } else {
            const unsigned w = static_cast<unsigned>(run - (kMaxShortRun + 2));
            writer.bytes({0xFF, 0xFF, value, static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8)});
          }
          consumed = run;
        } else {
          const unsigned f = (st.match_position - kKeySize) & kWindowMask;
          writer.bytes({static_cast<std::uint8_t>(f), static_cast<std::uint8_t>((f >> 8) << 4 | (m - 3))});
          consumed = m;
        }
      }
      for (std::size_t i = 0; i < consumed; ++i) {
        const unsigned t = (s + kKeySize) & kWindowMask;
        st.remove(t);
        if (k + kKeySize < size) {
          st.store(t, data[k + kKeySize]);
        } else {
          --lookahead;
        }
        s = (s + 1) & kWindowMask;
        ++k;
        if (lookahead > 0) st.insert(s);
      }
    }
  }
  writer.finish();

  const std::uint32_t length = kHeaderSize + writer.written();
  sink.seek(size_field);
  write_u32(sink, length);
  sink.seek_to_end();
  return length;
}
