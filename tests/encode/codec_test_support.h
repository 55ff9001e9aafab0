#pragma once
// Helpers shared by the codec tests: hex fixtures, one-call encode/decode through
// either decoder, a writer of items behind their flag bytes, a stream lister, and a
// plain model of the encoder to compare the optimised one against.

#include <cstdint>
#include <string>
#include <vector>

#include "encode/decoder.h"
#include "encode/stream_decoder.h"
#include "tests/encode/model_encoder.h"
#include "tests/support/test_bytes.h"

using test_support::Bytes;
using test_support::concat;
using test_support::hex;
using test_support::stream_of;
using test_support::to_hex;

Bytes repeat(std::uint8_t value, std::size_t count);

Bytes encode(const Bytes& input);

struct Decoded {
  DecodeResult result;
  Bytes output;
};
// Decodes into a buffer of exactly decoded_size bytes (or destination_size when
// given), handing the decoder a heap copy of exactly `available` stream bytes.
Decoded decode(const Bytes& stream, std::size_t available = SIZE_MAX, std::size_t destination_size = SIZE_MAX);

// Keeps every chunk the streaming decoder hands it and checks each write's size;
// refuses the write numbered refuse_at (from 0).
class RecordingSink final : public DecodedSink {
 public:
  explicit RecordingSink(std::size_t refuse_at = SIZE_MAX) : refuse_at_(refuse_at) {}
  bool write(const std::uint8_t* data, std::size_t size) override;
  Bytes bytes;

 private:
  std::size_t refuse_at_;
  std::size_t writes_ = 0;
  bool refused_ = false;
};

// Decodes an exact-size heap copy of stream[0..available) with the streaming decoder
// (decoder, or one of its own), so that the sanitizers see any read past its end.
Decoded stream_decode(const Bytes& stream, std::size_t available = SIZE_MAX, StreamDecoder* decoder = nullptr);

// Both decoders on the same bytes: same status, offset and produced, and the sink got
// what decode_stream wrote.
void expect_decoders_agree(const Bytes& stream, std::size_t available = SIZE_MAX, StreamDecoder* decoder = nullptr);

// Groups items behind flag bytes as a stream needs them.
class ItemWriter {
 public:
  void literal(std::uint8_t byte) { add({byte}, true); }
  void item(const Bytes& bytes) { add(bytes, false); }
  void long_run(std::uint8_t value, std::uint16_t w) {
    item({0xFF, 0xFF, value, static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8)});
  }
  // A reference of length 3..17 to the output byte `distance` back, at output offset `at`.
  void reference(std::size_t at, std::size_t distance, unsigned length) {
    const unsigned f = static_cast<unsigned>(at - distance - 16) & 0xFFF;
    item({static_cast<std::uint8_t>(f), static_cast<std::uint8_t>((f >> 8) << 4 | (length - 3))});
  }
  const Bytes& items() const { return items_; }

 private:
  void add(const Bytes& bytes, bool is_literal);
  Bytes items_;
  std::size_t flag_at_ = 0;
  int count_ = 0;
};

// n long runs of 69,649 bytes, values 1, 2, 3, ...
Bytes long_runs(int n);

// One item of a well-formed stream, as the decoder sees it.
struct Item {
  enum Kind { literal, reference, short_run, long_run } kind;
  std::size_t output_offset;  // where its output starts
  std::size_t length;         // bytes it produces
  std::size_t distance;       // references: how far back the copy starts
};
std::vector<Item> list_items(const Bytes& stream);
