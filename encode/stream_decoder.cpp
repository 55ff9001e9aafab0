#include "encode/stream_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr std::size_t kWindowSize = StreamDecoder::kWindowSize;
constexpr std::size_t kWindowMask = kWindowSize - 1;
constexpr std::size_t kBufferSize = StreamDecoder::kBufferSize;
// A flag byte and eight items of at most five bytes.
constexpr std::size_t kMaxGroupBytes = 41;
// Room kept free past the fill mark: a group's literals and references (8 x 17 bytes),
// the 32 bytes a reference copy may store past its end, and one bulk literal step.
constexpr std::size_t kGroupSlack = 256;
// The chunk is handed on once output reaches this buffer index. Runs go through their
// own room check, so a group that starts below it ends inside the buffer.
constexpr std::size_t kFlushAt = kBufferSize - kGroupSlack;

static_assert(8 * 17 + 32 + 8 <= kGroupSlack);

void copy8(std::uint8_t* to, const std::uint8_t* from) {
  std::uint64_t v;
  std::memcpy(&v, from, 8);
  std::memcpy(to, &v, 8);
}

void copy16(std::uint8_t* to, const std::uint8_t* from) {
  std::uint8_t v[16];
  std::memcpy(v, from, 16);
  std::memcpy(to, v, 16);
}

// The output lives in buf[0..kBufferSize): the bytes before index `w` are output, the
// last kWindowSize of them the window a reference reads from. A flush hands
// buf[kWindowSize..w) to the sink and moves the last kWindowSize output bytes to the
// front, so buf[kWindowSize] is always the first byte not yet handed on.
struct Decoding {
  Decoding(std::uint8_t* buf, DecodedSink& sink, const std::uint8_t* in, std::size_t available,
           const StreamHeader& header)
      : buf(buf),
        sink(sink),
        in(in),
        limit(std::min<std::size_t>(available, header.stream_size)),
        stream_size(header.stream_size),
        left(header.decoded_size),
        decoded_size(header.decoded_size) {}

  std::uint8_t* const buf;
  DecodedSink& sink;
  const std::uint8_t* const in;
  const std::size_t limit;        // min(available, stream_size)
  const std::size_t stream_size;  // where the items end
  std::size_t pos = kStreamHeaderSize;
  std::size_t w = kWindowSize;  // buffer index of the next output byte
  std::size_t left;             // output bytes still allowed: decoded_size - produced
  const std::size_t decoded_size;
  std::size_t first = kWindowSize;  // buffer index of output byte 0, or 0 once it has left the buffer
  std::size_t phase = 0;            // bytes handed on, mod 4096: index w is window slot (w + phase) & mask
  std::uint64_t flushed = 0;        // bytes the sink accepted

  std::size_t produced() const { return decoded_size - left; }
  DecodeResult fail(DecodeStatus status, std::size_t offset) {
    // Offer what was decoded before the fault; a refusal now changes nothing.
    if (w > kWindowSize) sink.write(buf + kWindowSize, w - kWindowSize);
    return {status, offset, produced()};
  }
  DecodeResult refused() const { return {DecodeStatus::sink_refused, pos, static_cast<std::size_t>(flushed)}; }

  // An item that needs bytes past `limit`: past stream_size, or past what is available.
  DecodeResult truncated(std::size_t item) {
    return fail(limit < stream_size ? DecodeStatus::truncated_stream : DecodeStatus::truncated_item, item);
  }

  bool flush() {
    const std::size_t size = w - kWindowSize;
    if (size == 0) return true;
    if (!sink.write(buf + kWindowSize, size)) return false;
    std::memmove(buf, buf + w - kWindowSize, kWindowSize);
    flushed += size;
    phase = (phase + size) & kWindowMask;
    first = first > size ? first - size : 0;
    w = kWindowSize;
    return true;
  }

  // A run that does not fit below kFlushAt: filled and handed on in pieces. Leaves w
  // at most kFlushAt.
  bool long_fill(std::uint8_t value, std::size_t length) {
    for (;;) {
      const std::size_t piece = std::min(length, kBufferSize - w);
      std::memset(buf + w, value, piece);
      w += piece;
      left -= piece;
      length -= piece;
      if (length == 0) break;
      if (!flush()) return false;
    }
    return w <= kFlushAt || flush();
  }

  // Decodes the group whose flag byte is at pos-1, like decode_stream's. With kRoomy the
  // caller has made sure that kMaxGroupBytes bytes from the flag byte on lie below
  // limit. Called with w below kFlushAt + 8; literals and references then need no room
  // check, runs make their own.
  template <bool kRoomy>
  bool group(unsigned flags, DecodeResult& error) {
    // Work on copies: stores through `buf` may alias the members.
    std::size_t pos = this->pos;
    std::size_t w = this->w;
    std::size_t left = this->left;
    std::size_t first = this->first;
    std::size_t phase = this->phase;
    std::uint8_t* const buf = this->buf;
    auto sync = [&] {
      this->pos = pos;
      this->w = w;
      this->left = left;
    };
    auto reload = [&] {
      w = this->w;
      left = this->left;
      first = this->first;
      phase = this->phase;
    };
    for (int j = 0; j < 8; ++j, flags >>= 1) {
      if (kRoomy) {
        // The stretch of literals up to the next other item, in one step; see decode_stream.
        const unsigned count = static_cast<unsigned>(std::countr_one(flags));
        if (left >= 8 && limit - pos >= 8) {
          copy8(buf + w, in + pos);
        } else {
          std::memcpy(buf + w, in + pos, std::min<std::size_t>(count, left));
          if (left < count) {
            w += left;
            pos += left;
            left = 0;
            sync();
            error = fail(DecodeStatus::output_overflow, pos);
            return false;
          }
        }
        w += count;
        left -= count;
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
        if (!kRoomy && pos >= limit) return sync(), error = truncated(item), false;
        if (left == 0) return sync(), error = fail(DecodeStatus::output_overflow, item), false;
        buf[w++] = in[pos++];
        --left;
        continue;
      }
      if (!kRoomy && limit - pos < 2) return sync(), error = truncated(item), false;
      const unsigned b0 = in[pos];
      const unsigned b1 = in[pos + 1];
      const unsigned n = b1 & 0x0F;
      if (n != 15) {
        pos += 2;
        const std::size_t length = n + 3;
        const std::size_t slot = ((b0 | (b1 & 0xF0) << 4) + 16) & kWindowMask;
        std::size_t distance = (w + phase - slot) & kWindowMask;
        if (distance == 0) distance = kWindowSize;
        if (distance > w - first) return sync(), error = fail(DecodeStatus::unwritten_slot, item), false;
        if (left < length) return sync(), error = fail(DecodeStatus::output_overflow, item), false;
        // The buffer has room for 32 bytes past w: copies may store past `length`, into
        // bytes later items overwrite.
        std::uint8_t* to = buf + w;
        const std::uint8_t* from = to - distance;
        if (distance >= 16) {
          copy16(to, from);
          copy16(to + 16, from + 16);
        } else if (distance >= 8) {
          copy8(to, from);
          copy8(to + 8, from + 8);
          copy8(to + 16, from + 16);
        } else if (distance == 1) {
          std::memset(to, *from, length);
        } else {
          // A pattern of 2 to 7 bytes; see decode_stream.
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
        }
        w += length;
        left -= length;
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
      if (left < length) return sync(), error = fail(DecodeStatus::output_overflow, item), false;
      if (w + length <= kFlushAt) {
        std::memset(buf + w, value, length);
        w += length;
        left -= length;
      } else {
        sync();
        if (!long_fill(value, length)) return error = refused(), false;
        reload();
      }
    }
    sync();
    return true;
  }

  DecodeResult run() {
    DecodeResult error;
    while (pos < stream_size) {
      if (w >= kFlushAt && !flush()) return refused();
      if (pos >= limit) return truncated(pos);
      const unsigned flags = in[pos++];
      if (limit - (pos - 1) >= kMaxGroupBytes) {
        // Groups of eight literals (stored data) in a tight loop.
        unsigned all = flags;
        while (all == 0xFF && left >= 8 && w < kFlushAt && limit - pos >= 8 + kMaxGroupBytes) {
          copy8(buf + w, in + pos);
          w += 8;
          left -= 8;
          pos += 8;
          all = in[pos++];
        }
        if (!group<true>(all, error)) return error;
      } else if (!group<false>(flags, error)) {
        return error;
      }
    }
    if (left != 0) return fail(DecodeStatus::output_short, pos);
    if (!flush()) return refused();
    return {DecodeStatus::ok, pos, decoded_size};
  }
};

}  // namespace

DecodeResult StreamDecoder::decode(const std::uint8_t* stream, std::size_t available, DecodedSink& sink) {
  StreamHeader header;
  const DecodeResult checked = read_stream_header(stream, available, header);
  if (!checked.ok()) return checked;
  Decoding decoding(buffer_, sink, stream, available, header);
  return decoding.run();
}

DecodeResult decode_stream_to(DecodedSink& sink, const std::uint8_t* stream, std::size_t available) {
  StreamDecoder decoder;
  return decoder.decode(stream, available, sink);
}
