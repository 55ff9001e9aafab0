#include "app/package_check.h"

#include <cstdint>
#include <limits>
#include <vector>

#include "ini/ini_store.h"

namespace {

// The package files the installer reads by name, apart from the merge packs.
constexpr const char* KNOWN_FILES[] = {"UPDATA.INI", "NOTE.TXT", "DLL.PAK"};

PackageVerdict damaged(std::string file, std::string text) {
  return {PackageVerdict::State::damaged, std::move(file), std::move(text)};
}

// The merge packs the configuration names, as resource names ({name}.pak).
std::vector<std::string> merge_pack_files(std::span<const std::uint8_t> config) {
  std::vector<std::string> files;
  if (config.size() > std::size_t(std::numeric_limits<std::int32_t>::max())) return files;
  IniStore ini;
  ini.parse(reinterpret_cast<const char*>(config.data()), std::int32_t(config.size()));
  for (int n = 0;; ++n) {
    const std::string section = "[pack" + std::to_string(n) + "]";
    const char* name = ini.get(section.c_str(), "name", nullptr);
    if (name == nullptr) break;
    files.push_back(std::string(name) + ".pak");
  }
  return files;
}

}  // namespace

PackageVerdict check_package(const platform::PackageLookup& lookup, const platform::OwnTable& table) {
  if (table.damaged) return damaged("package table", "the table appended to the installer is cut short or damaged");
  const auto config = lookup("UPDATA.INI");
  const auto record = lookup(platform::PACKAGE_RECORD_NAME);
  if (!config && !record && table.names.empty()) return {};

  std::vector<std::string> present = table.names;
  for (const char* name : KNOWN_FILES)
    if (lookup(name)) present.push_back(name);
  if (auto problems = platform::check_package_files(lookup, present); !problems.empty())
    return damaged(problems.front().name, problems.front().text);
  if (!config) return damaged("UPDATA.INI", "missing");

  // The configuration is as recorded; the merge packs it names must be recorded too.
  std::vector<std::string> merge_packs;
  for (const auto& file : merge_pack_files(*config))
    if (lookup(file)) merge_packs.push_back(file);
  if (auto problems = platform::check_package_files(lookup, merge_packs); !problems.empty())
    return damaged(problems.front().name, problems.front().text);
  return {PackageVerdict::State::sound, {}, {}};
}

PackageVerdict check_own_package() {
  return check_package([](std::string_view name) { return platform::find_resource(name); },
                       platform::own_attached_table());
}
