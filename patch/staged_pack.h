#pragma once
// A pack of an update package, written from staged entries through the rebuild of an
// archive without a pack. The directories of every entry are staged too. The archive
// alone owns the staged entries: it destroys them once written, or when the pack goes.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "pak/archive.h"

namespace patch {

class StagedPack {
 public:
  // A file entry of path (folded system bytes). raw_to_encode: data is a file's bytes,
  // compressed when the pack is written; else stored bytes copied as they are.
  void add(const std::string& path, std::vector<std::uint8_t> data, bool raw_to_encode);
  // A file entry of path whose bytes are the file at file_path (system bytes), read and
  // compressed only when the pack is written, so that a pack of many files is written
  // in bounded memory; size is the file's size now.
  void add_file(const std::string& path, const std::string& file_path, std::uint32_t size);
  // Every directory on the way to and including directory (ending in a backslash).
  void add_directories(const std::string& directory);
  std::size_t entry_count() const { return files_; }
  // Writes base + ".pak" (base as system bytes), telling progress how far it has come
  // (null: nobody). False, with error (one line naming the file), when it cannot.
  bool write(const std::string& base, ProgressListener* progress, std::string& error);

 private:
  void push(PendingEntry* entry);
  PakArchive archive_;
  std::set<std::string> directories_;
  std::size_t files_ = 0;
};

}  // namespace patch
