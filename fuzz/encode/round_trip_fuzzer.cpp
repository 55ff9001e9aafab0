// Encode then decode: every input must come back unchanged, the stream must report
// its own length, it must decode exactly within its own bytes, and it must equal the
// stream of the plain model encoder (for inputs up to 64 KiB; the model is slow). The first input
// byte can stretch the data with long runs to reach the run items.

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
  } else {
    input.assign(data, data + size);
  }

  MemorySink sink;
  const std::uint32_t length = encode_stream(sink, input.data(), static_cast<std::int32_t>(input.size()));
  const std::vector<std::uint8_t>& stream = sink.bytes();
  if (sink.failed() || length != stream.size() || sink.position() != stream.size()) std::abort();

  if (input.size() <= (64u << 10) && model_encode(input) != stream) std::abort();

  auto in = std::make_unique<std::uint8_t[]>(stream.size());
  std::memcpy(in.get(), stream.data(), stream.size());
  auto out = std::make_unique<std::uint8_t[]>(input.size());
  const DecodeResult result = decode_stream(out.get(), input.size(), in.get(), stream.size());
  if (!result.ok() || result.produced != input.size()) std::abort();
  if (!input.empty() && std::memcmp(out.get(), input.data(), input.size()) != 0) std::abort();
  return 0;
}
