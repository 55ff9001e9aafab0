// Decoder on arbitrary streams with arbitrary destination and available sizes. The
// stream and the destination are exact-size heap blocks, so any access past either
// end is caught. A stream the decoder accepts must decode to what a plain
// window-based decoder produces from it. The streaming decoder must return what
// decode_stream returns into a destination of decoded_size bytes, hand its sink the
// same bytes, and stop cleanly when the sink refuses a write.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "encode/decoder.h"
#include "encode/stream_decoder.h"

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

// Builds a well-formed stream from a description: each description byte picks an item
// kind (literal, reference, short run, long run) and the bytes after it fill the item;
// references only reach back over output already produced. Random streams rarely hold
// runs and full groups; these hold them all the time.
std::vector<std::uint8_t> synthesize(const std::uint8_t* d, std::size_t n) {
  std::vector<std::uint8_t> s = {'E', 'n', 'C', 'o', 'd', 'e', 0, 0, 0, 0, 0, 0, 0, 0};
  std::uint64_t produced = 0;
  std::size_t flag_at = 0;
  int items = 8;
  std::size_t i = 0;
  while (i + 6 <= n && produced < (1u << 18)) {
    if (items == 8) {
      flag_at = s.size();
      s.push_back(0);
      items = 0;
    }
    const unsigned kind = d[i] % 4;
    if (kind == 0 || (kind == 1 && produced == 0)) {
      s[flag_at] |= static_cast<std::uint8_t>(1u << items);
      s.push_back(d[i + 1]);
      produced += 1;
    } else if (kind == 1) {
      const unsigned length = 3 + d[i + 1] % 15;
      const std::uint64_t reach = produced < 4096 ? produced : 4096;
      const unsigned distance = 1 + static_cast<unsigned>((d[i + 2] | d[i + 3] << 8) % reach);
      const unsigned f = static_cast<unsigned>(produced - distance - 16) & 0xFFF;
      s.push_back(static_cast<std::uint8_t>(f));
      s.push_back(static_cast<std::uint8_t>((f >> 8) << 4 | (length - 3)));
      produced += length;
    } else if (kind == 2) {
      const unsigned f = (d[i + 1] | d[i + 2] << 8) % 4095;
      s.insert(s.end(), {static_cast<std::uint8_t>(f), static_cast<std::uint8_t>((f >> 8) << 4 | 0x0F), d[i + 3]});
      produced += f + 18;
    } else {
      s.insert(s.end(), {0xFF, 0xFF, d[i + 1], d[i + 2], d[i + 3]});
      produced += d[i + 2] + 256u * d[i + 3] + 4114;
    }
    ++items;
    i += 4;
  }
  for (int b = 0; b < 4; ++b) s[6 + b] = static_cast<std::uint8_t>(produced >> (8 * b));
  for (int b = 0; b < 4; ++b) s[10 + b] = static_cast<std::uint8_t>(s.size() >> (8 * b));
  return s;
}

// Keeps what it is handed; refuses the write numbered refuse_at (from 0).
class KeepingSink final : public DecodedSink {
 public:
  explicit KeepingSink(std::size_t refuse_at) : refuse_at_(refuse_at) {}
  bool write(const std::uint8_t* data, std::size_t size) override {
    if (size == 0 || size > StreamDecoder::kChunkSize || refused) std::abort();
    if (writes_++ == refuse_at_) return refused = true, false;
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  std::vector<std::uint8_t> bytes;
  bool refused = false;

 private:
  std::size_t refuse_at_;
  std::size_t writes_ = 0;
};

bool same(const DecodeResult& a, const DecodeResult& b) {
  return a.status == b.status && a.offset == b.offset && a.produced == b.produced;
}

// The streaming decoder on in[0..available), against decode_stream's result and output
// for a destination of exactly decoded_size bytes. One decoder serves every input, so
// state left over from an earlier stream would show.
void compare_streaming(const std::uint8_t* in, std::size_t available, const DecodeResult& whole,
                       const std::uint8_t* whole_output, unsigned refuse_choice) {
  static StreamDecoder decoder;
  KeepingSink sink(SIZE_MAX);
  const DecodeResult streamed = decoder.decode(in, available, sink);
  if (!same(streamed, whole) || sink.bytes.size() != whole.produced) std::abort();
  if (whole.produced != 0 && std::memcmp(sink.bytes.data(), whole_output, whole.produced) != 0) std::abort();

  // Refusing a write: either it stops the decode with sink_refused after the accepted
  // bytes, or the decode ended (possibly in a fault it offers bytes for) before that.
  KeepingSink refusing(refuse_choice % 8);
  const DecodeResult r = decoder.decode(in, available, refusing);
  if (r.status == DecodeStatus::sink_refused) {
    if (!refusing.refused || r.produced != refusing.bytes.size() || r.offset > available) std::abort();
  } else if (r.status != whole.status || r.offset != whole.offset || r.produced != whole.produced) {
    std::abort();
  }
  if (!refusing.bytes.empty() && std::memcmp(refusing.bytes.data(), whole_output, refusing.bytes.size()) != 0) {
    std::abort();
  }
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
  const bool synthesized = (destination_choice & 0x4000) != 0;
  if (synthesized) {
    stream = synthesize(data, size);
    size = stream.size();
  } else if (size >= 14 && (available_choice & 0x8000)) {
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
  if (!header_ok || destination_size == header.decoded_size) {
    compare_streaming(in.get(), available, result, out.get(), destination_choice >> 8);
  } else {
    // decoded_size passed read_stream_header's plausibility check: bounded by the stream.
    auto exact = std::make_unique<std::uint8_t[]>(header.decoded_size);
    const DecodeResult whole = decode_stream(exact.get(), header.decoded_size, in.get(), available);
    compare_streaming(in.get(), available, whole, exact.get(), destination_choice >> 8);
  }
  // A synthesized stream given whole, into a destination of its decoded size, is valid.
  if (synthesized && available == size && destination_size == header.decoded_size && !result.ok()) std::abort();
  if (!result.ok()) return 0;
  if (!header_ok || result.produced != header.decoded_size) std::abort();
  const std::vector<std::uint8_t> expected = plain_decode(in.get(), header.stream_size);
  if (expected.size() != result.produced ||
      (result.produced != 0 && std::memcmp(expected.data(), out.get(), result.produced) != 0)) {
    std::abort();
  }
  return 0;
}
