#pragma once
// EnCode encoder: compresses a block into an EnCode stream written at the sink's
// current position. The output is fully determined by the input.

#include <cstdint>

#include "encode/byte_sink.h"

// Writes the stream of data[0..size) to sink and returns its length, the 14-byte
// header included (the value patched into its stream_size field). Leaves the sink
// positioned at its end. Write failures show in sink.failed(). Safe to call from
// several threads at once: the window and the match tree belong to the call.
std::uint32_t encode_stream(ByteSink& sink, const std::uint8_t* data, std::int32_t size);
