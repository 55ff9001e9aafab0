#include "pak/entry_decoding.h"

#include <cstring>
#include <new>

#include "encode/decoder.h"
#include "encode/stream_decoder.h"

namespace pak {
namespace {

// Why entry cannot be decoded before looking at its items, or empty. A decoded size
// that no stream of the entry's length can produce is damage, and no buffer is
// allocated for it.
std::string refuse_before_decoding(ByteView entry) {
  if (!looks_encoded(entry)) return "not an EnCode stream";
  const std::uint32_t decoded_size = encoded_size(entry);
  if (!decoded_size_plausible(decoded_size, entry.size())) {
    return "decoded size " + std::to_string(decoded_size) + " too large for a stream of " +
           std::to_string(entry.size()) + " bytes";
  }
  return {};
}

// The loader knows a stream by its first four bytes; the decoder wants the whole
// magic, so an entry with other bytes 4 and 5 is decoded from a mended copy held in
// `mended`. Returns the stream to decode, or null when no copy can be had.
const std::uint8_t* stream_of_entry(ByteView entry, std::vector<std::uint8_t>& mended) {
  if (std::memcmp(entry.data() + 4, "de", 2) == 0) return entry.data();
  try {
    mended.assign(entry.begin(), entry.end());
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  mended[4] = 'd';
  mended[5] = 'e';
  return mended.data();
}

std::string stream_problem(const DecodeResult& decoded) {
  return std::string(decode_status_text(decoded.status)) + " at stream offset " + std::to_string(decoded.offset);
}

}  // namespace

DecodedEntry decode_entry_checked(ByteView entry) {
  DecodedEntry result;
  result.problem = refuse_before_decoding(entry);
  if (!result.problem.empty()) return result;
  const std::uint32_t decoded_size = encoded_size(entry);
  try {
    result.bytes.resize(decoded_size);
  } catch (const std::bad_alloc&) {
    result.problem = "no memory for " + std::to_string(decoded_size) + " decoded bytes";
    return result;
  }
  std::vector<std::uint8_t> mended;
  const std::uint8_t* stream = stream_of_entry(entry, mended);
  if (stream == nullptr) {
    result.problem = "no memory for a copy of the stream";
    result.bytes = {};
    return result;
  }
  const DecodeResult decoded = decode_stream(result.bytes.data(), result.bytes.size(), stream, entry.size());
  if (!decoded.ok()) {
    result.problem = stream_problem(decoded);
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

StreamedEntry decode_entry_to(ByteView entry, DecodedSink& sink) {
  StreamedEntry result;
  result.problem = refuse_before_decoding(entry);
  if (!result.problem.empty()) return result;
  std::vector<std::uint8_t> mended;
  const std::uint8_t* stream = stream_of_entry(entry, mended);
  if (stream == nullptr) {
    result.problem = "no memory for a copy of the stream";
    return result;
  }
  const DecodeResult decoded = decode_stream_to(sink, stream, entry.size());
  if (!decoded.ok()) {
    result.sink_refused = decoded.status == DecodeStatus::sink_refused;
    result.problem = stream_problem(decoded);
    return result;
  }
  result.ok = true;
  result.decoded_size = decoded.produced;
  return result;
}

StreamedEntry check_entry_stream(ByteView entry) {
  CountingSink sink;
  return decode_entry_to(entry, sink);
}

}  // namespace pak
