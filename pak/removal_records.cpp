#include "pak/removal_records.h"

#include "pak/archive.h"
#include "pak/entry_path.h"
#include "pak/pak_format.h"
#include "platform/codepage.h"

namespace pak {
namespace {

// Why a loose path or pack entry path cannot be removed safely, or null. A folder's
// or directory entry's own trailing backslash is taken off before: one left is an
// empty last level.
const char* removal_path_problem(std::string_view path) {
  if (path.size() > PAK_MAX_PATH_LENGTH) return "path is longer than 259 bytes";
  if (is_directory_path(path)) return "path ends in an empty level";
  return unsafe_path_reason(path);
}

bool fail(std::string& problem, const std::string& where, std::string_view value, const char* why) {
  problem = where + " " + std::string(value) + ": " + why;
  return false;
}

bool append_line(std::string& text, std::string_view key, std::string_view value, std::string& problem) {
  if (const char* why = ini_value_problem(key, value)) {
    problem = std::string(key) + "=" + std::string(value) + ": " + why;
    return false;
  }
  text.append(key).append("=").append(value).append("\r\n");
  return true;
}

}  // namespace

PackRemovalIndex::PackRemovalIndex(const RemovalPlan& plan) {
  for (const PackRemovals& pack : plan.packs) {
    std::string name = pack.name;
    fold_name(name);
    auto [found, added] = entries_.try_emplace(std::move(name));
    if (added) names_.push_back(pack.name);
    for (const std::string& entry : pack.entries) found->second.push_back(&entry);
  }
}

const std::vector<const std::string*>* PackRemovalIndex::entries_of(std::string_view pack_name) const {
  std::string name(pack_name);
  fold_name(name);
  const auto found = entries_.find(name);
  return found == entries_.end() ? nullptr : &found->second;
}

std::string removal_pack_section(int n) { return "[remove_pack" + std::to_string(n) + "]"; }

bool read_removals(const IniStore& store, RemovalPlan& plan, std::string& problem) {
  plan = {};
  if (const IniSection* section = store.find_section(REMOVE_SECTION)) {
    for (const IniPair* pair = section->first_pair; pair != nullptr; pair = pair->next) {
      const bool is_file = pair->key == REMOVE_FILE_KEY;
      if (!is_file && pair->key != REMOVE_DIRECTORY_KEY) continue;  // room for later keys
      // A folder may be written with a trailing backslash.
      std::string path = pair->value;
      if (!is_file && is_directory_path(path)) path.pop_back();
      if (const char* why = removal_path_problem(path))
        return fail(problem, std::string(REMOVE_SECTION) + " " + pair->key + "=", pair->value, why);
      (is_file ? plan.files : plan.directories).push_back(std::move(path));
    }
  }
  for (int n = 0;; ++n) {
    const std::string section_name = removal_pack_section(n);
    const IniSection* section = store.find_section(section_name.c_str());
    if (section == nullptr) break;
    const IniPair* name = section->find_pair(REMOVE_PACK_NAME_KEY);
    if (name == nullptr) break;
    PackRemovals pack{name->value, {}};
    if (removal_path_problem(pack.name) != nullptr ||
        platform::find_separator(pack.name, 0, true) != pack.name.size() || pack.name.size() + 4 > PAK_MAX_PATH_LENGTH)
      return fail(problem, section_name + " name=", pack.name, "not a plain pack name");
    for (const IniPair* pair = section->first_pair; pair != nullptr; pair = pair->next) {
      if (pair->key != REMOVE_ENTRY_KEY) continue;
      std::string entry = pair->value;
      fold_name(entry);
      const std::string_view checked =
          is_directory_path(entry) ? std::string_view(entry).substr(0, entry.size() - 1) : std::string_view(entry);
      if (const char* why = removal_path_problem(checked))
        return fail(problem, section_name + " entry=", pair->value, why);
      pack.entries.push_back(std::move(entry));
    }
    plan.packs.push_back(std::move(pack));
  }
  return true;
}

bool write_removals(const RemovalPlan& plan, std::string& text, std::string& problem) {
  if (!plan.files.empty() || !plan.directories.empty()) {
    text += std::string(REMOVE_SECTION) + "\r\n";
    for (const std::string& file : plan.files)
      if (!append_line(text, REMOVE_FILE_KEY, file, problem)) return false;
    for (const std::string& directory : plan.directories)
      if (!append_line(text, REMOVE_DIRECTORY_KEY, directory, problem)) return false;
  }
  for (std::size_t n = 0; n < plan.packs.size(); ++n) {
    text += removal_pack_section(int(n)) + "\r\n";
    if (!append_line(text, REMOVE_PACK_NAME_KEY, plan.packs[n].name, problem)) return false;
    for (const std::string& entry : plan.packs[n].entries)
      if (!append_line(text, REMOVE_ENTRY_KEY, entry, problem)) return false;
  }
  return true;
}

const char* ini_value_problem(std::string_view key, std::string_view value) {
  if (key.size() + 1 + value.size() > INI_LINE_MAX) return "longer than an INI line can hold (254 bytes)";
  for (std::string_view part : {key, value}) {
    if (part.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
      return "holds a line break or NUL byte";
    if (part.find("//") != std::string_view::npos) return "holds \"//\", which starts an INI comment";
  }
  if (key.find('=') != std::string_view::npos) return "key holds \"=\"";
  return nullptr;
}

}  // namespace pak
