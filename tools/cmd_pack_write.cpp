// pak create / extract / merge / add / rm: the commands that write packs or files.
// Every pack is written to a temporary file and moved over its target in one step;
// every extracted file likewise.
//
// LAYOUT
//   StderrReporter, pack_base, open_existing    problems, and opening a pack argument
//   FoundItem, gather_folder, take_bytes_from   a folder walked into entries, each
//                                               file read only when it is written
//   run_create / run_extract / run_merge        one function per command
//   stage_missing_levels, stage_file, run_add   pak add (a file or a whole folder)
//   run_rm                                      pak rm
//   add_pack_write_commands                     the commands' options and help

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "pak/archive.h"
#include "pak/entry_path.h"
#include "pak/write_messages.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tools/command_registry.h"
#include "tools/entry_path_argument.h"
#include "tools/level_option.h"
#include "tools/progress_bar.h"
#include "tools/regular_file.h"
#include "tools/utf8_paths.h"

namespace {

namespace fs = std::filesystem;
using tools::ProgressBar;
using tools::to_system;

// Problems go to stderr, one line each; the count decides the exit code.
class StderrReporter final : public WriteProblemReporter {
 public:
  void report(const std::string& text, const std::string& path) override {
    // The installer's message is code page 950 text; say it in words here.
    const std::string shown = text == pak::FILE_LOCKED_TEXT   ? "cannot write the file (locked, no access or disk full)"
                              : text == pak::LINK_IN_WAY_TEXT ? "a symbolic link or junction is in the way: not written"
                                                              : text;
    std::fprintf(stderr, "pak: %s: %s\n", path.c_str(), shown.c_str());
    ++count;
  }
  void problem(const std::string& path, const std::string& text) { report(text, path); }
  int count = 0;
};

// The base path of a pack argument ("x/data.pak" -> "x/data"), as system bytes.
bool pack_base(const std::string& pack, std::string& base, StderrReporter& problems) {
  if (pack.size() < 5 || !std::equal(pack.end() - 4, pack.end(), ".pak",
                                     [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; })) {
    problems.problem(pack, "a pack name must end in .pak");
    return false;
  }
  if (!to_system(pack.substr(0, pack.size() - 4), base)) {
    problems.problem(pack, "the path has characters outside code page 950");
    return false;
  }
  if (base.size() > PAK_MAX_BASE_PATH_LENGTH) {
    problems.problem(pack, "the path is longer than 259 bytes");
    return false;
  }
  return true;
}

// The ".pak" of a pack argument as typed: the pack is found and written under the
// name the user gives, whatever its case (pack_base has checked it).
std::string typed_extension(const std::string& pack) { return pack.substr(pack.size() - 4); }

// Opens an existing pack; false (with a problem) when there is none.
bool open_existing(PakArchive& archive, const std::string& pack, StderrReporter& problems) {
  std::string base;
  if (!pack_base(pack, base, problems)) return false;
  // A folder or FIFO of the pack's name is named as such (the archive would take it
  // for a missing or unreadable pack).
  std::error_code error;
  const fs::file_type type = fs::status(tools::utf8_path(pack), error).type();
  if (type != fs::file_type::regular && type != fs::file_type::not_found && type != fs::file_type::none) {
    problems.problem(pack, "not a regular file");
    return false;
  }
  archive.pack_extension = typed_extension(pack);
  if (archive.open(base.c_str(), 5, 0) != 1) {
    problems.problem(pack, "cannot open the pack");
    return false;
  }
  if (archive.is_open != 1) {
    problems.problem(pack, "no such pack");
    return false;
  }
  archive.reporter = &problems;
  return true;
}

int finish(const StderrReporter& problems, bool ok) { return ok && problems.count == 0 ? 0 : 1; }

// One file or directory found below a folder, named as an entry.
struct FoundItem {
  std::string name;         // folded entry name; a directory's ends in a backslash
  std::string system_path;  // the file's absolute path as system bytes (files only)
  std::uint64_t size = 0;
};

// Every directory and regular file below dir, named by prefix and its path below dir,
// in the order the walk meets them. Files are not read: a pack of a whole folder is
// built in bounded memory, each file read when its entry is written. raw: the first
// bytes are checked, since a raw entry must not begin with "EnCo".
std::vector<FoundItem> gather_folder(const fs::path& dir, const std::string& prefix, bool raw,
                                     StderrReporter& problems) {
  std::vector<FoundItem> found;
  std::set<std::string> names;
  std::error_code error;
  auto add = [&](const fs::path& path, bool is_dir) {
    std::string name = prefix;
    bool first = true;
    // Lexically: resolving links would name a link by its target's path.
    for (const fs::path& part : path.lexically_relative(dir)) {
      // Through the name's native form, never the narrow string: on Windows that is
      // not code page 950.
      const auto system = platform::file_name_to_cp950(part);
      if (!system) return problems.problem(path.string(), "the name has characters outside code page 950");
      name += (first ? "" : "\\") + *system;
      first = false;
    }
    if (is_dir) name += "\\";
    fold_name(name);
    if (const char* reason = pak::unsafe_path_reason(name)) return problems.problem(path.string(), reason);
    if (const char* reason = pak::unstorable_path_reason(name)) return problems.problem(path.string(), reason);
    if (!names.insert(name).second) return problems.problem(path.string(), "another file has the same folded name");
    FoundItem item{name, {}, 0};
    if (!is_dir) {
      std::error_code size_error;
      item.size = fs::file_size(path, size_error);
      if (size_error) return problems.problem(path.string(), "cannot read the file: " + size_error.message());
      if (item.size > 0xFFFFFFFFu) return problems.problem(path.string(), "larger than a pack entry can be (4 GiB)");
      const auto system_path = platform::file_name_to_cp950(fs::absolute(path, size_error));
      if (!system_path) return problems.problem(path.string(), "the path has characters outside code page 950");
      item.system_path = *system_path;
      if (raw) {
        char head[4] = {};
        std::ifstream in(path, std::ios::binary);
        if (!in) return problems.problem(path.string(), "cannot open the file");
        in.read(head, 4);
        if (in.gcount() == 4 && std::memcmp(head, "EnCo", 4) == 0)
          return problems.problem(path.string(), "begins with \"EnCo\" and cannot be stored raw");
      }
    }
    found.push_back(std::move(item));
  };
  for (auto it = fs::recursive_directory_iterator(dir, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    // Links are not followed: a pack holds files, and a link's target may lie outside
    // the folder.
    const fs::file_status status = it->symlink_status(error);
    if (fs::is_directory(status))
      add(it->path(), true);
    else if (fs::is_regular_file(status))
      add(it->path(), false);
    else if (fs::is_symlink(status))
      problems.problem(it->path().string(), "a symbolic link; links are not followed, so it cannot be packed");
    else
      problems.problem(it->path().string(), "neither a file nor a directory; it cannot be packed");
  }
  if (error) problems.problem(dir.string(), "cannot read the directory: " + error.message());
  return found;
}

// Gives a staged entry the content of a found file, read when the entry is written.
void take_bytes_from(PendingEntry& entry, const FoundItem& item, bool raw) {
  entry.data.clear();
  entry.data_path = item.system_path;
  entry.size = std::uint32_t(item.size);
  entry.encoded = raw ? 1 : 0;
}

int run_create(const std::string& out, const std::string& dir, bool raw, EncodeLevel level, unsigned jobs) {
  StderrReporter problems;
  std::string base;
  if (!pack_base(out, base, problems)) return 1;
  const fs::path root = tools::utf8_path(dir);
  std::error_code error;
  if (!fs::is_directory(root, error)) {
    problems.problem(dir, "no such directory");
    return 1;
  }
  const std::vector<FoundItem> found = gather_folder(root, "", raw, problems);
  if (problems.count != 0) return 1;
  PakArchive archive;
  for (const FoundItem& item : found) {
    auto* entry = new PendingEntry(item.name.c_str(), 0);
    if (!pak::is_directory_path(item.name)) take_bytes_from(*entry, item, raw);
    entry->next = archive.pending;
    archive.pending = entry;
  }
  archive.base_path = base;
  archive.pack_extension = typed_extension(out);
  archive.reporter = &problems;
  archive.encode_level = level;
  archive.encode_threads = jobs;
  ProgressBar bar("create", ProgressBar::Unit::bytes);
  archive.progress = &bar;
  return finish(problems, archive.rebuild((base + "temp").c_str(), 1) == 1);
}

int run_extract(const std::string& pack, const std::string& dir) {
  StderrReporter problems;
  PakArchive source;
  if (!open_existing(source, pack, problems)) return 1;
  std::string system_dir;
  if (!to_system(dir, system_dir)) {
    problems.problem(dir, "the path has characters outside code page 950");
    return 1;
  }
  std::error_code error;
  fs::create_directories(tools::utf8_path(dir), error);
  if (error) {
    problems.problem(dir, "cannot create the directory: " + error.message());
    return 1;
  }
  // A target without a pack writes every staged entry as a file at once.
  PakArchive target;
  target.base_path = system_dir;
  target.direct = 1;
  target.reporter = &problems;
  ProgressBar bar("extract");
  target.progress = &bar;
  target.import_pack(source);
  return finish(problems, true);
}

int run_merge(const std::string& target_pack, const std::string& source_pack) {
  StderrReporter problems;
  PakArchive target, source;
  if (!open_existing(target, target_pack, problems)) return 1;
  if (!open_existing(source, source_pack, problems)) return 1;
  ProgressBar bar("merge", ProgressBar::Unit::bytes);
  target.progress = &bar;
  return finish(problems, target.import_pack(source) == 1);
}

// Stages the directory levels of name (up to its last backslash) that the target
// lacks, so that the rebuild has a directory to put it in.
bool stage_missing_levels(PakArchive& target, const std::string& name) {
  const std::string directory(pak::directory_part(name));
  for (std::size_t i = 0; i < directory.size(); ++i) {
    const std::string level = directory.substr(0, i + 1);
    if (!pak::is_directory_path(level)) continue;
    if (target.find_record(level.c_str()) == nullptr && target.find_pending(level.c_str()) == nullptr &&
        target.stage_entry(level.c_str(), nullptr, 0) != 1)
      return false;
  }
  return true;
}

// Stages a file entry whose bytes the rebuild takes from item's file. Staged as bytes
// of length 0, then given the file as raw data, whatever it begins with: the rebuild
// compresses it.
bool stage_file(PakArchive& target, const FoundItem& item) {
  static const std::uint8_t nothing = 0;
  if (!stage_missing_levels(target, item.name) || target.stage_entry(item.name.c_str(), &nothing, 0) != 1) return false;
  take_bytes_from(*target.find_pending(item.name.c_str()), item, false);
  return true;
}

int run_add(const std::string& target_pack, const std::string& path, const std::string& file, EncodeLevel level,
            unsigned jobs) {
  StderrReporter problems;
  PakArchive target;
  if (!open_existing(target, target_pack, problems)) return 1;
  auto typed = entry_path_argument(path);
  if (!typed) {
    problems.problem(path, "the path has characters outside code page 950");
    return 1;
  }
  std::string name = std::move(*typed);
  fold_name(name);
  target.encode_level = level;
  target.encode_threads = jobs;
  std::error_code error;
  if (fs::is_directory(file, error)) {
    // A folder: every file and directory below it, under the entry directory name.
    while (pak::is_directory_path(name)) name.pop_back();
    if (name.empty()) {
      problems.problem(path, "a folder needs an entry directory to go under");
      return 1;
    }
    if (const char* reason = pak::unsafe_path_reason(name)) {
      problems.problem(path, reason);
      return 1;
    }
    if (target.find_record(name.c_str()) != nullptr) {
      problems.problem(path, "the pack holds a file of this name: a folder goes below an entry directory");
      return 1;
    }
    const std::vector<FoundItem> found = gather_folder(tools::utf8_path(file), name + "\\", false, problems);
    if (problems.count != 0) return 1;
    if (!stage_missing_levels(target, name + "\\")) return 1;
    if (target.find_record((name + "\\").c_str()) == nullptr && target.find_pending((name + "\\").c_str()) == nullptr &&
        target.stage_entry((name + "\\").c_str(), nullptr, 0) != 1)
      return 1;
    for (const FoundItem& item : found) {
      if (!pak::is_directory_path(item.name)) {
        if (!stage_file(target, item)) return 1;
      } else if (target.find_record(item.name.c_str()) == nullptr &&
                 target.find_pending(item.name.c_str()) == nullptr &&
                 target.stage_entry(item.name.c_str(), nullptr, 0) != 1) {
        return 1;
      }
    }
    ProgressBar bar("add", ProgressBar::Unit::bytes);
    target.progress = &bar;
    return finish(problems, target.rebuild((target.base_path + "temp").c_str(), 1) == 1);
  }
  std::vector<std::uint8_t> bytes;
  std::string read_error;
  if (!tools::read_regular_file(tools::utf8_path(file), bytes, read_error)) {
    problems.problem(file, read_error);
    return 1;
  }
  if (pak::is_directory_path(name)) {
    problems.problem(path, "an entry path cannot end in a backslash");
    return 1;
  }
  if (!stage_missing_levels(target, name)) return 1;
  // Staged as bytes of length 0, then given the file's bytes as raw data, whatever
  // they begin with: the rebuild compresses them.
  static const std::uint8_t nothing = 0;
  if (target.stage_entry(name.c_str(), &nothing, 0) != 1) return 1;
  PendingEntry* entry = target.find_pending(name.c_str());
  entry->data = std::move(bytes);
  entry->size = std::uint32_t(entry->data.size());
  entry->encoded = 0;
  return finish(problems, target.rebuild((target.base_path + "temp").c_str(), 1) == 1);
}

int run_rm(const std::string& target_pack, const std::vector<std::string>& paths) {
  StderrReporter problems;
  PakArchive target;
  if (!open_existing(target, target_pack, problems)) return 1;
  std::vector<std::string> found;
  for (const std::string& path : paths) {
    auto typed = entry_path_argument(path);
    if (!typed) {
      problems.problem(path, "the path has characters outside code page 950");
      continue;
    }
    std::string name = std::move(*typed);
    fold_name(name);
    // A directory may be named without its backslash.
    if (target.find_record(name.c_str()) == nullptr && !pak::is_directory_path(name) &&
        target.find_record((name + "\\").c_str()) != nullptr)
      name += "\\";
    if (name.empty() || target.find_record(name.c_str()) == nullptr) {
      problems.problem(path, "not in the pack");
      continue;
    }
    found.push_back(name);
  }
  if (problems.count != 0) return 1;
  for (const std::string& name : found)
    if (target.stage_entry(name.c_str(), nullptr, 0) != 1) return 1;
  return finish(problems, target.rebuild((target.base_path + "temp").c_str(), 1) == 1);
}

void add_pack_write_commands(CLI::App& app, int& exit_code) {
  static std::string out, dir, pack, target, source, path, file;
  static std::vector<std::string> paths;
  static bool raw = false;
  static EncodeLevel level = EncodeLevel::exact;
  static unsigned jobs = 0;

  auto* create = app.add_subcommand("create", "Make a pack of a directory tree (entries EnCode-compressed)");
  create->add_option("OUT", out, "pack to write (.pak)")->required();
  create->add_option("DIR", dir, "directory to pack")->required();
  create->add_flag("--raw", raw, "store the files uncompressed");
  tools::add_level_option(*create, level);
  tools::add_jobs_option(*create, jobs);
  create->callback([&exit_code] { exit_code = run_create(out, dir, raw, level, jobs); });

  auto* extract = app.add_subcommand("extract", "Write every entry of a pack as a file under a directory");
  extract->add_option("PACK", pack, "pack to read (.pak)")->required();
  extract->add_option("DIR", dir, "directory to write into")->required();
  extract->callback([&exit_code] { exit_code = run_extract(pack, dir); });

  auto* merge = app.add_subcommand("merge", "Merge every entry of SOURCE into the existing pack TARGET");
  merge->add_option("TARGET", target, "pack to update (.pak)")->required();
  merge->add_option("SOURCE", source, "pack to merge in (.pak)")->required();
  merge->callback([&exit_code] { exit_code = run_merge(target, source); });

  auto* add = app.add_subcommand(
      "add",
      "Add or replace one entry of a pack with a file's bytes, or every file of a folder below an entry directory");
  add->add_option("TARGET", target, "pack to update (.pak)")->required();
  add->add_option("PATH", path, "entry path inside the pack (levels separated by backslashes)")->required();
  add->add_option("FILE", file, "file whose bytes the entry gets, or a folder to add below PATH")->required();
  tools::add_level_option(*add, level);
  tools::add_jobs_option(*add, jobs);
  add->callback([&exit_code] { exit_code = run_add(target, path, file, level, jobs); });

  auto* rm = app.add_subcommand("rm", "Remove entries (a directory with everything below it) from a pack");
  rm->add_option("TARGET", target, "pack to update (.pak)")->required();
  rm->add_option("PATH", paths, "entry paths inside the pack")->required();
  rm->callback([&exit_code] { exit_code = run_rm(target, paths); });
}

CommandRegistration registration{30, add_pack_write_commands};

}  // namespace
