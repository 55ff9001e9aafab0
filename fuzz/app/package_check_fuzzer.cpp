// The installability check shared by the installer, pak verify and pak bundle. The
// input makes a package: a few files under names drawn from those the installer
// reads, a configuration built from the input, and now and then a sound checksum
// record over them, so the checks behind the record are reached. Whatever the check
// says must hold together, and a package it passes must be one the run takes: a
// configuration with a section, removal records it reads, merge packs with plain names
// that are there and open as packs, and no name twice.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/package_check.h"
#include "ini/ini_store.h"
#include "pak/archive.h"
#include "pak/removal_records.h"
#include "platform/package_record.h"
#include "platform/resource_table.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

constexpr const char* NAMES[] = {"UPDATA.INI", "NOTE.TXT", "DLL.PAK", "dll.pak",    "data.pak",
                                 "DATA.PAK",   "more.pak", "x.bin",   "PACKAGE.CRC"};

// A small pack: either a sound empty one or bytes from the input.
std::string pack_bytes(FuzzedDataProvider& input) {
  if (input.ConsumeBool()) return std::string("\x01\x00\x00\x00\x28\x00\x00\x00", 8) + std::string(32, '\0');
  return input.ConsumeRandomLengthString(200);
}

// A configuration of lines that matter to the check, and now and then any bytes.
std::string configuration(FuzzedDataProvider& input) {
  static const char* const LINES[] = {"[inst]",         "dir=C:\\Games\\QRM", "[pack0]",    "[pack1]",
                                      "name=data",      "name=more",          "name=..\\x", "[remove]",
                                      "file=old.txt",   "file=..\\x.txt",     "dir=old",    "[remove_pack0]",
                                      "entry=a\\b.bin", "entry=C:x",          "",           "// comment"};
  std::string text;
  const int lines = input.ConsumeIntegralInRange(0, 10);
  for (int i = 0; i < lines; ++i) {
    if (input.ConsumeIntegralInRange(0, 7) == 0)
      text += input.ConsumeRandomLengthString(40);
    else
      text += LINES[input.ConsumeIntegralInRange<std::size_t>(0, std::size(LINES) - 1)];
    text += "\r\n";
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::vector<platform::NamedBlob> blobs;
  const bool sealed = input.ConsumeBool();
  const int count = input.ConsumeIntegralInRange(0, 6);
  for (int i = 0; i < count; ++i) {
    platform::NamedBlob blob;
    blob.name = input.ConsumeBool() ? NAMES[input.ConsumeIntegralInRange<std::size_t>(0, std::size(NAMES) - 1)]
                                    : input.ConsumeRandomLengthString(12);
    const bool is_pack =
        blob.name.size() > 4 && platform::resource_name_equal(blob.name.substr(blob.name.size() - 4), ".pak");
    const std::string bytes = platform::resource_name_equal(blob.name, "UPDATA.INI") ? configuration(input)
                              : is_pack                                              ? pack_bytes(input)
                                        : input.ConsumeRandomLengthString(300);
    blob.bytes.assign(bytes.begin(), bytes.end());
    blobs.push_back(std::move(blob));
  }
  if (sealed) blobs.push_back({platform::PACKAGE_RECORD_NAME, platform::make_package_record(blobs)});
  platform::OwnTable table;
  table.damaged = input.ConsumeIntegralInRange(0, 31) == 0;
  for (const auto& blob : blobs) table.names.push_back(blob.name);

  const platform::PackageLookup lookup = [&](std::string_view name) -> std::optional<std::span<const std::uint8_t>> {
    for (const auto& blob : blobs)
      if (platform::resource_name_equal(blob.name, name)) return std::span<const std::uint8_t>(blob.bytes);
    return std::nullopt;
  };
  const PackageVerdict verdict = check_package(lookup, table);
  using State = PackageVerdict::State;
  check(verdict.installable() == (verdict.state == State::sound));
  if (verdict.state == State::damaged) {
    check(!verdict.problems.empty());
    check(verdict.file == verdict.problems.front().name && verdict.text == verdict.problems.front().text);
  } else {
    check(verdict.problems.empty());
  }
  if (verdict.state == State::none) check(blobs.empty() && !table.damaged);

  const PackageVerdict again = check_package(lookup, table);
  check(again.state == verdict.state && again.file == verdict.file && again.text == verdict.text);
  if (!verdict.installable()) return 0;

  // What the run needs of an installable package.
  check(!table.damaged);
  for (std::size_t i = 0; i < table.names.size(); ++i)
    for (std::size_t j = i + 1; j < table.names.size(); ++j)
      check(!platform::resource_name_equal(table.names[i], table.names[j]));
  check(platform::check_package_files(lookup, table.names).empty());
  const auto config = lookup("UPDATA.INI");
  check(config.has_value());
  IniStore ini;
  ini.parse(reinterpret_cast<const char*>(config->data()), std::int32_t(config->size()));
  check(ini.section_count > 0);
  pak::RemovalPlan removals;
  std::string problem;
  check(pak::read_removals(ini, removals, problem));
  for (int n = 0;; ++n) {
    const char* name = ini.get(("[pack" + std::to_string(n) + "]").c_str(), "name", nullptr);
    if (name == nullptr) break;
    check(is_plain_pack_name(name));
    const auto pack_file = lookup(std::string(name) + ".pak");
    check(pack_file.has_value());
    PakArchive pack;
    check(pack.open_memory(pack_file->data(), pack_file->size(), 1) == 1);
  }
  return 0;
}
