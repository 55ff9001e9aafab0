#pragma once
// Helpers for the write-side tests: packs assembled by hand from record tables,
// scratch directories, and a reporter that remembers what it was told.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "pak/archive.h"
#include "pak/pak_format.h"

namespace pak_test {

using Bytes = std::vector<std::uint8_t>;

// A directory block: count, then one record per (offset, name); the caller lists the
// end record too.
inline Bytes block(const std::vector<std::pair<std::uint32_t, std::string>>& records) {
  Bytes out(4 + records.size() * PAK_RECORD_SIZE, 0);
  store_u32(out.data(), std::uint32_t(records.size()));
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::uint8_t* at = out.data() + 4 + i * PAK_RECORD_SIZE;
    store_u32(at, records[i].first);
    std::copy(records[i].second.begin(), records[i].second.end(), at + 4);
  }
  return out;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

inline Bytes filled(std::size_t size, std::uint8_t first) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = std::uint8_t(first + i);
  return out;
}

// An EnCode stream of literals only: it decodes to `decoded`.
inline Bytes literal_stream(const Bytes& decoded) {
  Bytes out = {'E', 'n', 'C', 'o', 'd', 'e', 0, 0, 0, 0, 0, 0, 0, 0};
  store_u32(out.data() + 6, std::uint32_t(decoded.size()));
  for (std::size_t i = 0; i < decoded.size(); i += 8) {
    const std::size_t items = std::min<std::size_t>(8, decoded.size() - i);
    out.push_back(std::uint8_t((1u << items) - 1));
    out.insert(out.end(), decoded.begin() + i, decoded.begin() + i + items);
  }
  store_u32(out.data() + 10, std::uint32_t(out.size()));
  return out;
}

// The pack of the format's worked example: alpha.bin (10 bytes) and sub\beta.bin (5).
inline Bytes example_pack() {
  return concat({block({{112, "alpha.bin"}, {122, "sub\\"}, {203, ""}}), filled(10, 0x10),
                 block({{198, "beta.bin"}, {203, ""}}), filled(5, 0x40)});
}

class ScratchDir {
 public:
  ScratchDir() {
    static std::mt19937_64 seed{std::random_device{}()};
    path_ = std::filesystem::temp_directory_path() / ("pak_write_test_" + std::to_string(seed()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  // A system path below the directory (levels joined with the native separator).
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void write_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline Bytes read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Names of the files in a directory, sorted (to find leftovers).
inline std::vector<std::string> listing(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct Problem {
  std::string text;
  std::string path;
};

class RecordingReporter final : public WriteProblemReporter {
 public:
  void report(const std::string& text, const std::string& path) override { problems.push_back({text, path}); }
  std::vector<Problem> problems;
};

}  // namespace pak_test
