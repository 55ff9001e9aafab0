// Writing entries out as files below an archive's base path.

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "encode/decoder.h"
#include "pak/archive.h"
#include "pak/entry_path.h"
#include "pak/write_messages.h"
#include "platform/codepage.h"

namespace {

// Decodes a staged EnCode stream into a buffer of its decoded size. Null (with why
// set) when the stream does not decode cleanly. A decoded size that no stream of this
// length could produce is refused before anything is allocated.
std::unique_ptr<std::uint8_t[]> decode_whole(const std::uint8_t* stream, std::size_t stream_size,
                                             std::uint32_t& decoded_size, std::string& why) {
  if (stream_size < 14) {
    why = pak::DECODE_FAILED_TEXT + std::string("stream header is cut short");
    return nullptr;
  }
  decoded_size = load_u32(stream + 6);
  if (decoded_size > std::uint64_t(stream_size) * pak::MAX_EXPANSION) {
    why = pak::DECODE_FAILED_TEXT + std::string("decoded size is larger than the stream can hold");
    return nullptr;
  }
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[decoded_size == 0 ? 1 : decoded_size]);
  if (!buffer) {
    why = pak::DECODE_FAILED_TEXT + std::string("out of memory");
    return nullptr;
  }
  const DecodeResult result = decode_stream(buffer.get(), decoded_size, stream, stream_size);
  if (!result.ok()) {
    why = pak::DECODE_FAILED_TEXT + std::string(decode_status_text(result.status));
    return nullptr;
  }
  return buffer;
}

}  // namespace

namespace pak {

bool stream_decodes(const std::uint8_t* stream, std::size_t stream_size, std::string& why) {
  std::uint32_t size = 0;
  return decode_whole(stream, stream_size, size, why) != nullptr;
}

}  // namespace pak

int PakArchive::write_entry_file(const char* name) {
  if (name == nullptr) return 0;
  const std::string path = base_path + "\\" + name;
  auto report_problem = [&](const std::string& text) {
    if (reporter != nullptr) reporter->report(text, path);
  };
  if (const char* reason = pak::unsafe_path_reason(name)) {
    report_problem(reason);
    return 1;
  }
  // A staged directory is made by the files below it, never written as a file.
  if (pak::is_directory_path(name)) return 1;

  const std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
  std::unique_ptr<std::uint8_t[]> decoded;
  EntrySlot* slot = nullptr;
  if (PendingEntry* entry = find_pending(name)) {
    if (entry->encoded == 1) {
      std::uint32_t decoded_size = 0;
      std::string why;
      decoded = decode_whole(entry->data.data(), entry->data.size(), decoded_size, why);
      if (!decoded) {
        report_problem(why);
        return 1;
      }
      bytes = decoded.get();
      size = decoded_size;
    } else {
      bytes = entry->data.data();
      size = entry->data.size();
    }
  } else {
    slot = load_entry(name);
    if (slot == nullptr) return 0;
    bytes = slot->data;
    size = std::size_t(slot->size);
  }

  if (path.size() > PAK_MAX_PATH_LENGTH) {
    report_problem("file path is longer than 259 bytes");
  } else {
    // A read-only, hidden or system file must not stop the update.
    platform::reset_file_attributes(path);
    if (platform::write_file_replacing(path, platform::ByteView(bytes, size)) != platform::WriteStatus::ok)
      report_problem(pak::FILE_LOCKED_TEXT);
  }
  if (slot != nullptr) release_entry(slot);
  return 1;
}

void PakArchive::create_dirs(const char* path) {
  if (path == nullptr) return;
  const std::string_view text(path, std::min<std::size_t>(std::strlen(path), PAK_MAX_PATH_LENGTH));
  // From index 3 on, so that a drive root such as X:\ is stepped over; a 0x5C trail
  // byte of a double-byte character is no separator.
  for (std::size_t i = platform::find_separator(text, 0); i < text.size(); i = platform::find_separator(text, i + 1)) {
    if (i >= 3) platform::create_directory(std::string(text.substr(0, i)));
  }
}
