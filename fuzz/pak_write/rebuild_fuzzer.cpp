// Stages random names and bytes into small packs and rebuilds them. Packs that this
// writer made must come out of every rebuild passing the full consistency check; a
// pack of arbitrary bytes must never crash the rebuild.

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "encode/encoder.h"
#include "pak/archive.h"
#include "pak/pack_checks.h"
#include "platform/files.h"

namespace {

const std::string& scratch() {
  static const std::string dir = [] {
    auto path = std::filesystem::temp_directory_path() / ("pak_write_fuzz_" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    return path.string();
  }();
  return dir;
}

std::string random_name(FuzzedDataProvider& input) {
  static const char* const parts[] = {
      "a",   "b\\", "sub\\",      "Sub\\x.bin", "\xA6\x5C", "\\", "..",
      "c.d", "con", "\xB3\x5C\\", " ",          ".",        "ZZ", "31-bytes-long-name-for-the-pack"};
  std::string name;
  const int pieces = input.ConsumeIntegralInRange(1, 5);
  for (int i = 0; i < pieces; ++i) {
    if (input.ConsumeBool())
      name += parts[input.ConsumeIntegralInRange<std::size_t>(0, std::size(parts) - 1)];
    else
      name += input.ConsumeRandomLengthString(12);
  }
  return name;
}

// Stages a few random entries, then rebuilds into a temporary pack. Returns its
// bytes, or nothing when the rebuild refused.
std::vector<std::uint8_t> stage_and_rebuild(PakArchive& archive, FuzzedDataProvider& input) {
  const int count = input.ConsumeIntegralInRange(0, 12);
  for (int i = 0; i < count; ++i) {
    const std::string name = random_name(input);
    switch (input.ConsumeIntegralInRange(0, 3)) {
      case 0:
        archive.stage_entry(name.c_str(), nullptr, 0);
        break;
      case 1: {
        const std::vector<std::uint8_t> raw = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 300));
        archive.stage_entry(name.c_str(), raw.data(), std::uint32_t(raw.size()));
        break;
      }
      case 2: {
        const std::vector<std::uint8_t> raw = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 300));
        MemorySink sink;
        encode_stream(sink, raw.data(), std::int32_t(raw.size()));
        archive.stage_entry(name.c_str(), sink.bytes().data(), std::uint32_t(sink.bytes().size()));
        break;
      }
      default: {
        std::vector<std::uint8_t> bytes = {'E', 'n', 'C', 'o', 'd', 'e'};
        const auto tail = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 40));
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        archive.stage_entry(name.c_str(), bytes.data(), std::uint32_t(bytes.size()));
        break;
      }
    }
  }
  const std::string temp_base = scratch() + "/rebuilt";
  if (archive.rebuild(temp_base.c_str(), 0) != 1) {
    archive.release_pending();
    return {};
  }
  auto bytes = platform::read_file(archive.rebuilt_path);
  std::remove(archive.rebuilt_path.c_str());
  if (!bytes) std::abort();
  return *bytes;
}

void expect_sound(const std::vector<std::uint8_t>& pack) {
  const auto summary = pak::check_pack(pack.data(), pack.size(), [](const pak::WalkProblem& problem) {
    std::fprintf(stderr, "rebuilt pack fails the check: %s at %llu: %s\n", problem.path.c_str(),
                 static_cast<unsigned long long>(problem.offset), problem.text.c_str());
  });
  if (summary.problems != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  if (input.ConsumeBool()) {
    // A pack of arbitrary bytes: any outcome but a crash.
    const auto old = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 600));
    PakArchive archive;
    if (archive.open_memory(old.data(), old.size(), 5) == 1) stage_and_rebuild(archive, input);
    return 0;
  }
  // From the empty pack through two rounds of staging: every result must be sound.
  std::vector<std::uint8_t> pack = {1, 0, 0, 0, 40, 0, 0, 0};
  pack.resize(40, 0);
  for (int round = 0; round < 2; ++round) {
    PakArchive archive;
    if (archive.open_memory(pack.data(), pack.size(), 5) != 1) std::abort();
    std::vector<std::uint8_t> rebuilt = stage_and_rebuild(archive, input);
    if (rebuilt.empty()) continue;
    expect_sound(rebuilt);
    pack = std::move(rebuilt);
  }
  return 0;
}
