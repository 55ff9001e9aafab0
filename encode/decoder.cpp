#include "encode/decoder.h"

#include <algorithm>
#include <cstring>

#include "encode/decode_loop.h"

namespace {

std::uint32_t load_u32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

}  // namespace

const char* decode_status_text(DecodeStatus status) {
  switch (status) {
    case DecodeStatus::ok:
      return "ok";
    case DecodeStatus::truncated_header:
      return "stream shorter than its 14-byte header";
    case DecodeStatus::bad_magic:
      return "stream does not start with \"EnCode\"";
    case DecodeStatus::bad_stream_size:
      return "stream size smaller than the header";
    case DecodeStatus::implausible_size:
      return "decoded size larger than the stream can produce";
    case DecodeStatus::destination_too_small:
      return "destination smaller than the decoded size";
    case DecodeStatus::truncated_stream:
      return "stream data ends before its stated size";
    case DecodeStatus::truncated_item:
      return "item runs past the end of the stream";
    case DecodeStatus::unwritten_slot:
      return "reference to an unwritten slot";
    case DecodeStatus::output_overflow:
      return "items produce more than the decoded size";
    case DecodeStatus::output_short:
      return "stream ends before the decoded size is reached";
    case DecodeStatus::sink_refused:
      return "decoded bytes could not be written";
  }
  return "unknown decode status";
}

bool decoded_size_plausible(std::uint32_t decoded_size, std::size_t stream_bytes) {
  if (stream_bytes <= kStreamHeaderSize) return decoded_size == 0;
  const std::uint64_t item_bytes = stream_bytes - kStreamHeaderSize;
  const std::uint64_t max_items = item_bytes / 5 + (item_bytes % 5 != 0);
  // Compare by division: the product may exceed 64 bits for a huge stream_bytes.
  return decoded_size / kMaxItemOutput + (decoded_size % kMaxItemOutput != 0) <= max_items;
}

DecodeResult read_stream_header(const std::uint8_t* stream, std::size_t available, StreamHeader& header) {
  if (available < kStreamHeaderSize) return {DecodeStatus::truncated_header, available, 0};
  header.decoded_size = load_u32(stream + 6);
  header.stream_size = load_u32(stream + 10);
  if (std::memcmp(stream, "EnCode", 6) != 0) return {DecodeStatus::bad_magic, 0, 0};
  if (header.stream_size < kStreamHeaderSize) return {DecodeStatus::bad_stream_size, 10, 0};
  if (!decoded_size_plausible(header.decoded_size, std::min<std::size_t>(available, header.stream_size))) {
    return {DecodeStatus::implausible_size, 6, 0};
  }
  return {DecodeStatus::ok, 0, 0};
}

DecodeResult decode_stream(std::uint8_t* destination, std::size_t destination_size, const std::uint8_t* stream,
                           std::size_t available) {
  StreamHeader header;
  const DecodeResult checked = read_stream_header(stream, available, header);
  if (!checked.ok()) return checked;
  if (destination_size < header.decoded_size) return {DecodeStatus::destination_too_small, 6, 0};
  encode_detail::ItemLoop<false> items(destination, destination_size, nullptr, stream, available, header);
  return items.run();
}
