// Test helper program.
//   pack_probe write OUT [PATH CONTENT]...   writes a pack of raw entries
//   pack_probe read BASE [PATH]...           opens BASE like the installer does and
//                                            prints where the pack came from
//                                            (resource, file or loose) and each entry

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "pak/archive.h"
#include "tests/pak/pack_builder.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  if (std::strcmp(argv[1], "write") == 0) {
    std::vector<pak_test::Entry> entries;
    for (int i = 3; i + 1 < argc; i += 2) entries.push_back({argv[i], pak_test::bytes_of(argv[i + 1])});
    const pak_test::Bytes pack = pak_test::PackBuilder::build(entries);
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(pack.data()), std::streamsize(pack.size()));
    return out ? 0 : 1;
  }
  PakArchive archive(argv[2], 5);
  std::printf("%s\n", archive.is_open == 0 ? "loose" : archive.file.is_open() ? "file" : "resource");
  for (int i = 3; i < argc; ++i) {
    EntrySlot* slot = archive.load_entry(argv[i]);
    if (slot == nullptr) {
      std::printf("%s: none\n", argv[i]);
      continue;
    }
    std::printf("%s: %.*s\n", argv[i], slot->size, reinterpret_cast<const char*>(slot->data));
    archive.release_entry(slot);
  }
  return 0;
}
