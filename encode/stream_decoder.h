#pragma once
// Streaming EnCode decoder: decodes a stream of any decoded size in bounded memory,
// the 4096-byte window and one chunk of output, handing the output to a DecodedSink.

#include <cstddef>
#include <cstdint>

#include "encode/decoded_sink.h"
#include "encode/decoder.h"

class StreamDecoder {
 public:
  // The most bytes handed to the sink in one write.
  static constexpr std::size_t kChunkSize = 64 * 1024;

  // Decodes the stream at stream[0..available) and hands its decoded bytes, in order,
  // to sink in writes of at most kChunkSize bytes. Reads, checks and reports exactly
  // as decode_stream does into a destination of decoded_size bytes: same status,
  // offset and produced for every input (destination_too_small never occurs), with one
  // more outcome:
  //   sink_refused: sink.write returned false. Decoding stopped; offset is how far the
  //   stream was read, produced the number of bytes the sink accepted.
  // On a stream fault the bytes decoded before it (`produced`) are handed to the sink
  // as well, before the fault is returned. Never holds more than the window and one
  // chunk, whatever decoded_size claims; allocates nothing. One StreamDecoder decodes
  // one stream at a time.
  DecodeResult decode(const std::uint8_t* stream, std::size_t available, DecodedSink& sink);

  // Its whole working memory: the window of the last 4096 output bytes followed by
  // the chunk being filled.
  static constexpr std::size_t kWindowSize = 4096;
  static constexpr std::size_t kBufferSize = kWindowSize + kChunkSize;

 private:
  std::uint8_t buffer_[kBufferSize];
};

// Decodes with a StreamDecoder of its own on the stack (about 70 KB); see
// StreamDecoder::decode.
DecodeResult decode_stream_to(DecodedSink& sink, const std::uint8_t* stream, std::size_t available);
