#include "encode/stream_decoder.h"

#include "encode/decode_loop.h"

static_assert(StreamDecoder::kWindowSize == encode_detail::kDecodeWindowSize);

DecodeResult StreamDecoder::decode(const std::uint8_t* stream, std::size_t available, DecodedSink& sink) {
  StreamHeader header;
  const DecodeResult checked = read_stream_header(stream, available, header);
  if (!checked.ok()) return checked;
  encode_detail::ItemLoop<true> items(buffer_, kBufferSize, &sink, stream, available, header);
  return items.run();
}

DecodeResult decode_stream_to(DecodedSink& sink, const std::uint8_t* stream, std::size_t available) {
  StreamDecoder decoder;
  return decoder.decode(stream, available, sink);
}
