#pragma once
// Walking every entry of a pack held in memory, depth first in table order, with each
// block, name and stretch checked before it is used. Damage is reported and the
// damaged record (or the directory below it) is skipped; the walk never reads outside
// the pack and always ends, also on packs whose directories loop or share blocks.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "pak/directory_view.h"

namespace pak {

struct WalkEntry {
  std::string_view path;        // full path as stored, e.g. "sub\\beta.bin"
  ByteView bytes;               // the entry's stretch, inside the pack
  std::uint32_t record_offset;  // where its record stands in the pack
};

struct WalkDirectory {
  std::string_view path;  // full path ending in a backslash; empty for the root
  const DirectoryView& block;
  std::uint64_t stretch_end;  // where the directory's stretch ends (the pack size for the root)
};

struct WalkProblem {
  std::string path;      // the record or directory concerned ("" for the root)
  std::uint64_t offset;  // where in the pack: the record, or the field at fault
  std::string text;      // what is wrong
};

struct WalkCallbacks {
  std::function<void(const WalkEntry&)> on_entry;          // every sound file entry
  std::function<void(const WalkDirectory&)> on_directory;  // every sound block, before its records
  std::function<void(const WalkProblem&)> on_problem;      // every piece of damage found
};

// Walks the pack view[0..view_size). Returns true when no damage was found.
//
// Damage: a block whose table does not fit in the pack (or whose count is 0), a block
// overlapping the table of the directory itself or of an ancestor, a record name
// without a NUL, a record other than the last with an empty name, a file stretch with
// a negative span or ending past the pack, a full path over PAK_MAX_PATH_LENGTH bytes,
// and directory tables that together hold more bytes than the pack (shared blocks),
// which stops the walk. A subdirectory record with a span of zero or less is an empty
// directory.
bool walk_pack(const std::uint8_t* view, std::size_t view_size, const WalkCallbacks& callbacks);

}  // namespace pak
