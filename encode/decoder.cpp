#include "encode/decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr std::size_t kWindowSize = 4096;
constexpr std::size_t kWindowMask = kWindowSize - 1;
// A flag byte and eight items of at most five bytes.
constexpr std::size_t kMaxGroupBytes = 41;

std::uint32_t load_u32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

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

struct Decoder {
  std::uint8_t* out;
  std::size_t cap;  // decoded_size, at most destination_size
  std::size_t produced = 0;
  const std::uint8_t* in;
  std::size_t limit;        // min(available, stream_size)
  std::size_t stream_size;  // where the items end
  std::size_t pos = kStreamHeaderSize;

  DecodeResult fail(DecodeStatus status, std::size_t offset) const { return {status, offset, produced}; }

  // An item that needs bytes past `limit`: past stream_size, or past what is available.
  DecodeResult truncated(std::size_t item) const {
    return fail(limit < stream_size ? DecodeStatus::truncated_stream : DecodeStatus::truncated_item, item);
  }

  // Decodes the group whose flag byte is at pos-1. With kRoomy the caller has made sure
  // that kMaxGroupBytes bytes from the flag byte on lie below limit, so no item needs an
  // input check and the stream cannot end inside the group.
  template <bool kRoomy>
  bool group(unsigned flags, DecodeResult& error) {
    // Work on copies: stores through `out` may alias the members, which would force a
    // reload of both after every output byte.
    std::size_t pos = this->pos;
    std::size_t produced = this->produced;
    auto sync = [&] {
      this->pos = pos;
      this->produced = produced;
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
        const std::size_t room = cap - produced;
        if (room >= 8 && limit - pos >= 8) {
          copy8(out + produced, in + pos);
        } else {
          // No call with zero bytes: an empty destination may have no storage (null).
          if (const std::size_t n = std::min<std::size_t>(count, room); n != 0)
            std::memcpy(out + produced, in + pos, n);
          if (room < count) {
            produced += room;
            sync();
            error = fail(DecodeStatus::output_overflow, pos + room);
            return false;
          }
        }
        produced += count;
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
        if (produced >= cap) return sync(), error = fail(DecodeStatus::output_overflow, item), false;
        out[produced++] = in[pos++];
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
        std::size_t distance = (produced - slot) & kWindowMask;
        if (distance == 0) distance = kWindowSize;
        if (distance > produced) return sync(), error = fail(DecodeStatus::unwritten_slot, item), false;
        if (cap - produced < length) return sync(), error = fail(DecodeStatus::output_overflow, item), false;
        std::uint8_t* to = out + produced;
        const std::uint8_t* from = to - distance;
        if (distance >= 16 && cap - produced >= 32) {
          // Two 16-byte steps; the second reads only bytes before `to` or stored by the first.
          copy16(to, from);
          copy16(to + 16, from + 16);
        } else if (distance >= 8 && cap - produced >= 24) {
          // Whole 8-byte steps; each reads only bytes written before it. The tail past
          // `length` is rewritten by later items and stays below decoded_size.
          copy8(to, from);
          copy8(to + 8, from + 8);
          copy8(to + 16, from + 16);
        } else if (distance == 1) {
          std::memset(to, *from, length);
        } else if (cap - produced >= 24) {
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
        produced += length;
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
      if (cap - produced < length) return sync(), error = fail(DecodeStatus::output_overflow, item), false;
      std::memset(out + produced, value, length);
      produced += length;
    }
    sync();
    return true;
  }

  DecodeResult run() {
    DecodeResult error;
    while (pos < stream_size) {
      if (pos >= limit) return truncated(pos);
      const unsigned flags = in[pos++];
      if (limit - (pos - 1) >= kMaxGroupBytes) {
        // Groups of eight literals (stored data) in a tight loop while the next group
        // is still clear of the limit.
        unsigned all = flags;
        while (all == 0xFF && cap - produced >= 8 && limit - pos >= 8 + kMaxGroupBytes) {
          copy8(out + produced, in + pos);
          produced += 8;
          pos += 8;
          all = in[pos++];
        }
        if (!group<true>(all, error)) return error;
      } else if (!group<false>(flags, error)) {
        return error;
      }
    }
    if (produced != cap) return fail(DecodeStatus::output_short, pos);
    return {DecodeStatus::ok, pos, produced};
  }
};

}  // namespace

const char* decode_status_text(DecodeStatus status) {
  switch (status) {
    case DecodeStatus::ok:
      return "ok";
    case DecodeStatus::truncated_header:
      return "stream shorter than its 14-byte header";
    case DecodeStatus::bad_magic:
      return "stream does not start with \"EnCode\"";
    case DecodeStatus::bad_stream_size:
      return "stream size smaller than the header";
    case DecodeStatus::implausible_size:
      return "decoded size larger than the stream can produce";
    case DecodeStatus::destination_too_small:
      return "destination smaller than the decoded size";
    case DecodeStatus::truncated_stream:
      return "stream data ends before its stated size";
    case DecodeStatus::truncated_item:
      return "item runs past the end of the stream";
    case DecodeStatus::unwritten_slot:
      return "reference to an unwritten slot";
    case DecodeStatus::output_overflow:
      return "items produce more than the decoded size";
    case DecodeStatus::output_short:
      return "stream ends before the decoded size is reached";
    case DecodeStatus::sink_refused:
      return "decoded bytes could not be written";
  }
  return "unknown decode status";
}

bool decoded_size_plausible(std::uint32_t decoded_size, std::size_t stream_bytes) {
  if (stream_bytes <= kStreamHeaderSize) return decoded_size == 0;
  const std::uint64_t item_bytes = stream_bytes - kStreamHeaderSize;
  const std::uint64_t max_items = item_bytes / 5 + (item_bytes % 5 != 0);
  // Compare by division: the product may exceed 64 bits for a huge stream_bytes.
  return decoded_size / kMaxItemOutput + (decoded_size % kMaxItemOutput != 0) <= max_items;
}

DecodeResult read_stream_header(const std::uint8_t* stream, std::size_t available, StreamHeader& header) {
  if (available < kStreamHeaderSize) return {DecodeStatus::truncated_header, available, 0};
  header.decoded_size = load_u32(stream + 6);
  header.stream_size = load_u32(stream + 10);
  if (std::memcmp(stream, "EnCode", 6) != 0) return {DecodeStatus::bad_magic, 0, 0};
  if (header.stream_size < kStreamHeaderSize) return {DecodeStatus::bad_stream_size, 10, 0};
  if (!decoded_size_plausible(header.decoded_size, std::min<std::size_t>(available, header.stream_size))) {
    return {DecodeStatus::implausible_size, 6, 0};
  }
  return {DecodeStatus::ok, 0, 0};
}

DecodeResult decode_stream(std::uint8_t* destination, std::size_t destination_size, const std::uint8_t* stream,
                           std::size_t available) {
  StreamHeader header;
  const DecodeResult checked = read_stream_header(stream, available, header);
  if (!checked.ok()) return checked;
  if (destination_size < header.decoded_size) return {DecodeStatus::destination_too_small, 6, 0};
  Decoder decoder{
      destination,       header.decoded_size, 0, stream, std::min<std::size_t>(available, header.stream_size),
      header.stream_size};
  return decoder.run();
}
