// Read side of PakArchive: open a pack from the resources, a mapped file or memory,
// look entries up by path, hand out their bytes in slots, fall back to loose files.

#include "pak/archive.h"

#include <cstring>
#include <new>
#include <string_view>

#include "encode/decoder.h"
#include "pak/directory_view.h"
#include "pak/entry_decoding.h"
#include "pak/path_lookup.h"
#include "platform/codepage.h"
#include "platform/resources.h"

PakArchive::PakArchive(const char* base_path, std::uint32_t slot_count) { open(base_path, slot_count, 0); }

namespace {

// Copies path into buffer (PAK_MAX_PATH_LENGTH + 1 bytes) and folds it; false when it
// is null or too long.
bool folded_copy(const char* path, char* buffer, std::size_t& length) {
  if (path == nullptr) return false;
  length = std::strlen(path);
  if (length > PAK_MAX_PATH_LENGTH) return false;
  std::memcpy(buffer, path, length + 1);
  fold_name(buffer);
  return true;
}

// Hands bytes to a free slot that then owns them; null when they are too many for
// the slot's size field.
EntrySlot* fill_owned_slot(EntrySlot* slot, std::vector<std::uint8_t> bytes) {
  if (bytes.size() > std::size_t(INT32_MAX)) return nullptr;
  slot->owned = std::move(bytes);
  slot->in_use = 1;
  slot->owns_data = 1;
  slot->size = static_cast<int>(slot->owned.size());
  slot->data = slot->owned.data();
  return slot;
}

}  // namespace

bool PakArchive::make_slots(std::uint32_t count) {
  try {
    slots = std::vector<EntrySlot>(count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  slot_count = count;
  return true;
}

int PakArchive::attach_file(platform::MappedFile::Status status) {
  switch (status) {
    case platform::MappedFile::Status::missing:
      return 1;  // no pack: loose files under the base
    case platform::MappedFile::Status::failed:
      close();
      return 0;
    case platform::MappedFile::Status::ok:
      break;
  }
  view = file.data();
  view_size = file.size();
  return attach_view() ? 1 : 0;
}

int PakArchive::open(const char* base, std::uint32_t count, int direct_mode) {
  close();
  forget_write_folder();
  if (base == nullptr || std::strlen(base) > PAK_MAX_BASE_PATH_LENGTH) return 0;
  direct = direct_mode;
  base_path = std::string(base);  // base may be base_path.c_str() itself
  if (!make_slots(count)) return 0;
  const std::string pack_name = base_path + pack_extension;
  if (auto resource = platform::find_resource(pack_name)) {
    view = resource->data();
    view_size = resource->size();
    return attach_view() ? 1 : 0;
  }
  return attach_file(file.open(pack_name));
}

int PakArchive::open_in(platform::WriteFolder& folder, const std::string& relative_base, std::uint32_t count,
                        int direct_mode) {
  const std::string relative = relative_base;  // may be write_base itself
  close();
  forget_write_folder();
  if (!folder.is_open()) return 0;
  std::string base = folder.path();
  // A final 0x5C that is the trail byte of a double-byte character is no separator.
  if (base.empty() || platform::find_last_separator(base, true) != base.size() - 1) base += '\\';
  base += relative;
  if (base.size() > PAK_MAX_BASE_PATH_LENGTH) return 0;
  direct = direct_mode;
  base_path = base;
  write_folder = &folder;
  write_base = relative;
  if (!make_slots(count)) return 0;
  return attach_file(folder.map(relative + pack_extension, file));
}

int PakArchive::open_package(const char* base, std::uint32_t count) {
  close();
  forget_write_folder();
  if (base == nullptr || std::strlen(base) > PAK_MAX_BASE_PATH_LENGTH) return 0;
  direct = 0;
  base_path = std::string(base);
  loose_files_ = false;
  if (!make_slots(count)) return 0;
  auto resource = platform::find_resource(base_path + ".pak");
  if (!resource) return 1;
  view = resource->data();
  view_size = resource->size();
  return attach_view() ? 1 : 0;
}

void PakArchive::forget_write_folder() {
  write_folder = nullptr;
  write_base.clear();
  own_folder_.reset();
  loose_files_ = true;
}

platform::WriteFolder* PakArchive::folder_for_writes() {
  if (write_folder != nullptr) return write_folder;
  if (base_path.empty() || !loose_files_) return nullptr;
  // The folder that holds the base: loose files go below base_path, the pack beside
  // it. Separators at the end of the base belong to the folder.
  std::size_t end = base_path.size();
  while (end > 1 && platform::find_last_separator(std::string_view(base_path).substr(0, end), true) == end - 1) --end;
  std::string folder, relative;
  if (end < base_path.size()) {
    folder = base_path.substr(0, end);
  } else if (const std::size_t last = platform::find_last_separator(base_path, true); last == std::string::npos) {
    folder = ".";
    relative = base_path;
  } else {
    folder = base_path.substr(0, last == 0 ? 1 : last);
    relative = base_path.substr(last + 1);
  }
  if (folder.size() == 2 && folder[1] == ':') folder += '\\';  // a drive's root, not its current folder
  auto opened = std::make_unique<platform::WriteFolder>();
  if (opened->open(folder) != platform::WriteFolder::Status::ok) return nullptr;
  own_folder_ = std::move(opened);
  write_folder = own_folder_.get();
  write_base = relative;
  return write_folder;
}

int PakArchive::open_memory(const std::uint8_t* bytes, std::size_t size, std::uint32_t count) {
  close();
  forget_write_folder();
  direct = 0;
  base_path.clear();
  if (!make_slots(count)) return 0;
  view = bytes;
  view_size = size;
  return attach_view() ? 1 : 0;
}

bool PakArchive::attach_view() {
  // The root table must fit in the pack; deeper blocks are checked when they are used.
  auto root = pak::DirectoryView::at(view, view_size, 0);
  if (!root) {
    close();
    return false;
  }
  is_open = 1;
  root_count = root->count();
  root_records = root->records();
  return true;
}

void PakArchive::close() {
  is_open = 0;
  file.close();
  slots.clear();
  slot_count = 0;
  view = nullptr;
  view_size = 0;
  root_records = nullptr;
  root_count = 0;
}

const std::uint8_t* PakArchive::find_record(const char* path) const {
  if (is_open == 0) return nullptr;
  char folded[PAK_MAX_PATH_LENGTH + 1];
  std::size_t length = 0;
  if (!folded_copy(path, folded, length)) return nullptr;
  const auto found = pak::lookup_path(view, view_size, std::string_view(folded, length));
  return found ? found->directory.record(found->index) : nullptr;
}

EntrySlot* PakArchive::free_slot() {
  for (auto& slot : slots)
    if (slot.in_use == 0) return &slot;
  return nullptr;
}

EntrySlot* PakArchive::load_entry(const char* name) {
  if (is_open == 1 && direct == 0) {
    if (root_records == nullptr || name == nullptr || *name == 0) return nullptr;
    if (EntrySlot* slot = load_packed(name)) return slot;
  }
  return load_loose(name);
}

// The entry from the pack, or null when the pack has no sound file entry of that name
// (then the caller tries the loose file) or no slot is free.
EntrySlot* PakArchive::load_packed(const char* name) {
  char folded[PAK_MAX_PATH_LENGTH + 1];
  std::size_t length = 0;
  if (!folded_copy(name, folded, length)) return nullptr;
  const auto found = pak::lookup_path(view, view_size, std::string_view(folded, length));
  if (!found || found->kind != pak::NameKind::file) return nullptr;
  EntrySlot* slot = free_slot();
  if (slot == nullptr) return nullptr;
  const pak::ByteView entry = *found->directory.stretch(found->index);

  if (!pak::looks_encoded(entry)) {
    if (entry.size() > std::size_t(INT32_MAX) || entry.size() > max_load_size) return nullptr;
    slot->in_use = 1;
    slot->owns_data = 0;
    slot->size = static_cast<int>(entry.size());
    slot->data = entry.data();
    return slot;
  }
  if (entry.size() >= 10 && pak::encoded_size(entry) > max_load_size) return nullptr;
  // A malformed stream is not handed out.
  auto decoded = pak::decode_entry(entry);
  if (!decoded) return nullptr;
  return fill_owned_slot(slot, std::move(*decoded));
}

EntrySlot* PakArchive::load_loose(const char* name) {
  // An archive opened on memory or from the package has no directory of loose files.
  if (name == nullptr || base_path.empty() || !loose_files_) return nullptr;
  const std::size_t length = std::strlen(name);
  if (base_path.size() + 1 + length > PAK_MAX_PATH_LENGTH) return nullptr;
  EntrySlot* slot = free_slot();
  if (slot == nullptr) return nullptr;
  auto bytes = platform::read_file(base_path + "\\" + name, max_load_size);
  if (!bytes) return nullptr;
  return fill_owned_slot(slot, std::move(*bytes));
}

int PakArchive::release_entry(EntrySlot* slot) {
  if (slot == nullptr || slot->in_use != 1) return 0;
  slot->in_use = 0;
  if (slot->owns_data == 1) std::vector<std::uint8_t>().swap(slot->owned);
  slot->owns_data = 0;
  slot->size = 0;
  slot->data = nullptr;
  return 1;
}
