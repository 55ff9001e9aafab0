// Opens random bytes as a pack, then looks up and loads random paths and every path
// the walk finds, and runs the full check. Nothing may read outside the pack.
//
// Input: a 2-byte little-endian pack length, the pack bytes, then paths separated
// by newlines.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pak/archive.h"
#include "pak/pack_checks.h"
#include "pak/pack_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::size_t pack_size = std::size_t(data[0]) | std::size_t(data[1]) << 8;
  data += 2;
  size -= 2;
  if (pack_size > size) pack_size = size;
  // A buffer of exactly the pack's size, so that any read past it is caught.
  const std::vector<std::uint8_t> pack(data, data + pack_size);

  std::vector<std::string> paths;
  std::string path;
  for (std::size_t i = pack_size; i < size; ++i) {
    if (data[i] == '\n') {
      paths.push_back(path);
      path.clear();
    } else {
      path += char(data[i]);
    }
  }
  paths.push_back(path);

  PakArchive archive;
  if (archive.open_memory(pack.data(), pack.size(), 2) == 1) {
    pak::WalkCallbacks callbacks;
    callbacks.on_entry = [&](const pak::WalkEntry& entry) {
      if (paths.size() < 256) paths.emplace_back(entry.path);
    };
    pak::walk_pack(pack.data(), pack.size(), callbacks);
    for (const auto& wanted : paths) {
      archive.find_record(wanted.c_str());
      EntrySlot* slot = archive.load_entry(wanted.c_str());
      if (slot == nullptr) continue;
      // Touch every byte handed out.
      volatile std::uint8_t sum = 0;
      for (int i = 0; i < slot->size; ++i) sum = std::uint8_t(sum + slot->data[i]);
      archive.release_entry(slot);
    }
  }
  pak::check_pack(pack.data(), pack.size(), nullptr);
  return 0;
}
