#include "pak/entry_decoding.h"

#include <cstring>
#include <new>

#include "encode/decoder.h"

namespace pak {

DecodedEntry decode_entry_checked(ByteView entry) {
  DecodedEntry result;
  if (!looks_encoded(entry)) {
    result.problem = "not an EnCode stream";
    return result;
  }
  const std::uint32_t decoded_size = encoded_size(entry);
  // A decoded size that no stream of the entry's length can produce is damage, and no
  // buffer is allocated for it.
  if (!decoded_size_plausible(decoded_size, entry.size())) {
    result.problem = "decoded size " + std::to_string(decoded_size) + " too large for a stream of " +
                     std::to_string(entry.size()) + " bytes";
    return result;
  }
  try {
    result.bytes.resize(decoded_size);
  } catch (const std::bad_alloc&) {
    result.problem = "no memory for " + std::to_string(decoded_size) + " decoded bytes";
    return result;
  }
  // The loader knows a stream by its first four bytes; the decoder wants the whole
  // magic, so an entry with other bytes 4 and 5 is decoded from a mended copy.
  std::vector<std::uint8_t> mended;
  const std::uint8_t* stream = entry.data();
  if (std::memcmp(entry.data() + 4, "de", 2) != 0) {
    try {
      mended.assign(entry.begin(), entry.end());
    } catch (const std::bad_alloc&) {
      result.problem = "no memory for a copy of the stream";
      return result;
    }
    mended[4] = 'd';
    mended[5] = 'e';
    stream = mended.data();
  }
  const DecodeResult decoded = decode_stream(result.bytes.data(), result.bytes.size(), stream, entry.size());
  if (!decoded.ok()) {
    result.problem =
        std::string(decode_status_text(decoded.status)) + " at stream offset " + std::to_string(decoded.offset);
    result.bytes = {};
    return result;
  }
  result.ok = true;
  return result;
}

std::optional<std::vector<std::uint8_t>> decode_entry(ByteView entry) {
  DecodedEntry decoded = decode_entry_checked(entry);
  if (!decoded.ok) return std::nullopt;
  return std::move(decoded.bytes);
}

}  // namespace pak
