#pragma once
// Durable file writes in batches (docs/DURABLE_WRITES.md). A batch writes each new
// file beside its final name, under a temporary name, and leaves it there; commit
// makes every written file durable together, moves each over its final name, and makes
// the touched directories durable. A file is thus either the old one or the whole new
// one at any moment, also after a crash, and once commit returns true everything the
// batch wrote is on disk; the cost of flushing is paid once per batch, not per file.
//
// Every path goes through the rules of the write folder (write_folder.h): levels are
// resolved without following links, and a link in the way is refused. Directories made
// or found during the batch are remembered and not made again.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/name_match.h"
#include "platform/write_folder.h"

namespace platform {

class WriteBatch {
 public:
  // A batch commits by itself once it holds this many files or bytes, so that the
  // temporary copies never need more than this much room beside the old files, and on
  // Windows the handles held open stay few.
  static constexpr std::size_t MAX_FILES = 2048;
  static constexpr std::uint64_t MAX_BYTES = std::uint64_t(512) << 20;

  // A write that failed after write_file returned ok: at commit (flush or move), or in
  // an automatic commit. label is the caller's, given to write_file.
  struct Failure {
    std::string relative;
    std::string label;
    WriteStatus status;
  };

  explicit WriteBatch(WriteFolder& folder);
  WriteBatch(const WriteBatch&) = delete;
  WriteBatch& operator=(const WriteBatch&) = delete;
  // Discards what was not committed.
  ~WriteBatch();

  // When set, the temporary files that a killed run left are removed: at the first use
  // of a directory those whose names this program made (is_own_temp_name) and those of
  // the earlier scheme's Windows form ("~" and eight hex digits); on POSIX, those of
  // the earlier scheme named after a file when the batch writes that file. Only for
  // batches that own the folder for the run: another writer's temporary files go too.
  void remove_stale_temporaries(bool on) { remove_stale_ = on; }

  // Makes every level of the directory path relative that does not exist yet; levels
  // known from earlier calls are not looked at again.
  WriteStatus make_directories(std::string_view relative);

  // Writes the whole content of the file relative (its directory must exist) to a
  // temporary file beside it. ok: the file takes its final name at commit. Otherwise
  // nothing of it is left and the old file stays. A replaced file keeps its permission
  // bits (without set-user-id and set-group-id) and loses read-only, hidden and system
  // attributes; a new file gets the default. FileMode::program adds execute permission.
  WriteStatus write_file(std::string_view relative, FileProducer& producer, std::string label = {},
                         FileMode mode = FileMode::keep);
  WriteStatus write_file(std::string_view relative, ByteView data, std::string label = {},
                         FileMode mode = FileMode::keep);

  // Puts every file written since the last commit in place, durably. True when all
  // of them made it; each one that did not is a failure (take_failures), and its old
  // file stays. Each file is moved on its own: a failure of one leaves the others.
  bool commit();
  // Removes the temporary files of everything not committed; the old files stay.
  void discard();

  // The failures since the last call, oldest first.
  std::vector<Failure> take_failures();
  // Files written and not yet committed.
  std::size_t size() const { return files_; }

 private:
  struct File {
    std::string temp;  // native name of the temporary file in its directory
    std::string name;  // native name of the final file
    std::string relative;
    std::string label;
    std::intptr_t handle = -1;  // Windows: the temporary file, open until commit
  };
  struct Directory {
    std::string relative;  // "" for the folder itself
    std::vector<File> files;
  };

  // The directory relative (must exist), opened for the batch's use; cached while the
  // writes go to one directory. ok or why not.
  WriteStatus open_directory(const std::string& relative);
  void close_directory();
  void remove_stale_in_open_directory();
  // POSIX: removes the earlier scheme's temporary files of the file name in the open
  // directory.
  void remove_legacy_temps_of(const std::string& name);
  Directory& directory_entry(const std::string& relative);
  // Makes the written files durable; files that cannot be are dropped as failures.
  void flush_files();
  void fail(File& file, WriteStatus status);

  WriteFolder& folder_;
  bool remove_stale_ = false;
  std::vector<Directory> directories_;
  std::unordered_map<std::string, std::size_t> directory_index_;
  std::unordered_set<std::string> known_directories_;  // exist: made or passed during the batch
  std::unordered_set<std::string> cleaned_directories_;
  // POSIX: per directory, temporary names of the earlier scheme found there, removed
  // when the batch writes the file they are named after.
  std::unordered_map<std::string, std::vector<std::string>> legacy_temps_;
  std::unordered_set<std::string> made_in_;  // directories that got a new level since the last commit
  NameLookup names_;                         // POSIX: names on disk, matched without regard to case
  std::vector<Failure> failures_;
  std::size_t files_ = 0;
  std::uint64_t bytes_ = 0;
  std::string open_relative_;
  std::intptr_t open_handle_ = -1;  // POSIX: descriptor of the directory open_relative_
  std::string open_path_;           // Windows: full path of the directory open_relative_
};

}  // namespace platform
