#pragma once
// Decoding a pack entry that is an EnCode stream, bounded by the entry's own bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "encode/decoded_sink.h"
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

struct StreamedEntry {
  bool ok = false;
  bool sink_refused = false;       // not ok because the sink refused a write
  std::uint64_t decoded_size = 0;  // the stream's decoded_size, when ok
  std::string problem;             // why not, when not ok
};

// Decodes entry (for which looks_encoded holds) into sink, in chunks of at most
// StreamDecoder::kChunkSize bytes, never holding more than the window and one chunk
// whatever decoded_size claims. Accepts and refuses exactly the entries that
// decode_entry_checked does, with the same problem texts, except that no buffer of
// decoded_size is needed. On failure the sink may have received part of the output.
StreamedEntry decode_entry_to(ByteView entry, DecodedSink& sink);

// Whether entry (for which looks_encoded holds) decodes as a sound stream, checked by
// decoding into a CountingSink: nothing of the output is kept.
StreamedEntry check_entry_stream(ByteView entry);

}  // namespace pak
