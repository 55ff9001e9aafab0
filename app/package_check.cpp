#include "app/package_check.h"

#include <cstdint>
#include <limits>

#include "ini/ini_store.h"
#include "pak/archive.h"
#include "pak/entry_path.h"
#include "pak/removal_records.h"
#include "platform/codepage.h"

namespace {

// The package files the installer reads by name, apart from the merge packs.
constexpr const char* KNOWN_FILES[] = {"UPDATA.INI", "NOTE.TXT", "DLL.PAK"};

PackageVerdict damaged(std::vector<platform::PackageProblem> problems) {
  PackageVerdict verdict{PackageVerdict::State::damaged, problems.front().name, problems.front().text, {}};
  verdict.problems = std::move(problems);
  return verdict;
}
PackageVerdict damaged(std::string file, std::string text) { return damaged({{std::move(file), std::move(text)}}); }

// The first name of names that comes again later (compared as resources are), or null.
const std::string* repeated_name(const std::vector<std::string>& names) {
  for (std::size_t i = 0; i < names.size(); ++i)
    for (std::size_t j = i + 1; j < names.size(); ++j)
      if (platform::resource_name_equal(names[i], names[j])) return &names[i];
  return nullptr;
}

// The merge pack names of the configuration, "[pack0]" onwards up to the first section
// without a name, as the run reads them.
std::vector<std::string> merge_pack_names(const IniStore& ini) {
  std::vector<std::string> names;
  for (int n = 0;; ++n) {
    const IniSection* section = ini.find_section(("[pack" + std::to_string(n) + "]").c_str());
    const IniPair* name = section ? section->find_pair("name") : nullptr;
    if (name == nullptr) return names;
    names.push_back(name->value);
  }
}

bool opens_as_pack(std::span<const std::uint8_t> bytes) {
  PakArchive pack;
  return pack.open_memory(bytes.data(), bytes.size(), 1) == 1;
}

}  // namespace

bool is_plain_pack_name(std::string_view name) {
  return pak::unsafe_path_reason(name) == nullptr && platform::find_separator(name, 0, true) == name.size() &&
         name.size() + 4 <= PAK_MAX_PATH_LENGTH;
}

PackageVerdict check_package(const platform::PackageLookup& lookup, const platform::OwnTable& table) {
  if (table.damaged) return damaged("package table", "the table appended to the installer is cut short or damaged");
  if (const std::string* twice = repeated_name(table.names))
    return damaged("package table", "the table holds " + *twice + " twice");
  const auto config = lookup("UPDATA.INI");
  const auto record = lookup(platform::PACKAGE_RECORD_NAME);
  if (!config && !record && table.names.empty()) return {};

  std::vector<std::string> present = table.names;
  for (const char* name : KNOWN_FILES)
    if (lookup(name)) present.push_back(name);
  if (auto problems = platform::check_package_files(lookup, present); !problems.empty())
    return damaged(std::move(problems));
  if (!config) return damaged("UPDATA.INI", "missing");
  if (config->size() > std::size_t(std::numeric_limits<std::int32_t>::max()))
    return damaged("UPDATA.INI", "too large for a configuration");

  IniStore ini;
  ini.parse(reinterpret_cast<const char*>(config->data()), std::int32_t(config->size()));
  if (ini.section_count == 0)
    return {PackageVerdict::State::empty_configuration, "UPDATA.INI", "empty configuration", {}};

  std::vector<platform::PackageProblem> problems;
  pak::RemovalPlan removals;
  std::string removal_problem;
  if (!pak::read_removals(ini, removals, removal_problem)) problems.push_back({"UPDATA.INI", removal_problem});

  // The configuration is as recorded; the merge packs it names must be there, recorded
  // and packs, and DLL.PAK a pack when there is one.
  std::vector<std::string> packs;
  for (int n = 0; const std::string& name : merge_pack_names(ini)) {
    const std::string section = "[pack" + std::to_string(n++) + "]";
    if (!is_plain_pack_name(name)) {
      problems.push_back({"UPDATA.INI", section + " name=" + name + ": not a plain pack name"});
    } else if (!lookup(name + ".pak")) {
      problems.push_back({name + ".pak", "missing (named in " + section + ")"});
    } else {
      packs.push_back(name + ".pak");
    }
  }
  for (auto& problem : platform::check_package_files(lookup, packs)) problems.push_back(std::move(problem));
  if (lookup("DLL.PAK")) packs.insert(packs.begin(), "DLL.PAK");
  for (const std::string& file : packs)
    if (!opens_as_pack(*lookup(file))) problems.push_back({file, "not a pack (its root table does not fit)"});
  if (!problems.empty()) return damaged(std::move(problems));
  return {PackageVerdict::State::sound, {}, {}, {}};
}

PackageVerdict check_own_package() {
  return check_package([](std::string_view name) { return platform::find_resource(name); },
                       platform::own_attached_table());
}
