#pragma once
// Benchmark helpers: a big generated pack of raw random entries in directories, a
// source pack of changed entries for it, and the process's anonymous memory.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "encode/encoder.h"
#include "pak/archive.h"

namespace big_pack {

constexpr std::uint32_t FILES_PER_DIR = 1000;

struct Random {
  std::uint64_t state;
  std::uint64_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
};

inline std::string dir_name(std::uint32_t d) {
  char name[16];
  std::snprintf(name, sizeof name, "d%04u\\", d);
  return name;
}
inline std::string file_name(std::uint32_t f) {
  char name[16];
  std::snprintf(name, sizeof name, "f%05u.bin", f);
  return name;
}

// Writes a pack of `entries` raw entries of `size` random bytes, FILES_PER_DIR per
// directory, laid out as the writer lays packs out.
inline void generate_pack(const std::string& path, std::uint32_t entries, std::uint32_t size) {
  const std::uint32_t dirs = (entries + FILES_PER_DIR - 1) / FILES_PER_DIR;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<std::uint8_t> buffer;
  auto put_table = [&](const std::vector<std::pair<std::uint32_t, std::string>>& records) {
    std::uint8_t bytes[PAK_RECORD_SIZE] = {};
    store_u32(bytes, std::uint32_t(records.size()));
    out.write(reinterpret_cast<const char*>(bytes), 4);
    for (const auto& [offset, name] : records) {
      std::uint8_t record[PAK_RECORD_SIZE] = {};
      store_u32(record, offset);
      std::copy(name.begin(), name.end(), record + 4);
      out.write(reinterpret_cast<const char*>(record), PAK_RECORD_SIZE);
    }
  };
  std::vector<std::uint32_t> files_in(dirs);
  for (std::uint32_t d = 0; d < dirs; ++d) files_in[d] = std::min(FILES_PER_DIR, entries - d * FILES_PER_DIR);
  auto dir_span = [&](std::uint32_t d) {
    return std::uint64_t(4) + std::uint64_t(files_in[d] + 1) * PAK_RECORD_SIZE + std::uint64_t(files_in[d]) * size;
  };
  std::vector<std::pair<std::uint32_t, std::string>> root;
  std::uint64_t at = 4 + std::uint64_t(dirs + 1) * PAK_RECORD_SIZE;
  for (std::uint32_t d = 0; d < dirs; ++d) {
    root.emplace_back(std::uint32_t(at), dir_name(d));
    at += dir_span(d);
  }
  root.emplace_back(std::uint32_t(at), "");
  put_table(root);
  Random random{0x9E3779B97F4A7C15ull};
  std::vector<std::uint8_t> data(size);
  for (std::uint32_t d = 0; d < dirs; ++d) {
    std::vector<std::pair<std::uint32_t, std::string>> table;
    std::uint64_t file_at = root[d].first + 4 + std::uint64_t(files_in[d] + 1) * PAK_RECORD_SIZE;
    for (std::uint32_t f = 0; f < files_in[d]; ++f, file_at += size)
      table.emplace_back(std::uint32_t(file_at), file_name(f));
    table.emplace_back(std::uint32_t(file_at), "");
    put_table(table);
    for (std::uint32_t f = 0; f < files_in[d]; ++f) {
      for (std::uint32_t i = 0; i + 8 <= size; i += 8) {
        const std::uint64_t word = random.next();
        std::memcpy(data.data() + i, &word, 8);
      }
      data[0] = 0;  // never "EnCo"
      out.write(reinterpret_cast<const char*>(data.data()), size);
    }
  }
}

// The source pack: `changed` entries spread over the pack, as EnCode streams.
inline std::uint64_t generate_source(const std::string& base, std::uint32_t entries, std::uint32_t size,
                                     std::uint32_t changed) {
  PakArchive archive;
  archive.base_path = base;
  std::uint64_t staged = 0;
  Random random{12345};
  std::vector<std::uint8_t> data(size);
  const std::uint32_t dirs = (entries + FILES_PER_DIR - 1) / FILES_PER_DIR;
  for (std::uint32_t d = 0; d < dirs; ++d) {
    auto* dir = new PendingEntry(dir_name(d).c_str(), 0);
    dir->next = archive.pending;
    archive.pending = dir;
  }
  for (std::uint32_t c = 0; c < changed; ++c) {
    const std::uint32_t index = std::uint32_t(std::uint64_t(c) * entries / changed);
    // Half-compressible content: runs of a random byte.
    for (std::uint32_t i = 0; i < size; ++i) data[i] = (i % 16 < 8) ? std::uint8_t(random.next()) : data[i - i % 16];
    MemorySink sink;
    encode_stream(sink, data.data(), std::int32_t(size));
    auto* entry = new PendingEntry((dir_name(index / FILES_PER_DIR) + file_name(index % FILES_PER_DIR)).c_str(), 1);
    entry->data = sink.take();
    entry->size = std::uint32_t(entry->data.size());
    staged += entry->size;
    entry->next = archive.pending;
    archive.pending = entry;
  }
  if (archive.rebuild((base + "temp").c_str(), 1) != 1) {
    std::fprintf(stderr, "cannot write the source pack\n");
    std::exit(1);
  }
  return staged;
}

// Anonymous resident memory of this process in KiB (Linux), sampled while merging.
inline std::uint64_t anonymous_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("RssAnon:", 0) == 0) return std::strtoull(line.c_str() + 8, nullptr, 10);
  return 0;
}

}  // namespace big_pack
