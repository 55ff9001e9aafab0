#pragma once
// The one place that decides where a write may land. A WriteFolder is an existing
// folder that writes are confined to: every path handed to it is relative to the
// folder, levels separated by backslashes (a 0x5C trail byte of a double-byte
// character is no separator). Each level is resolved on its own without following
// links (POSIX: openat with O_NOFOLLOW; Windows: no reparse point passed), so nothing
// that it writes, renames or removes can land outside the folder. The folder itself
// may be reached through links: it is what the user chose.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/name_match.h"

namespace platform {

// Suffix of every temporary file this program writes. The suffix alone does not make
// a file ours: see temp_file_name and is_own_temp_name.
inline constexpr std::string_view TEMP_FILE_SUFFIX = ".pakupdate-temp";

// Receives a file's content in pieces; returns false when a piece cannot be written.
class FileWriter {
 public:
  virtual ~FileWriter() = default;
  virtual bool write(const void* data, std::size_t size) = 0;
};

// Produces a file's content into a writer; false when it cannot (the reason is the
// producer's to keep). The file is then not put in place.
class FileProducer {
 public:
  virtual ~FileProducer() = default;
  virtual bool produce(FileWriter& writer) = 0;
};

class WriteFolder {
 public:
  enum class Status { ok, missing, not_a_folder, failed };

  WriteFolder() = default;
  WriteFolder(const WriteFolder&) = delete;
  WriteFolder& operator=(const WriteFolder&) = delete;
  ~WriteFolder() { close(); }

  // Opens the existing folder at path (a system path). Closes what was open before.
  Status open(const std::string& path);
  void close();
  bool is_open() const { return open_; }
  // The folder's system path as given to open.
  const std::string& path() const { return path_; }

  // Makes every level of the directory path relative that does not exist yet.
  WriteStatus make_directories(std::string_view relative);

  // Replaces the whole content of the file relative, whose directory must exist: a
  // temporary file is written beside it, flushed and moved over it in one step, so on
  // any failure the old file stays as it was and no temporary file is left. A replaced
  // file keeps its permission bits (without set-user-id and set-group-id) and loses
  // read-only, hidden and system attributes; a new file gets the default. This is a
  // batch of one file (write_batch.h); many files are cheaper written in one batch.
  WriteStatus write_file(std::string_view relative, ByteView data, FileMode mode = FileMode::keep);
  // The same with the content taken from a producer; write_failed when it fails.
  WriteStatus write_file(std::string_view relative, FileProducer& producer, FileMode mode = FileMode::keep);

  // Creates the file relative exclusively (its directory must exist), for a file that
  // is written with seeks; exists when a file of that name is already there.
  OutputFile::Status create_new(std::string_view relative, OutputFile& file);

  // Moves the file from over the file to in one step (both relative); to keeps the
  // permission bits of the file it replaces, without set-user-id and set-group-id.
  WriteStatus replace(std::string_view from, std::string_view to);

  // Removes the file relative (a link is removed itself). False when there is none
  // or it cannot be removed.
  bool remove(std::string_view relative);

  enum class RemoveStatus {
    removed,
    missing,       // nothing of that name (or a level on the way is missing or no folder)
    failed,        // it is there but cannot be removed: locked, no access
    not_a_file,    // remove_file only: a folder stands there
    not_a_folder,  // remove_empty_directory only: a file (or link) stands there
    not_empty,     // remove_empty_directory only: the directory holds something
    link_in_way,   // a link stands where a level on the way should be
    bad_path,      // a level is empty, "." or ".."
  };
  // While on, removals look up the names they do not find as spelt (name_match.h) in
  // listings kept from one removal to the next: each directory is listed once for a
  // whole run of removals instead of once per name. A removal makes no name, so a
  // kept listing can only hold one removed since, which the next removal of it finds
  // missing, as it is. Off drops the listings.
  void keep_listings_for_removals(bool on);

  // Removes the file relative; a link there is removed itself, never its target. A
  // directory there gives not_a_file.
  RemoveStatus remove_file(std::string_view relative);
  // Removes the directory relative when it is empty. A link or file there gives
  // not_a_folder.
  RemoveStatus remove_empty_directory(std::string_view relative);

  // Maps the existing file relative read-only. A link where a level or the file
  // should be gives failed.
  MappedFile::Status map(std::string_view relative, MappedFile& file);

  // Names (system bytes) of the entries of the directory relative ("" for the folder
  // itself), without "." and ".."; empty when it cannot be read.
  std::vector<std::string> names(std::string_view relative);

 private:
  friend class WriteBatch;
  std::string path_;
  bool open_ = false;
  std::intptr_t handle_ = -1;  // POSIX: the folder's descriptor
  bool keep_listings_ = false;
  NameLookup removal_names_;  // POSIX: the listings removals keep
};

// The levels of a relative path, split at backslashes (a 0x5C trail byte of a
// double-byte character is no separator). False when a level is empty, "." or "..",
// or holds a slash: a write folder takes plain names only.
bool split_relative_levels(std::string_view relative, std::vector<std::string>& levels);

// write_file_replacing (files.h) with the content taken from a producer: write_failed
// when the producer fails, and then nothing of the file is left.
WriteStatus write_file_replacing(const std::string& path, FileProducer& producer, FileMode mode = FileMode::keep);

// Joins two relative paths with a backslash; either may be empty.
std::string join_relative(std::string_view base, std::string_view name);

// A fresh name for a temporary file: prefix, eight random hex digits, eight hex digits
// of a check over the prefix and the random digits, and TEMP_FILE_SUFFIX.
std::string temp_file_name(std::string_view prefix);

// True for a name that temp_file_name made, whatever its prefix: the check digits
// match. A file of the user's whose name merely ends like one is not ours.
bool is_own_temp_name(std::string_view name);

// True for a temporary name of the earlier scheme, without check digits: exactly
// prefix, eight hex digits and TEMP_FILE_SUFFIX. Only a caller that knows the prefix
// (the name of the file it rewrites) may take such a file for its own.
bool is_legacy_temp_name(std::string_view name, std::string_view prefix);

// True when the system path names the root of a drive or of the file system.
bool is_file_system_root(const std::string& path);

}  // namespace platform
