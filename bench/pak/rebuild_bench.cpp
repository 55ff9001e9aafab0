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

#include "bench/pak/big_pack.h"
#include "encode/encoder.h"
#include "pak/archive.h"

namespace fs = std::filesystem;
using namespace big_pack;

namespace {

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
