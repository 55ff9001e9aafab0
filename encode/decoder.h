#pragma once
// EnCode decoder: checked, allocation-free decoding of one stream.

#include <cstddef>
#include <cstdint>

enum class DecodeStatus {
  ok,
  // The codec issue fills in the remaining statuses (truncated header, bad magic,
  // truncated item, reference to an unwritten slot, output overflow, size mismatch ...).
};

struct DecodeResult {
  DecodeStatus status = DecodeStatus::ok;
  std::size_t offset = 0;    // stream offset of the item (or field) at fault
  std::size_t produced = 0;  // bytes written to destination
  bool ok() const { return status == DecodeStatus::ok; }
};

// One line naming the problem, for messages ("reference to an unwritten slot").
const char* decode_status_text(DecodeStatus status);

// Decodes the stream at stream[0..available) into destination[0..destination_size).
// Never reads at or past min(available, stream_size) and never writes past
// destination_size. The result is ok only for a well-formed stream: magic present,
// every item complete, no reference to a slot this stream has not written, and
// exactly decoded_size bytes produced into a destination of at least that size.
DecodeResult decode_stream(std::uint8_t* destination, std::size_t destination_size, const std::uint8_t* stream,
                           std::size_t available);
