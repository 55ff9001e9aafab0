#pragma once
// A pack opened from the program's resources or a mapped file under a base path, or,
// when no pack exists, the directory of loose files under that base path. It also
// carries the staged entries and the working tree of a rebuild.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "encode/encoder.h"
#include "pak/pak_format.h"
#include "platform/files.h"
#include "platform/write_batch.h"
#include "platform/write_folder.h"

class ByteSink;

constexpr int PENDING_REMOVE = 0;
constexpr int PENDING_NEW = 1;
constexpr int PENDING_REPLACE = 2;

// A staged entry: folded full name, bytes, EnCode flag and state.
struct PendingEntry {
  PendingEntry(const char* name, int encoded);
  int state = PENDING_NEW;
  std::string name;  // empty for an empty name
  std::vector<std::uint8_t> data;
  int encoded = 0;
  std::uint32_t size = 0;
  // When not empty: the system path of a file whose content is the entry's bytes, read
  // only when a rebuild writes the entry (data stays empty; size is the file's size
  // when it was staged). Lets a pack of a whole folder be built in bounded memory.
  std::string data_path;
  PendingEntry* next = nullptr;

  // The bytes the entry brings: its data, or its file's size when it was staged.
  std::uint64_t staged_size() const { return data_path.empty() ? data.size() : size; }
};

// Destroys head and every entry after it on its list, one by one (no recursion).
void destroy_pending_list(PendingEntry* head);

// One slot of an archive's table, holding a loaded entry's bytes.
struct EntrySlot {
  std::uint32_t in_use = 0;
  int owns_data = 0;
  int size = 0;
  const std::uint8_t* data = nullptr;
  std::vector<std::uint8_t> owned;  // the buffer data points into when owns_data is 1
};

constexpr int LINK_RECORD = 0;
constexpr int LINK_PENDING = 1;

// One child of a directory of the pack being built.
struct BuildLink {
  int kind = LINK_RECORD;
  const std::uint8_t* record = nullptr;  // LINK_RECORD: the old record inside the view
  PendingEntry* entry = nullptr;         // LINK_PENDING
  BuildLink* next = nullptr;
};

// One directory of the pack being built.
struct BuildDir {
  std::string dir_path;  // from the root, ending in a backslash; empty for the root
  BuildLink* links = nullptr;
  std::vector<PakRecord> records;  // child_count + 1, the end record last
  int child_count = 0;
};

// Where the pack code reports a file it cannot write; the installer binds it to its
// message box, the pak tool to a line on stderr. The pack code never shows anything.
class WriteProblemReporter {
 public:
  virtual ~WriteProblemReporter() = default;
  // text: what went wrong (system text, code page 950); path: the file concerned.
  virtual void report(const std::string& text, const std::string& path) = 0;
  // The file or pack at path could not be written for status (never ok). Reported
  // with the status's text unless overridden; the installer keeps the status itself.
  virtual void write_failed(platform::WriteStatus status, const std::string& path);
  // A file was written whole at path (system text); the installer logs it.
  virtual void written(const std::string& /*path*/) {}
};

// Told how far a long operation (an import, a rebuild) has come; total may grow
// while an import walks its source.
class ProgressListener {
 public:
  virtual ~ProgressListener() = default;
  // Entries done of total.
  virtual void progress(std::uint64_t done, std::uint64_t total) = 0;
  // The file or pack now being written (its system path).
  virtual void item(const std::string& path) { (void)path; }
  // bytes more written to it: a file's decoded bytes, a rebuilt pack's bytes.
  virtual void wrote(std::uint64_t bytes) { (void)bytes; }
  // A rebuild's entries done of total, counted by the bytes they bring (an entry's
  // stored or staged size, a raw entry before it is encoded).
  virtual void progress_bytes(std::uint64_t done, std::uint64_t total) {
    (void)done;
    (void)total;
  }
};

// Folds an entry name in place: A-Z lowered; a byte >= 0xA0 is a lead byte and the
// byte after it is kept.
void fold_name(char* text);
void fold_name(std::string& text);

class PakArchive {
 public:
  PakArchive() = default;
  PakArchive(const char* base_path, std::uint32_t slot_count);
  PakArchive(const PakArchive&) = delete;
  PakArchive& operator=(const PakArchive&) = delete;
  ~PakArchive();

  // Read side.
  int open(const char* base, std::uint32_t slot_count, int direct);
  // Opens the pack relative_base + pack_extension inside folder (no link followed), or loose
  // files under relative_base when there is none; base_path becomes the folder's path
  // joined with relative_base (with a separator after the folder, also when
  // relative_base is empty). Every write of the archive then stays inside folder, which
  // must outlive the archive's use. Returns 0 when the pack exists but cannot be
  // mapped or its root table does not fit, or the base path is too long.
  int open_in(platform::WriteFolder& folder, const std::string& relative_base, std::uint32_t slot_count, int direct);
  // Opens the pack base + ".pak" from the program's own resources only: no pack file,
  // no loose files. Returns 1 (is_open 0 when the program carries no such pack), or 0
  // when the resource's root table does not fit.
  int open_package(const char* base, std::uint32_t slot_count);
  void close();
  // The record of path inside the open pack (its first byte inside view), or null.
  const std::uint8_t* find_record(const char* path) const;
  EntrySlot* load_entry(const char* name);
  int release_entry(EntrySlot* slot);
  // Opens a pack held in the caller's memory (bytes stay valid until close), without
  // resources, files or loose-file fallback. Returns 1, or 0 when the root table does
  // not fit in size bytes (the archive is then closed).
  int open_memory(const std::uint8_t* bytes, std::size_t size, std::uint32_t slot_count);

  // Write side.
  PendingEntry* find_pending(const char* name) const;
  int stage_entry(const char* name, const std::uint8_t* bytes, std::uint32_t length);
  int write_entry_file(const char* name);
  // The system path of the entry file name below base_path: one separator between
  // them, none added when base_path already ends in one (an archive on a folder).
  std::string file_path(std::string_view name) const;
  void create_dirs(const char* path);
  // Returns 0 when the rebuild it triggers fails, else 1.
  int import_pack(PakArchive& source);
  int walk_directory(PakArchive& source, const char* prefix, const std::uint8_t* records, int n);
  int rebuild(const char* temp_base, int replace);
  // Destroys every staged entry; pending is empty afterwards. Code that empties the
  // list otherwise must not reuse the archive for staging.
  void release_pending();

  // Fields.
  PendingEntry* pending = nullptr;
  int direct = 0;
  std::string base_path;
  std::vector<BuildDir> build_dirs;
  int build_dir_count = 0;
  platform::MappedFile file;           // the mapped pack file; closed for a resource or no pack
  const std::uint8_t* view = nullptr;  // first byte of the pack
  std::size_t view_size = 0;           // bytes at view
  const std::uint8_t* root_records = nullptr;
  std::uint32_t root_count = 0;
  std::vector<EntrySlot> slots;
  std::uint32_t slot_count = 0;
  int is_open = 0;
  // load_entry hands out no entry larger than this (decoded), checked before anything
  // is allocated or read.
  std::size_t max_load_size = SIZE_MAX;
  WriteProblemReporter* reporter = nullptr;  // null: problems are not shown
  ProgressListener* progress = nullptr;      // null: progress is not told
  std::string rebuilt_path;                  // the pack file the last successful rebuild wrote
  // What follows base_path in the pack file's name. The pak tool sets it to the one
  // typed ("DATA.PAK"), so that a pack is found and written under the name as typed.
  std::string pack_extension = ".pak";
  // How rebuilds compress staged entries that are raw bytes.
  EncodeLevel encode_level = EncodeLevel::exact;
  // Threads that encode those entries ahead of the rebuild's writer; 0: one per core.
  // The pack is the same whatever the number.
  unsigned encode_threads = 0;
  // Where writes land: write_folder and, inside it, the relative path of base_path.
  // Set by open_in; for an archive opened by a path, made from base_path on first use
  // (the folder that holds the base).
  platform::WriteFolder* write_folder = nullptr;
  std::string write_base;

 private:
  // The folder that writes go to, or null when there is none.
  platform::WriteFolder* folder_for_writes();
  // Makes the directories of an entry's file below the base, through the folder.
  void make_entry_directories(const std::string& name);
  void forget_write_folder();
  // Files written during an import go into one batch (platform/write_batch.h), put in
  // place and made durable together when the import ends.
  void begin_write_batch();
  void end_write_batch();
  void report_batch_failures();
  std::unique_ptr<platform::WriteBatch> batch_;
  // While an import writes files at once, each staged entry's bytes are let go once
  // its file is written: they are in the file, and keeping them would hold a copy of
  // the whole source pack in memory.
  bool drop_written_bytes_ = false;
  std::vector<std::string> batch_written_;  // files of the batch written, told once it is committed
  std::unique_ptr<platform::WriteFolder> own_folder_;
  bool loose_files_ = true;  // false for a pack that comes from the package only

  // Read steps.
  bool make_slots(std::uint32_t count);
  // Takes the pack that file was just opened on: 1 when it is attached or missing
  // (loose files), 0 when it failed or its root table does not fit.
  int attach_file(platform::MappedFile::Status status);
  bool attach_view();
  EntrySlot* free_slot();
  EntrySlot* load_packed(const char* name);
  EntrySlot* load_loose(const char* name);

  // Rebuild steps.
  BuildLink* build_tree(const std::string& prefix, const std::uint8_t* records, std::uint32_t count);
  void attach_pending();
  void ensure_dir_chain(const std::string& path);
  void build_tables();
  std::uint64_t write_directory(ByteSink& file, const std::string& prefix, int dir_index);
  // Walks the tables in write_directory's order: the staged raw entries to encode,
  // and the bytes all entries bring (for progress).
  void plan_writes(const std::string& prefix, int dir_index, std::vector<const PendingEntry*>& to_encode);
  // Writes the bytes of one staged entry at the sink's position.
  void write_pending(ByteSink& file, const PendingEntry& entry);
  struct RebuildState;
  RebuildState* rebuild_state = nullptr;  // set while rebuild runs
  // find_pending's index: the first entry of each name, valid while pending is the
  // head it was built for (stage_entry keeps it up to date; other changes to the
  // list make find_pending build it again).
  mutable std::unordered_map<std::string_view, PendingEntry*> pending_index;
  mutable const PendingEntry* pending_index_head = nullptr;
  void index_pushed_entry(PendingEntry* entry, const PendingEntry* old_head);
};
