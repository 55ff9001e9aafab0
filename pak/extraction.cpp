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
  } else if (platform::WriteFolder* folder = folder_for_writes(); folder == nullptr) {
    report_problem("cannot open the folder to write into");
  } else {
    const platform::WriteStatus status =
        folder->write_file(platform::join_relative(write_base, name), platform::ByteView(bytes, size));
    if (const char* text = pak::write_problem_text(status)) report_problem(text);
  }
  if (slot != nullptr) release_entry(slot);
  return 1;
}

void PakArchive::make_entry_directories(const std::string& name) {
  platform::WriteFolder* folder = folder_for_writes();  // sets write_base
  if (folder == nullptr) return;
  const std::string directory(pak::directory_part(platform::join_relative(write_base, name)));
  if (!directory.empty()) folder->make_directories(std::string_view(directory).substr(0, directory.size() - 1));
}

void PakArchive::create_dirs(const char* path) {
  // Only directories below the base are made, through the write folder.
  if (path == nullptr || base_path.empty()) return;
  const std::string_view text(path);
  if (!text.starts_with(base_path)) return;
  std::string_view rest = text.substr(base_path.size());
  while (!rest.empty() && rest.front() == '\\') rest.remove_prefix(1);
  if (rest.size() + base_path.size() > PAK_MAX_PATH_LENGTH || pak::unsafe_path_reason(rest) != nullptr) return;
  make_entry_directories(std::string(rest));
}

namespace pak {

const char* write_problem_text(platform::WriteStatus status) {
  switch (status) {
    case platform::WriteStatus::ok:
      return nullptr;
    case platform::WriteStatus::link_in_way:
      return LINK_IN_WAY_TEXT;
    case platform::WriteStatus::bad_path:
      return "the path cannot be written on this system (too long or not a plain name)";
    case platform::WriteStatus::cannot_open:
    case platform::WriteStatus::write_failed:
      break;
  }
  return FILE_LOCKED_TEXT;
}

}  // namespace pak
