// Encode then decode, at every level: every input must come back unchanged, the stream
// must report its own length and decode exactly within its own bytes; the exact level's
// stream must equal the plain model encoder's (for inputs up to 64 KiB; the model is
// slow), and the best level's must be no larger than it. A
// first byte of 0xA5 stretches the data into long runs (the run items), one of 0x5A
// into staircases (deep match trees).

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "encode/decoder.h"
#include "encode/encoder.h"
#include "tests/encode/model_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> input;
  if (size > 0 && data[0] == 0xA5) {
    // Expand: each pair (count, value) becomes count * 300 + count copies of value.
    for (std::size_t i = 1; i + 1 < size && input.size() < (300u << 10); i += 2) {
      input.insert(input.end(), data[i] * 301u, data[i + 1]);
    }
  } else if (size > 0 && data[0] == 0x5A) {
    // Staircases: each pair (width, steps) climbs `steps` values, each repeated
    // width % 24 + 1 times. Ascending keys make the match tree deep.
    std::uint8_t value = 0;
    for (std::size_t i = 1; i + 1 < size && input.size() < (24u << 10); i += 2) {
      for (unsigned step = 0; step < data[i + 1]; ++step, ++value) input.insert(input.end(), data[i] % 24 + 1u, value);
    }
  } else {
    input.assign(data, data + size);
  }

  std::uint32_t exact_length = 0;
  for (EncodeLevel level : {EncodeLevel::exact, EncodeLevel::fast, EncodeLevel::best}) {
    MemorySink sink;
    const std::uint32_t length = encode_stream(sink, input.data(), static_cast<std::int32_t>(input.size()), level);
    const std::vector<std::uint8_t>& stream = sink.bytes();
    if (sink.failed() || length != stream.size() || sink.position() != stream.size()) std::abort();

    if (level == EncodeLevel::exact) {
      exact_length = length;
      if (input.size() <= (64u << 10) && model_encode(input) != stream) std::abort();
    }
    // The best level's items cost at most the exact level's in bits; the final flag
    // byte may round that up by one byte.
    if (level == EncodeLevel::best && length > exact_length + 1) std::abort();

    auto in = std::make_unique<std::uint8_t[]>(stream.size());
    std::memcpy(in.get(), stream.data(), stream.size());
    auto out = std::make_unique<std::uint8_t[]>(input.size());
    const DecodeResult result = decode_stream(out.get(), input.size(), in.get(), stream.size());
    if (!result.ok() || result.produced != input.size()) std::abort();
    if (!input.empty() && std::memcmp(out.get(), input.data(), input.size()) != 0) std::abort();
  }
  return 0;
}
