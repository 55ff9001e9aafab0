#include "app/removals.h"

std::string folded_name(std::string_view name) {
  std::string text(name);
  fold_name(text);
  return text;
}

std::vector<std::string> stage_pack_removals(PakArchive& target, const pak::PackRemovalIndex& index,
                                             std::string_view pack_name) {
  std::vector<std::string> staged;
  const auto* entries = index.entries_of(pack_name);
  if (target.is_open != 1 || entries == nullptr) return staged;
  for (const std::string* entry : *entries)
    // Only names the pack holds: staging a missing name without bytes would add it.
    if (target.find_record(entry->c_str()) != nullptr && target.find_pending(entry->c_str()) == nullptr &&
        target.stage_entry(entry->c_str(), nullptr, 0) == 1)
      staged.push_back(*entry);
  return staged;
}
