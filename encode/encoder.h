#pragma once
// EnCode encoder: compresses a block into an EnCode stream written at the sink's
// current position. The output is fully determined by the input and the level.

#include <cstdint>

#include "encode/byte_sink.h"

enum class EncodeLevel {
  exact,  // the greedy parse over the match tree, byte for byte the prescribed stream
  fast,   // a greedy parse (one lazy step for short references) over a hash table of
          // recent positions: about five times faster than exact, a few per cent larger
  best,   // the cheapest items given the match tree's longest match at every offset
};

// Writes the stream of data[0..size) to sink and returns its length, the 14-byte
// header included (the value patched into its stream_size field). Leaves the sink
// positioned at its end. Write failures show in sink.failed(). Safe to call from
// several threads at once: the window and the match tree belong to the call.
std::uint32_t encode_stream(ByteSink& sink, const std::uint8_t* data, std::int32_t size,
                            EncodeLevel level = EncodeLevel::exact);
