#pragma once
// EnCode decoder: checked, allocation-free decoding of one stream.
//
// A stream is a 14-byte header ("EnCode", u32 decoded_size, u32 stream_size, both
// little-endian; stream_size counts the header) followed by groups of one flag byte
// and up to eight items (literal, back reference into the last 4096 output bytes,
// short run, long run).

#include <cstddef>
#include <cstdint>

enum class DecodeStatus {
  ok,
  truncated_header,       // fewer than 14 bytes available
  bad_magic,              // the first six bytes are not "EnCode"
  bad_stream_size,        // stream_size is below the 14 header bytes
  implausible_size,       // decoded_size is more than stream_size bytes could ever produce
  destination_too_small,  // destination_size is below decoded_size
  truncated_stream,       // the bytes available end before stream_size
  truncated_item,         // an item (or a flag byte's first item) runs past stream_size
  unwritten_slot,         // a reference reads a window slot this stream has not written
  output_overflow,        // the items produce more than decoded_size bytes
  output_short,           // the stream ends before decoded_size bytes are produced
  sink_refused,           // streaming only: the sink refused decoded bytes (a failed write)
};

struct DecodeResult {
  DecodeStatus status = DecodeStatus::ok;
  std::size_t offset = 0;    // stream offset of the item (or field) at fault
  std::size_t produced = 0;  // bytes written to destination
  bool ok() const { return status == DecodeStatus::ok; }
};

// One line naming the problem, for messages ("reference to an unwritten slot").
const char* decode_status_text(DecodeStatus status);

inline constexpr std::size_t kStreamHeaderSize = 14;
// The most bytes one item produces (a long run).
inline constexpr std::uint32_t kMaxItemOutput = 69649;

struct StreamHeader {
  std::uint32_t decoded_size = 0;
  std::uint32_t stream_size = 0;
};

// True when a stream of stream_bytes bytes (header included) can decode to
// decoded_size bytes. An item that produces more than 4112 bytes takes at least five
// stream bytes, so n bytes after the header produce at most 69,649 x ceil(n / 5).
// Callers check this before allocating decoded_size bytes for an untrusted stream.
bool decoded_size_plausible(std::uint32_t decoded_size, std::size_t stream_bytes);

// Reads and checks the header of the stream at stream[0..available): magic,
// stream_size of at least 14, and a decoded_size plausible for
// min(available, stream_size) bytes. Fills header whenever 14 bytes are available.
// Returns ok, truncated_header, bad_magic, bad_stream_size or implausible_size, with
// the offset of the field at fault. Reads nothing past the first 14 bytes.
DecodeResult read_stream_header(const std::uint8_t* stream, std::size_t available, StreamHeader& header);

// Decodes the stream at stream[0..available) into destination[0..destination_size).
// Never reads at or past min(available, stream_size) and never writes past
// destination_size (nor past decoded_size). The result is ok only for a well-formed
// stream: header accepted by read_stream_header, every item complete, no reference to
// a slot this stream has not written, and exactly decoded_size bytes produced into a
// destination of at least that size. On failure decoding stops at the item at fault;
// destination then holds `produced` decoded bytes, and bytes after them (up to
// decoded_size) may have been overwritten. Allocates nothing; safe to call from several
// threads at once (the output itself serves as the window).
DecodeResult decode_stream(std::uint8_t* destination, std::size_t destination_size, const std::uint8_t* stream,
                           std::size_t available);
