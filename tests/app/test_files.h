#pragma once
// Files and small packs for the installer's tests (scratch folders: tests/support).

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "pak/pak_format.h"
#include "platform/resources.h"
#include "tests/support/scratch_dir.h"

using test_support::ScratchDir;

inline void write_bytes(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A pack of raw entries laid out as the pack writer lays it out. files maps full
// entry paths (folded, "\" between levels) to their bytes.
inline std::string make_pack(const std::map<std::string, std::string>& files) {
  struct Node {
    std::string bytes;
    std::map<std::string, std::unique_ptr<Node>> children;  // names sort as unsigned bytes
    bool is_dir = false;
  };
  Node root;
  root.is_dir = true;
  for (const auto& [path, bytes] : files) {
    Node* node = &root;
    std::size_t start = 0;
    for (std::size_t slash; (slash = path.find('\\', start)) != std::string::npos; start = slash + 1) {
      auto& child = node->children[path.substr(start, slash - start + 1)];
      if (!child) child = std::make_unique<Node>();
      child->is_dir = true;
      node = child.get();
    }
    auto& leaf = node->children[path.substr(start)];
    leaf = std::make_unique<Node>();
    leaf->bytes = bytes;
  }
  std::string pack;
  auto put_u32 = [&](std::size_t at, std::uint32_t value) {
    store_u32(reinterpret_cast<std::uint8_t*>(&pack[at]), value);
  };
  auto place = [&](auto& self, const Node& dir) -> void {
    const std::size_t block = pack.size();
    const std::size_t count = dir.children.size() + 1;
    pack.resize(block + 4 + PAK_RECORD_SIZE * count, '\0');
    put_u32(block, static_cast<std::uint32_t>(count));
    std::size_t index = 0;
    for (const auto& [name, child] : dir.children) {
      const std::size_t record = block + 4 + PAK_RECORD_SIZE * index++;
      put_u32(record, static_cast<std::uint32_t>(pack.size()));
      std::copy(name.begin(), name.end(), pack.begin() + static_cast<std::ptrdiff_t>(record + 4));
      if (child->is_dir) {
        self(self, *child);
      } else {
        pack += child->bytes;
      }
    }
    put_u32(block + 4 + PAK_RECORD_SIZE * index, static_cast<std::uint32_t>(pack.size()));
  };
  place(place, root);
  return pack;
}

// Stands in for the update package that the program carries: find_resource answers
// from these blobs (names matched without regard to ASCII case) while the object
// lives.
class PackageStandIn {
 public:
  PackageStandIn() {
    platform::set_resource_lookup([this](std::string_view name) -> std::optional<platform::ByteView> {
      auto found = blobs_.find(lowered(std::string(name)));
      if (found == blobs_.end()) return std::nullopt;
      return platform::ByteView(reinterpret_cast<const std::uint8_t*>(found->second.data()), found->second.size());
    });
  }
  ~PackageStandIn() { platform::set_resource_lookup({}); }
  PackageStandIn(const PackageStandIn&) = delete;
  PackageStandIn& operator=(const PackageStandIn&) = delete;
  void add(const std::string& name, std::string bytes) { blobs_[lowered(name)] = std::move(bytes); }

 private:
  static std::string lowered(std::string text) {
    for (char& c : text)
      if (c >= 'A' && c <= 'Z') c = char(c + 0x20);
    return text;
  }
  std::map<std::string, std::string> blobs_;
};
