// Staged entries: construction, lookup by name and release of the archive's list.

#include <cstring>

#include "pak/archive.h"

PendingEntry::PendingEntry(const char* entry_name, int encoded_flag) : encoded(encoded_flag) {
  if (entry_name != nullptr) name = entry_name;
}

void destroy_pending_list(PendingEntry* head) {
  while (head != nullptr) {
    PendingEntry* next = head->next;
    delete head;
    head = next;
  }
}

PendingEntry* PakArchive::find_pending(const char* wanted) const {
  if (wanted == nullptr || pending == nullptr) return nullptr;
  if (pending_index_head != pending) {
    // The list changed behind the index: index it again, the first entry of a name
    // (from the head) winning. An entry without a name matches nothing.
    pending_index.clear();
    for (PendingEntry* entry = pending; entry != nullptr; entry = entry->next)
      if (!entry->name.empty()) pending_index.emplace(entry->name, entry);
    pending_index_head = pending;
  }
  auto found = pending_index.find(std::string_view(wanted));
  return found == pending_index.end() ? nullptr : found->second;
}

void PakArchive::index_pushed_entry(PendingEntry* entry, const PendingEntry* old_head) {
  if (pending_index_head != old_head) {
    pending_index_head = nullptr;  // built afresh by the next lookup
    return;
  }
  if (!entry->name.empty()) pending_index.insert_or_assign(entry->name, entry);  // the head comes first
  pending_index_head = entry;
}

void PakArchive::release_pending() {
  pending_index.clear();
  pending_index_head = nullptr;
  destroy_pending_list(pending);
  pending = nullptr;
}
