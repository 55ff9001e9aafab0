// Fuzzes the removal records of UPDATA.INI: the input is INI text. Every record that
// read_removals accepts is a safe path (a pack name one plain file name), and the plan
// written back by write_removals reads back as the same plan.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ini/ini_store.h"
#include "pak/entry_path.h"
#include "pak/removal_records.h"
#include "platform/codepage.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

bool same_plan(const pak::RemovalPlan& a, const pak::RemovalPlan& b) {
  if (a.files != b.files || a.directories != b.directories || a.packs.size() != b.packs.size()) return false;
  for (std::size_t n = 0; n < a.packs.size(); ++n)
    if (a.packs[n].name != b.packs[n].name || a.packs[n].entries != b.packs[n].entries) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  IniStore store;
  store.parse(text.c_str(), std::int32_t(text.size()));
  pak::RemovalPlan plan;
  std::string problem;
  if (!pak::read_removals(store, plan, problem)) {
    check(!problem.empty());
    return 0;
  }

  for (const std::string& file : plan.files) check(pak::unsafe_path_reason(file) == nullptr);
  for (const std::string& directory : plan.directories) check(pak::unsafe_path_reason(directory) == nullptr);
  for (const pak::PackRemovals& pack : plan.packs) {
    check(pak::unsafe_path_reason(pack.name) == nullptr);
    check(platform::find_separator(pack.name, 0, true) == pack.name.size());
    for (std::string_view entry : pack.entries) {
      if (pak::is_directory_path(entry)) entry.remove_suffix(1);
      check(pak::unsafe_path_reason(entry) == nullptr);
    }
  }

  // The index holds every listed entry once, under its own pack's folded name.
  const pak::PackRemovalIndex index(plan);
  std::unordered_map<const std::string*, const std::vector<const std::string*>*> group_of;
  for (const std::string& name : index.names())
    for (const std::string* entry : *index.entries_of(name))
      check(group_of.emplace(entry, index.entries_of(name)).second);
  std::size_t listed = 0;
  for (const pak::PackRemovals& pack : plan.packs) {
    listed += pack.entries.size();
    const auto* entries = index.entries_of(pack.name);
    check(entries != nullptr);
    for (const std::string& entry : pack.entries) {
      const auto found = group_of.find(&entry);
      check(found != group_of.end() && found->second == entries);
    }
  }
  check(listed == group_of.size());

  std::string written;
  if (!pak::write_removals(plan, written, problem)) return 0;
  IniStore again;
  again.parse(written.c_str(), std::int32_t(written.size()));
  pak::RemovalPlan reread;
  check(pak::read_removals(again, reread, problem));
  check(same_plan(plan, reread));
  return 0;
}
