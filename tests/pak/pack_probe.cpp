// Test helper program.
//   pack_probe write OUT [PATH CONTENT]...   writes a pack of raw entries
//   pack_probe read BASE [PATH]...           opens BASE like the installer does and
//                                            prints where the pack came from
//                                            (resource, file or loose) and each entry
//   pack_probe attach STUB OUT [NAME FILE]... STUB with the files attached as its
//                                            package, unchecked (for packs that
//                                            pak bundle refuses)

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pak/archive.h"
#include "platform/resource_table.h"
#include "tests/pak/pack_builder.h"

namespace {

std::vector<std::uint8_t> read_all(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int attach(int argc, char** argv) {
  if (argc < 4) return 2;
  std::vector<platform::NamedBlob> blobs;
  for (int i = 4; i + 1 < argc; i += 2) blobs.push_back({argv[i], read_all(argv[i + 1])});
  const auto bundled = platform::append_resource_table(read_all(argv[2]), blobs);
  if (!bundled) return 1;
  std::ofstream out(argv[3], std::ios::binary);
  out.write(reinterpret_cast<const char*>(bundled->data()), std::streamsize(bundled->size()));
  return out ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  if (std::strcmp(argv[1], "attach") == 0) return attach(argc, argv);
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
