#pragma once
// Decoding a pack entry that is an EnCode stream, bounded by the entry's own bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pak/directory_view.h"

namespace pak {

struct DecodedEntry {
  bool ok = false;
  std::vector<std::uint8_t> bytes;  // decoded_size bytes when ok
  std::string problem;              // why not, when not ok
};

// Decodes entry (for which looks_encoded holds) into a new buffer of its decoded_size.
// The stream is read only within entry. Not ok when the decoded size cannot come from
// a stream of that length, the buffer cannot be had, or the stream is malformed.
// Whatever bytes 4 and 5 of the entry hold, it is decoded as a stream.
DecodedEntry decode_entry_checked(ByteView entry);

// The decoded bytes, or nothing when decode_entry_checked is not ok.
std::optional<std::vector<std::uint8_t>> decode_entry(ByteView entry);

}  // namespace pak
