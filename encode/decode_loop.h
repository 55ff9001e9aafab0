#pragma once
// The EnCode item loop, written once for both decoders. decode_stream runs it with the
// caller's destination as its output; StreamDecoder runs it over a buffer of the window
// and one chunk that it hands to a DecodedSink whenever the chunk fills. The output is
// the template parameter kChunked, so each decoder compiles to its own loop with no
// test of the other's case left in it.
//
// LAYOUT
//   ItemLoop            the state: input bounds, output index, bytes still allowed,
//                       and (chunked) where the window sits in the buffer
//   fail / truncated    results, with the output decoded so far handed on (chunked)
//   flush / long_fill   chunked only: hand the chunk on and keep the window
//   group<kRoomy>       one flag byte's items; kRoomy when the whole group is known
//                       to lie below the input limit, so no item checks its input
//   run                 groups until stream_size, then the decoded size is checked

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "encode/decoded_sink.h"
#include "encode/decoder.h"

namespace encode_detail {

inline constexpr std::size_t kDecodeWindowSize = 4096;
inline constexpr std::size_t kDecodeWindowMask = kDecodeWindowSize - 1;
// A flag byte and eight items of at most five bytes.
inline constexpr std::size_t kMaxGroupBytes = 41;
// Room a chunked buffer keeps free past its fill mark: a group's literals and
// references (8 x 17 bytes), the 32 bytes a reference copy may store past its end, and
// one bulk literal step.
inline constexpr std::size_t kGroupSlack = 256;
static_assert(8 * 17 + 32 + 8 <= kGroupSlack);

inline void copy8(std::uint8_t* to, const std::uint8_t* from) {
  std::uint64_t v;
  std::memcpy(&v, from, 8);
  std::memcpy(to, &v, 8);
}

inline void copy16(std::uint8_t* to, const std::uint8_t* from) {
  std::uint8_t v[16];
  std::memcpy(v, from, 16);
  std::memcpy(to, v, 16);
}

// Decodes the items of a stream whose header has been checked.
//
// Whole buffer (kChunked false): out is the destination of at least decoded_size
// bytes, output byte i at out[i]; the output itself is the window. Copies may store up
// to 24 bytes past an item's end only while that stays below decoded_size.
//
// Chunked (kChunked true): out[0..buffer_size) holds the output before index `w`, the
// last kDecodeWindowSize bytes of it the window a reference reads from. A flush hands
// out[kDecodeWindowSize..w) to the sink and moves the last kDecodeWindowSize output
// bytes to the front, so out[kDecodeWindowSize] is always the first byte not yet
// handed on. The chunk is handed on once w reaches flush_at = buffer_size -
// kGroupSlack; runs make their own room check, so a group that starts below flush_at
// ends inside the buffer and copies may always store past an item's end.
// Each decoder's source file has its own copy (internal linkage), so that the compiler
// inlines the groups into the loop as it would a function of that file alone.
namespace {

template <bool kChunked>
struct ItemLoop {
  ItemLoop(std::uint8_t* out, std::size_t buffer_size, DecodedSink* sink, const std::uint8_t* in, std::size_t available,
           const StreamHeader& header)
      : out(out),
        buffer_size(buffer_size),
        flush_at(kChunked ? buffer_size - kGroupSlack : 0),
        sink(sink),
        in(in),
        limit(std::min<std::size_t>(available, header.stream_size)),
        stream_size(header.stream_size),
        decoded_size(header.decoded_size),
        end(w + header.decoded_size) {}

  std::uint8_t* const out;
  const std::size_t buffer_size;  // chunked: the buffer's size
  const std::size_t flush_at;     // chunked: the fill mark that hands the chunk on
  DecodedSink* const sink;        // chunked: where the output goes
  const std::uint8_t* const in;
  const std::size_t limit;        // min(available, stream_size)
  const std::size_t stream_size;  // where the items end
  const std::size_t decoded_size;
  std::size_t pos = kStreamHeaderSize;
  std::size_t w = kChunked ? kDecodeWindowSize : 0;  // index in out of the next output byte
  // Index in out just past the last output byte decoded_size allows: end - w bytes may
  // still be produced. (One index rather than a count beside w: one update per item.)
  std::size_t end;
  std::size_t first = kChunked ? kDecodeWindowSize : 0;  // index of output byte 0, or 0 once it has left
  std::size_t phase = 0;      // chunked: bytes handed on, mod 4096; index w is slot (w + phase) & mask
  std::uint64_t flushed = 0;  // chunked: bytes the sink accepted

  std::size_t produced() const { return decoded_size - (end - w); }

  DecodeResult fail(DecodeStatus status, std::size_t offset) {
    // Offer what was decoded before the fault; a refusal now changes nothing.
    if constexpr (kChunked) {
      if (w > kDecodeWindowSize) sink->write(out + kDecodeWindowSize, w - kDecodeWindowSize);
    }
    return {status, offset, produced()};
  }
  DecodeResult refused() const { return {DecodeStatus::sink_refused, pos, static_cast<std::size_t>(flushed)}; }

  // An item that needs bytes past `limit`: past stream_size, or past what is available.
  DecodeResult truncated(std::size_t item) {
    return fail(limit < stream_size ? DecodeStatus::truncated_stream : DecodeStatus::truncated_item, item);
  }

  bool flush() {
    static_assert(kChunked);
    const std::size_t size = w - kDecodeWindowSize;
    if (size == 0) return true;
    if (!sink->write(out + kDecodeWindowSize, size)) return false;
    std::memmove(out, out + w - kDecodeWindowSize, kDecodeWindowSize);
    flushed += size;
    end -= size;
    phase = (phase + size) & kDecodeWindowMask;
    first = first > size ? first - size : 0;
    w = kDecodeWindowSize;
    return true;
  }

  // A run that does not fit below flush_at: filled and handed on in pieces. Leaves w
  // at most flush_at.
  bool long_fill(std::uint8_t value, std::size_t length) {
    for (;;) {
      const std::size_t piece = std::min(length, buffer_size - w);
      std::memset(out + w, value, piece);
      w += piece;
      length -= piece;
      if (length == 0) break;
      if (!flush()) return false;
    }
    return w <= flush_at || flush();
  }

  // Decodes the group whose flag byte is at pos-1. With kRoomy the caller has made sure
  // that kMaxGroupBytes bytes from the flag byte on lie below limit, so no item needs
  // an input check and the stream cannot end inside the group.
  template <bool kRoomy>
  bool group(unsigned flags, DecodeResult& error) {
    // Work on copies: stores through `out` may alias the members, which would force a
    // reload of them after every output item.
    std::size_t pos = this->pos;
    std::size_t w = this->w;
    std::size_t end = this->end;
    std::size_t first = kChunked ? this->first : 0;
    std::size_t phase = kChunked ? this->phase : 0;
    std::uint8_t* const out = this->out;
    const std::uint8_t* const in = this->in;
    const std::size_t limit = this->limit;
    const std::size_t stream_size = this->stream_size;
    auto sync = [&] {
      this->pos = pos;
      this->w = w;
    };
    for (int j = 0; j < 8; ++j, flags >>= 1) {
      if (kRoomy) {
        // The stretch of literals up to the next other item (possibly none) in one step,
        // without a branch on the flag bit. The flag bits above the group's last item are
        // shifted-in zeros, so the stretch ends inside the group. The eight-byte copy
        // may store bytes past the stretch; later items overwrite them, and nothing reads
        // output beyond what the items produced. After long runs the stretch may end less
        // than eight bytes before the limit.
        const unsigned count = static_cast<unsigned>(std::countr_one(flags));
        if (end - w >= 8 && limit - pos >= 8) {
          copy8(out + w, in + pos);
        } else {
          // No call with zero bytes: an empty destination may have no storage (null).
          const std::size_t room = end - w;
          if (const std::size_t n = std::min<std::size_t>(count, room); n != 0) std::memcpy(out + w, in + pos, n);
          if (room < count) {
            w = end;
            pos += room;
            sync();
            error = fail(DecodeStatus::output_overflow, pos);
            return false;
          }
        }
        w += count;
        pos += count;
        j += static_cast<int>(count);
        flags >>= count;
        if (j == 8) break;
      }
      if (!kRoomy && pos >= stream_size) {
        sync();
        if (j == 0) {
          error = fail(DecodeStatus::truncated_item, pos - 1);
          return false;
        }
        return true;
      }
      const std::size_t item = pos;
      if (!kRoomy && (flags & 1)) {
        if (pos >= limit) return sync(), error = truncated(item), false;
        if (w == end) return sync(), error = fail(DecodeStatus::output_overflow, item), false;
        out[w++] = in[pos++];
        continue;
      }
      if (!kRoomy && limit - pos < 2) return sync(), error = truncated(item), false;
      const unsigned b0 = in[pos];
      const unsigned b1 = in[pos + 1];
      const unsigned n = b1 & 0x0F;
      if (n != 15) {
        pos += 2;
        const std::size_t length = n + 3;
        const std::size_t slot = ((b0 | (b1 & 0xF0) << 4) + 16) & kDecodeWindowMask;
        std::size_t distance = (w + phase - slot) & kDecodeWindowMask;
        if (distance == 0) distance = kDecodeWindowSize;
        if (distance > w - first) return sync(), error = fail(DecodeStatus::unwritten_slot, item), false;
        if (end - w < length) return sync(), error = fail(DecodeStatus::output_overflow, item), false;
        // How far a copy may store past `to`: a chunked buffer always has the slack.
        const std::size_t room = kChunked ? kGroupSlack : end - w;
        std::uint8_t* to = out + w;
        const std::uint8_t* from = to - distance;
        if (distance >= 16 && room >= 32) {
          // Two 16-byte steps; the second reads only bytes before `to` or stored by the first.
          copy16(to, from);
          copy16(to + 16, from + 16);
        } else if (distance >= 8 && room >= 24) {
          // Whole 8-byte steps; each reads only bytes written before it. The tail past
          // `length` is rewritten by later items and stays below decoded_size.
          copy8(to, from);
          copy8(to + 8, from + 8);
          copy8(to + 16, from + 16);
        } else if (distance == 1 && room >= 24) {
          // One byte repeated: three 8-byte stores of it.
          const std::uint64_t v = *from * std::uint64_t{0x0101010101010101};
          std::memcpy(to, &v, 8);
          std::memcpy(to + 8, &v, 8);
          std::memcpy(to + 16, &v, 8);
        } else if (distance == 1) {
          std::memset(to, *from, length);
        } else if (room >= 24) {
          // A pattern of 2 to 7 bytes: write its first eight bytes from the bytes before
          // `to` (no load waits for a store of this item), then continue in 8-byte steps
          // from a whole number of periods back, at least eight.
          static constexpr std::uint8_t kPhase[8][8] = {{},
                                                        {},
                                                        {0, 1, 0, 1, 0, 1, 0, 1},
                                                        {0, 1, 2, 0, 1, 2, 0, 1},
                                                        {0, 1, 2, 3, 0, 1, 2, 3},
                                                        {0, 1, 2, 3, 4, 0, 1, 2},
                                                        {0, 1, 2, 3, 4, 5, 0, 1},
                                                        {0, 1, 2, 3, 4, 5, 6, 0}};
          static constexpr std::uint8_t kBack[8] = {0, 0, 8, 9, 8, 10, 12, 14};
          for (int i = 0; i < 8; ++i) to[i] = from[kPhase[distance][i]];
          copy8(to + 8, to + 8 - kBack[distance]);
          copy8(to + 16, to + 16 - kBack[distance]);
        } else {
          for (std::size_t i = 0; i < length; ++i) to[i] = from[i];
        }
        w += length;
        continue;
      }
      std::size_t length;
      std::uint8_t value;
      if (b0 == 0xFF && b1 == 0xFF) {
        if (!kRoomy && limit - pos < 5) return sync(), error = truncated(item), false;
        value = in[pos + 2];
        length = (in[pos + 3] | std::size_t{in[pos + 4]} << 8) + 4114;
        pos += 5;
      } else {
        if (!kRoomy && limit - pos < 3) return sync(), error = truncated(item), false;
        value = in[pos + 2];
        length = (b0 | (b1 & 0xF0) << 4) + 18;
        pos += 3;
      }
      if (end - w < length) return sync(), error = fail(DecodeStatus::output_overflow, item), false;
      if (!kChunked || w + length <= flush_at) {
        std::memset(out + w, value, length);
        w += length;
      } else if constexpr (kChunked) {
        sync();
        if (!long_fill(value, length)) return error = refused(), false;
        w = this->w;
        end = this->end;
        first = this->first;
        phase = this->phase;
      }
    }
    sync();
    return true;
  }

  // Groups of eight literals (stored data) copied in a tight loop while the next group
  // is still clear of the limit, from the group whose flags were read. Returns the
  // flags of the first group it leaves to group().
  unsigned bulk_literals(unsigned flags) {
    // Copies, as in group().
    std::uint8_t* const out = this->out;
    const std::uint8_t* const in = this->in;
    const std::size_t end = this->end, limit = this->limit, flush_at = this->flush_at;
    std::size_t pos = this->pos, w = this->w;
    while (flags == 0xFF && end - w >= 8 && (!kChunked || w < flush_at) && limit - pos >= 8 + kMaxGroupBytes) {
      copy8(out + w, in + pos);
      w += 8;
      pos += 8;
      flags = in[pos++];
    }
    this->pos = pos;
    this->w = w;
    return flags;
  }

  DecodeResult run() {
    DecodeResult error;
    while (pos < stream_size) {
      if constexpr (kChunked) {
        if (w >= flush_at && !flush()) return refused();
      }
      if (pos >= limit) return truncated(pos);
      const unsigned flags = in[pos++];
      if (limit - (pos - 1) >= kMaxGroupBytes) {
        if (!group<true>(bulk_literals(flags), error)) return error;
      } else if (!group<false>(flags, error)) {
        return error;
      }
    }
    if (w != end) return fail(DecodeStatus::output_short, pos);
    if constexpr (kChunked) {
      if (!flush()) return refused();
    }
    return {DecodeStatus::ok, pos, decoded_size};
  }
};

}  // namespace

}  // namespace encode_detail
