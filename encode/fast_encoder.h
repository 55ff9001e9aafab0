#pragma once
// The fast level of the encoder: a greedy parse, with one lazy step for short
// references, over a hash table of recent positions.

#include <cstddef>
#include <cstdint>

#include "encode/stream_writer.h"

namespace encode_detail {

// Writes items for data[0..size) (size above 0) to writer.
void encode_fast(StreamWriter& writer, const std::uint8_t* data, std::size_t size);

}  // namespace encode_detail
