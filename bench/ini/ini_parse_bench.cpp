// Parsing and lookups in large INI texts: 100,000 sections of one pair each (about
// 2.6 MB), the same sections each opened twice, and one section of 100,000 keys.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "ini/ini_store.h"

namespace {

constexpr int SECTIONS = 100000;
constexpr int KEYS = 100000;

std::string section_name(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "[section%06d]", i);
  return name;
}

// Every section once, each with one pair.
std::string many_sections() {
  std::string text;
  for (int i = 0; i < SECTIONS; ++i) text += section_name(i) + "\r\nkey=value" + std::to_string(i) + "\r\n";
  return text;
}

// Every section twice: the second header of each continues the first.
std::string repeated_sections() {
  std::string text;
  for (int round = 0; round < 2; ++round)
    for (int i = 0; i < SECTIONS; ++i) text += section_name(i) + "\r\nkey" + std::to_string(round) + "=v\r\n";
  return text;
}

std::string many_keys() {
  std::string text = "[big]\r\n";
  for (int i = 0; i < KEYS; ++i) text += "key" + std::to_string(i) + "=value\r\n";
  return text;
}

void run_parse(benchmark::State& state, const std::string& text, std::int32_t sections) {
  IniStore store;
  for (auto _ : state) {
    store.parse(text.data(), std::int32_t(text.size()));
    benchmark::DoNotOptimize(store.first_section);
  }
  if (store.section_count != sections) state.SkipWithError("wrong section count");
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
  state.counters["text_MB"] = double(text.size()) / 1e6;
}

void BM_Parse100kSections(benchmark::State& state) {
  static const std::string text = many_sections();
  run_parse(state, text, SECTIONS);
}

void BM_Parse100kSectionsEachRepeated(benchmark::State& state) {
  static const std::string text = repeated_sections();
  run_parse(state, text, SECTIONS);
}

// get of present keys spread over a section of 100,000 keys, then of missing ones
// with a null default (nothing added).
void run_key_lookups(benchmark::State& state, bool present) {
  static const std::string text = many_keys();
  IniStore store;
  store.parse(text.data(), std::int32_t(text.size()));
  std::uint32_t i = 0;
  std::int64_t found = 0;
  for (auto _ : state) {
    const std::string key = (present ? "key" : "nokey") + std::to_string(i++ * 7919u % KEYS);
    found += store.get("[big]", key.c_str(), nullptr) != nullptr;
  }
  if (found != (present ? state.iterations() : 0)) state.SkipWithError("wrong lookup result");
}

void BM_GetIn100kKeySectionFound(benchmark::State& state) { run_key_lookups(state, true); }
void BM_GetIn100kKeySectionMissing(benchmark::State& state) { run_key_lookups(state, false); }

BENCHMARK(BM_Parse100kSections)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse100kSectionsEachRepeated)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetIn100kKeySectionFound);
BENCHMARK(BM_GetIn100kKeySectionMissing);

}  // namespace
