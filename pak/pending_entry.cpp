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
  if (wanted == nullptr) return nullptr;
  const std::size_t length = std::strlen(wanted);
  for (PendingEntry* entry = pending; entry != nullptr; entry = entry->next) {
    // An entry without a name matches nothing.
    if (!entry->name.empty() && entry->name.size() == length && std::memcmp(entry->name.data(), wanted, length) == 0)
      return entry;
  }
  return nullptr;
}

void PakArchive::release_pending() {
  destroy_pending_list(pending);
  pending = nullptr;
}

PakArchive::~PakArchive() {
  close();
  release_pending();
}
