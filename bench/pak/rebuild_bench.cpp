// Merging a few changed entries into a big pack, next to copying the pack with cp.
//
//   pak_rebuild_bench [ENTRIES [ENTRY_BYTES [CHANGED [DIR]]]]
//
// Defaults: 100,000 entries of 10,737 bytes (about 1 GiB) in 100 directories, 1,000
// changed entries (EnCode streams) merged in, scratch files under the system's
// temporary directory. Prints the copy time, the merge time (staging, rebuild and the
// atomic replace), their ratio, and the peak anonymous memory seen during the merge
// (the old pack is mapped; its pages are file cache, not counted there).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "encode/encoder.h"
#include "pak/archive.h"

namespace fs = std::filesystem;

namespace {

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

std::string dir_name(std::uint32_t d) {
  char name[16];
  std::snprintf(name, sizeof name, "d%04u\\", d);
  return name;
}
std::string file_name(std::uint32_t f) {
  char name[16];
  std::snprintf(name, sizeof name, "f%05u.bin", f);
  return name;
}

// Writes a pack of `entries` raw entries of `size` random bytes, FILES_PER_DIR per
// directory, laid out as the writer lays packs out.
void generate_pack(const std::string& path, std::uint32_t entries, std::uint32_t size) {
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
std::uint64_t generate_source(const std::string& base, std::uint32_t entries, std::uint32_t size,
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
std::uint64_t anonymous_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("RssAnon:", 0) == 0) return std::strtoull(line.c_str() + 8, nullptr, 10);
  return 0;
}

class MemorySampler final : public ProgressListener {
 public:
  void progress(std::uint64_t done, std::uint64_t) override {
    if (done % 500 == 0) peak = std::max(peak, anonymous_kib());
  }
  std::uint64_t peak = 0;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint32_t entries = argc > 1 ? std::uint32_t(std::strtoul(argv[1], nullptr, 10)) : 100000;
  const std::uint32_t size = argc > 2 ? std::uint32_t(std::strtoul(argv[2], nullptr, 10)) : 10737;
  const std::uint32_t changed = argc > 3 ? std::uint32_t(std::strtoul(argv[3], nullptr, 10)) : 1000;
  const fs::path dir = argc > 4 ? fs::path(argv[4]) : fs::temp_directory_path() / "pak_rebuild_bench";
  fs::create_directories(dir);
  const std::string pack = (dir / "big.pak").string(), copy = (dir / "copy.pak").string();
  const std::string target_base = (dir / "target").string(), source_base = (dir / "source").string();

  auto start = std::chrono::steady_clock::now();
  generate_pack(pack, entries, size);
  const std::uint64_t staged = generate_source(source_base, entries, size, changed);
  std::printf("generated %u entries, %.1f MiB, in %.1f s; %u changed entries, %.1f MiB staged\n", entries,
              double(fs::file_size(pack)) / 1048576, seconds_since(start), changed, double(staged) / 1048576);

  // Every timed run starts from a warm page cache and no dirty pages (sync), and the
  // copy is timed before and after the merge; the faster copy counts.
  fs::copy_file(pack, target_base + ".pak", fs::copy_options::overwrite_existing);
  // with_sync: cp and then sync, as the merge flushes its new pack to disk.
  auto time_copy = [&](bool with_sync) {
    if (std::system("sync") != 0) std::exit(1);
    const auto copy_start = std::chrono::steady_clock::now();
    const std::string command = "cp '" + pack + "' '" + copy + "'" + (with_sync ? " && sync" : "");
    if (std::system(command.c_str()) != 0) std::exit(1);
    const double taken = seconds_since(copy_start);
    fs::remove(copy);
    return taken;
  };
  double copy_seconds = time_copy(false), synced_copy_seconds = time_copy(true);
  if (std::system("sync") != 0) return 1;

  const std::uint64_t before = anonymous_kib();
  MemorySampler sampler;
  start = std::chrono::steady_clock::now();
  {
    PakArchive target(target_base.c_str(), 5), source(source_base.c_str(), 5);
    target.progress = &sampler;
    if (target.is_open != 1 || source.is_open != 1 || target.import_pack(source) != 1) {
      std::fprintf(stderr, "merge failed\n");
      return 1;
    }
  }
  const double merge_seconds = seconds_since(start);
  copy_seconds = std::min(copy_seconds, time_copy(false));
  synced_copy_seconds = std::min(synced_copy_seconds, time_copy(true));
  std::printf("cp: %.2f s   cp+sync: %.2f s   merge (synced to disk): %.2f s\n", copy_seconds, synced_copy_seconds,
              merge_seconds);
  std::printf("ratio to cp: %.2f   ratio to cp+sync: %.2f (goal <= 1.5)\n", merge_seconds / copy_seconds,
              merge_seconds / synced_copy_seconds);
  std::printf("anonymous memory: %.1f MiB before, peak %.1f MiB during the merge (staged %.1f MiB)\n",
              double(before) / 1024, double(sampler.peak) / 1024, double(staged) / 1024 / 1024);
  fs::remove(pack);
  fs::remove(target_base + ".pak");
  fs::remove(source_base + ".pak");
  return 0;
}
