#pragma once
// Helpers shared by the codec tests: hex fixtures, one-call encode/decode, a stream
// lister, and a plain model of the encoder to compare the optimised one against.

#include <cstdint>
#include <string>
#include <vector>

#include "encode/decoder.h"

using Bytes = std::vector<std::uint8_t>;

// "45 6E 43" -> bytes; spaces and commas are ignored.
Bytes hex(const std::string& text);
std::string to_hex(const Bytes& bytes);
Bytes repeat(std::uint8_t value, std::size_t count);
Bytes concat(std::initializer_list<Bytes> parts);
// The 14-byte header followed by items; stream_size is set to the total length.
Bytes stream_of(std::uint32_t decoded_size, const Bytes& items);

Bytes encode(const Bytes& input);

struct Decoded {
  DecodeResult result;
  Bytes output;
};
// Decodes into a buffer of exactly decoded_size bytes (or destination_size when
// given), handing the decoder a heap copy of exactly `available` stream bytes.
Decoded decode(const Bytes& stream, std::size_t available = SIZE_MAX, std::size_t destination_size = SIZE_MAX);

// One item of a well-formed stream, as the decoder sees it.
struct Item {
  enum Kind { literal, reference, short_run, long_run } kind;
  std::size_t output_offset;  // where its output starts
  std::size_t length;         // bytes it produces
  std::size_t distance;       // references: how far back the copy starts
};
std::vector<Item> list_items(const Bytes& stream);

// The encoder written as plainly as possible: modular window arithmetic, byte by byte
// key comparison, one write per group.
Bytes model_encode(const Bytes& input);
