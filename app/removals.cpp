#include "app/removals.h"

#include "pak/write_messages.h"

namespace {

std::string folded(std::string_view name) {
  std::string text(name);
  fold_name(text);
  return text;
}

}  // namespace

int stage_pack_removals(PakArchive& target, const pak::RemovalPlan& plan, std::string_view pack_name) {
  if (target.is_open != 1) return 0;
  const std::string wanted = folded(pack_name);
  int staged = 0;
  for (const pak::PackRemovals& pack : plan.packs) {
    if (folded(pack.name) != wanted) continue;
    // Only names the pack holds: staging a missing name without bytes would add it.
    for (const std::string& entry : pack.entries)
      if (target.find_record(entry.c_str()) != nullptr && target.stage_entry(entry.c_str(), nullptr, 0) == 1) ++staged;
  }
  return staged;
}

std::vector<const pak::PackRemovals*> removal_only_packs(const pak::RemovalPlan& plan,
                                                         const std::vector<std::string>& merge_names) {
  std::vector<const pak::PackRemovals*> packs;
  std::vector<std::string> taken;
  for (const std::string& name : merge_names) taken.push_back(folded(name));
  for (const pak::PackRemovals& pack : plan.packs) {
    const std::string name = folded(pack.name);
    bool seen = false;
    for (const std::string& other : taken) seen = seen || other == name;
    if (seen) continue;
    taken.push_back(name);
    packs.push_back(&pack);
  }
  return packs;
}

void delete_loose_files(platform::WriteFolder& folder, const std::string& folder_path, const pak::RemovalPlan& plan,
                        DialogView& view) {
  using Status = platform::WriteFolder::RemoveStatus;
  auto report = [&](Status status, const std::string& relative) {
    if (status == Status::link_in_way)
      view.message_box(pak::LINK_IN_WAY_TEXT, folder_path + "\\" + relative);
    else if (status == Status::failed || status == Status::bad_path)
      view.message_box(pak::FILE_LOCKED_TEXT, folder_path + "\\" + relative);
  };
  for (const std::string& file : plan.files) report(folder.remove_file(file), file);
  for (const std::string& directory : plan.directories) report(folder.remove_empty_directory(directory), directory);
}
