#pragma once
// Helpers for the write-side tests: packs assembled by hand from record tables, files
// read and written whole, and a reporter that remembers what it was told. Scratch
// folders and byte fixtures come from tests/support.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "pak/archive.h"
#include "pak/pak_format.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/test_bytes.h"

namespace pak_test {

using test_support::Bytes;
using test_support::bytes_of;
using test_support::concat;
using test_support::literal_stream;
using test_support::ScratchDir;

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

inline Bytes filled(std::size_t size, std::uint8_t first) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = std::uint8_t(first + i);
  return out;
}

// The pack of the format's worked example: alpha.bin (10 bytes) and sub\beta.bin (5).
inline Bytes example_pack() {
  return concat({block({{112, "alpha.bin"}, {122, "sub\\"}, {203, ""}}), filled(10, 0x10),
                 block({{198, "beta.bin"}, {203, ""}}), filled(5, 0x40)});
}

inline void write_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline Bytes read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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
