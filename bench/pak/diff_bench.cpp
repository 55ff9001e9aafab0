// pak diff of two big packs, next to reading both packs with cat.
//
//   pak_diff_bench PAK [ENTRIES [ENTRY_BYTES [CHANGED [DIR [RUNS]]]]]
//
// Defaults: OLD is 100,000 raw entries of 10,737 bytes (about 1 GiB) in 100
// directories; NEW is OLD with 1,000 entries replaced by EnCode streams of other
// bytes. Both lie in install folders of their own under DIR (the system's temporary
// directory). With the page cache warm, runs `cat OLD.pak NEW.pak > /dev/null` and
// `PAK diff OLD NEW PACKAGE` RUNS times each (default 5), alternating, and prints both
// medians and their ratio (goal: at most 2). Then diffs the packs in this process,
// the way pak diff does (both mapped), and prints the peak anonymous memory: mapped
// pack pages are file cache, not counted there.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/pak/big_pack.h"
#include "patch/pack_diff.h"
#include "platform/files.h"

namespace fs = std::filesystem;
using namespace big_pack;

namespace {

double seconds_of(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: pak_diff_bench PAK [ENTRIES [ENTRY_BYTES [CHANGED [DIR [RUNS]]]]]\n");
    return 2;
  }
  const std::string pak = argv[1];
  const std::uint32_t entries = argc > 2 ? std::uint32_t(std::strtoul(argv[2], nullptr, 10)) : 100000;
  const std::uint32_t size = argc > 3 ? std::uint32_t(std::strtoul(argv[3], nullptr, 10)) : 10737;
  const std::uint32_t changed = argc > 4 ? std::uint32_t(std::strtoul(argv[4], nullptr, 10)) : 1000;
  const fs::path dir = argc > 5 ? fs::path(argv[5]) : fs::temp_directory_path() / "pak_diff_bench";
  const int runs = argc > 6 ? std::atoi(argv[6]) : 5;
  fs::remove_all(dir);
  fs::create_directories(dir / "old");
  fs::create_directories(dir / "new");
  const std::string old_pack = (dir / "old" / "game.pak").string(), new_pack = (dir / "new" / "game.pak").string();

  generate_pack(old_pack, entries, size);
  fs::copy_file(old_pack, new_pack);
  generate_source((dir / "source").string(), entries, size, changed);
  {
    PakArchive target((dir / "new" / "game").string().c_str(), 5), source((dir / "source").string().c_str(), 5);
    if (target.is_open != 1 || source.is_open != 1 || target.import_pack(source) != 1) {
      std::fprintf(stderr, "cannot make the new pack\n");
      return 1;
    }
  }
  std::printf("OLD %.1f MiB, NEW %.1f MiB, %u entries, %u changed\n", double(fs::file_size(old_pack)) / 1048576,
              double(fs::file_size(new_pack)) / 1048576, entries, changed);

  const std::string cat = "cat '" + old_pack + "' '" + new_pack + "' > /dev/null";
  const fs::path package = dir / "package";
  const std::string diff = "'" + pak + "' diff '" + (dir / "old").string() + "' '" + (dir / "new").string() + "' '" +
                           package.string() + "' 2>/dev/null";
  seconds_of(cat);  // warm the page cache
  std::vector<double> cat_times, diff_times;
  for (int run = 0; run < runs; ++run) {
    fs::remove_all(package);
    cat_times.push_back(seconds_of(cat));
    diff_times.push_back(seconds_of(diff));
  }
  const double cat_median = median(cat_times), diff_median = median(diff_times);
  std::printf("median of %d runs: cat %.3f s   pak diff %.3f s   ratio %.2f (goal <= 2)\n", runs, cat_median,
              diff_median, diff_median / cat_median);
  std::printf("package: %.1f MiB\n", double(fs::file_size(package / "game.pak")) / 1048576);

  // The same difference in this process, for its memory.
  const std::uint64_t before = anonymous_kib();
  std::uint64_t peak = before;
  {
    platform::MappedFile a, b;
    if (a.open(old_pack) != platform::MappedFile::Status::ok || b.open(new_pack) != platform::MappedFile::Status::ok)
      return 1;
    const patch::PackDifference difference =
        patch::diff_packs({a.data(), a.size()}, {b.data(), b.size()}, [&](std::uint64_t done, std::uint64_t) {
          if (done % 1000 == 0) peak = std::max(peak, anonymous_kib());
        });
    peak = std::max(peak, anonymous_kib());
    std::printf("in process: %zu changed, %zu removed; anonymous memory %.1f MiB before, peak %.1f MiB\n",
                difference.changed.size(), difference.removed.size(), double(before) / 1024, double(peak) / 1024);
  }
  fs::remove_all(dir);
  return 0;
}
