#pragma once
// What turns one pack into another: the file entries of the new pack that the old one
// lacks or holds with other decoded bytes, the directories it lacks, and the entries of
// the old pack that the new one lacks. Packs are held in memory (mapped); entries are
// compared by their stored bytes first and decoded only when those differ, in bounded
// memory.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pak/directory_view.h"

namespace patch {

using pak::ByteView;

struct ChangedEntry {
  std::string path;  // full path as stored in the new pack
  ByteView bytes;    // its stored bytes, inside the new pack
  bool added;        // the old pack has no file entry of this path
};

struct DiffProblem {
  bool in_new;  // the problem is in the new pack (the old one's are warnings)
  std::string path;
  std::string text;
};

struct PackDifference {
  // File entries of the new pack that are new or whose decoded bytes changed, in the
  // new pack's table order (depth first).
  std::vector<ChangedEntry> changed;
  // Directories of the new pack (ending in a backslash) that the old one lacks, parents
  // before children.
  std::vector<std::string> added_directories;
  // Paths of the old pack that the new one lacks: files, and directories (ending in a
  // backslash) of which only the topmost is listed, since removing a directory removes
  // everything below it. In the old pack's table order.
  std::vector<std::string> removed;
  std::vector<DiffProblem> problems;
  std::uint64_t entries_compared = 0;  // file entries present in both

  bool same() const { return changed.empty() && added_directories.empty() && removed.empty(); }
  bool new_pack_sound() const;
};

// Told after each file entry of the new pack: done of total.
using DiffProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Compares the pack old_pack with new_pack. Damage in either pack is reported in
// problems; damaged records are left out. A new entry whose EnCode stream does not
// decode is a problem of the new pack. An old entry whose stream does not decode
// counts as changed.
PackDifference diff_packs(ByteView old_pack, ByteView new_pack, const DiffProgress& progress = {});

// True when two stored entries decode to the same bytes (raw entries are their own
// decoded bytes). A stream that does not decode equals nothing. Never holds more than
// a window of each entry's decoded bytes.
bool same_decoded_bytes(ByteView a, ByteView b);

}  // namespace patch
