// Lookups and loads in a pack of 100,000 entries in nested directories: 20 top-level
// directories of 50 subdirectories of 100 files each. Every tenth file is an EnCode
// stream of 4 KiB of text-like data; the others are 64 raw bytes.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "encode/encoder.h"
#include "pak/archive.h"
#include "tests/pak/pack_builder.h"

namespace {

constexpr int TOP = 20, MIDDLE = 50, FILES = 100;

std::string entry_path(int top, int middle, int file, bool upper) {
  char path[64];
  std::snprintf(path, sizeof path, upper ? "Data%02d\\Sub%02d\\File_%03d.BIN" : "data%02d\\sub%02d\\file_%03d.bin", top,
                middle, file);
  return path;
}

struct Fixture {
  pak_test::Bytes pack;
  std::vector<std::string> present, missing, raw, encoded;

  Fixture() {
    pak_test::Bytes text;
    for (int i = 0; i < 4096; ++i) text.push_back(std::uint8_t("the quick brown fox jumps "[i % 26] + (i / 977) % 3));
    MemorySink sink;
    encode_stream(sink, text.data(), std::int32_t(text.size()));
    const pak_test::Bytes stream = sink.bytes();
    const pak_test::Bytes raw_bytes(64, 0x5A);

    std::vector<pak_test::Entry> entries;
    entries.reserve(TOP * MIDDLE * FILES);
    for (int t = 0; t < TOP; ++t)
      for (int m = 0; m < MIDDLE; ++m)
        for (int f = 0; f < FILES; ++f) {
          const bool is_encoded = f % 10 == 0;
          entries.push_back({entry_path(t, m, f, false), is_encoded ? stream : raw_bytes});
        }
    pack = pak_test::PackBuilder::build(entries);

    std::mt19937 random(12345);
    for (int i = 0; i < 4096; ++i) {
      const int t = int(random() % TOP), m = int(random() % MIDDLE), f = int(random() % FILES);
      present.push_back(entry_path(t, m, f, i % 2 == 1));
      // Missing at each level: an unknown file, subdirectory or top directory.
      const int miss = i % 3;
      missing.push_back(
          entry_path(miss == 2 ? t + TOP : t, miss == 1 ? m + MIDDLE : m, miss == 0 ? f + FILES : f, false));
      raw.push_back(entry_path(t, m, f / 10 * 10 + 1 + int(random() % 9), false));
      encoded.push_back(entry_path(t, m, f / 10 * 10, false));
    }
  }
};

const Fixture& fixture() {
  static const Fixture instance;
  return instance;
}

void run_lookups(benchmark::State& state, const std::vector<std::string>& paths, bool expect_found) {
  PakArchive archive;
  archive.open_memory(fixture().pack.data(), fixture().pack.size(), 5);
  std::size_t i = 0, found = 0;
  for (auto _ : state) {
    const std::uint8_t* record = archive.find_record(paths[i++ % paths.size()].c_str());
    found += record != nullptr;
    benchmark::DoNotOptimize(record);
  }
  if (found != (expect_found ? std::size_t(state.iterations()) : 0)) state.SkipWithError("wrong lookup result");
  state.counters["pack_MiB"] = double(fixture().pack.size()) / (1 << 20);
}

void BM_LookupFound(benchmark::State& state) { run_lookups(state, fixture().present, true); }
void BM_LookupMissing(benchmark::State& state) { run_lookups(state, fixture().missing, false); }

void run_loads(benchmark::State& state, const std::vector<std::string>& paths) {
  PakArchive archive;
  archive.open_memory(fixture().pack.data(), fixture().pack.size(), 5);
  std::size_t i = 0;
  std::int64_t bytes = 0;
  for (auto _ : state) {
    EntrySlot* slot = archive.load_entry(paths[i++ % paths.size()].c_str());
    if (slot == nullptr) {
      state.SkipWithError("entry not loaded");
      break;
    }
    bytes += slot->size;
    archive.release_entry(slot);
  }
  state.SetBytesProcessed(bytes);
}

void BM_LoadRaw(benchmark::State& state) { run_loads(state, fixture().raw); }
void BM_LoadEnCode(benchmark::State& state) { run_loads(state, fixture().encoded); }

BENCHMARK(BM_LookupFound);
BENCHMARK(BM_LookupMissing);
BENCHMARK(BM_LoadRaw);
BENCHMARK(BM_LoadEnCode);

}  // namespace
