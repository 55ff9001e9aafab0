#include "pak/archive.h"

// Closes the pack and destroys every staged entry. Each entry is taken off the list
// and its next cleared before it is destroyed, so one deletion never reaches another.
PakArchive::~PakArchive() {
  close();
  while (pending != nullptr) {
    PendingEntry* entry = pending;
    pending = entry->next;
    entry->next = nullptr;
    delete entry;
  }
}
