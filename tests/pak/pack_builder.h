#pragma once
// Test and benchmark helper: builds pack bytes from a list of entries, so fixtures
// are made from tables instead of blobs (EnCode streams: tests/support/test_bytes.h).

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pak/pak_format.h"
#include "platform/codepage.h"
#include "tests/support/test_bytes.h"

namespace pak_test {

using test_support::Bytes;
using test_support::bytes_of;
using test_support::literal_stream;
using test_support::stream_of;

// One entry: its full path inside the pack exactly as it is to be stored (not folded
// here), e.g. "sub\\beta.bin". A path ending in a backslash makes an empty directory.
struct Entry {
  std::string path;
  Bytes bytes;
};

// Lays out a pack depth first in record order, names sorted as unsigned bytes, the way
// the writer places it: each block, then each record's bytes or subtree in table order.
class PackBuilder {
 public:
  static Bytes build(const std::vector<Entry>& entries) {
    Node root;
    for (const auto& entry : entries) root.add(entry.path, entry.bytes);
    Bytes pack;
    root.write(pack);
    return pack;
  }

 private:
  struct Node {
    std::map<std::string, std::unique_ptr<Node>> directories;  // name with its backslash
    std::map<std::string, Bytes> files;

    void add(std::string_view path, const Bytes& bytes) {
      const std::size_t separator = platform::find_separator(path, 0);
      if (separator == path.size()) {
        files[std::string(path)] = bytes;
        return;
      }
      auto& child = directories[std::string(path.substr(0, separator + 1))];
      if (!child) child = std::make_unique<Node>();
      if (separator + 1 < path.size()) child->add(path.substr(separator + 1), bytes);
    }

    void write(Bytes& pack) const {
      // std::string orders as unsigned bytes, a prefix first: the table order.
      struct Child {
        std::string name;
        const Node* directory;
        const Bytes* bytes;
      };
      std::vector<Child> names;
      for (const auto& [name, node] : directories) names.push_back({name, node.get(), nullptr});
      for (const auto& [name, bytes] : files) names.push_back({name, nullptr, &bytes});
      std::sort(names.begin(), names.end(), [](const Child& a, const Child& b) { return a.name < b.name; });
      const std::size_t block = pack.size();
      const std::size_t count = names.size() + 1;
      pack.resize(block + 4 + count * PAK_RECORD_SIZE, 0);
      store_u32(pack.data() + block, std::uint32_t(count));
      for (std::size_t i = 0; i < names.size(); ++i) {
        const std::size_t record = block + 4 + i * PAK_RECORD_SIZE;
        store_u32(pack.data() + record, std::uint32_t(pack.size()));
        std::memcpy(pack.data() + record + 4, names[i].name.data(), std::min(names[i].name.size(), PAK_NAME_SIZE));
        if (names[i].directory) {
          names[i].directory->write(pack);
        } else {
          pack.insert(pack.end(), names[i].bytes->begin(), names[i].bytes->end());
        }
      }
      store_u32(pack.data() + block + 4 + names.size() * PAK_RECORD_SIZE, std::uint32_t(pack.size()));
    }
  };
};

// Offset of record index of the block at block_offset.
inline std::size_t record_at(std::size_t block_offset, std::size_t index) {
  return block_offset + 4 + index * PAK_RECORD_SIZE;
}

inline void put_u32(Bytes& pack, std::size_t at, std::uint32_t value) { store_u32(pack.data() + at, value); }

}  // namespace pak_test
