// pak create / extract / merge / add / rm: the commands that write packs or files.
// Every pack is written to a temporary file and moved over its target in one step;
// every extracted file likewise.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
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

int run_create(const std::string& out, const std::string& dir, bool raw, EncodeLevel level) {
  StderrReporter problems;
  std::string base;
  if (!pack_base(out, base, problems)) return 1;
  const fs::path root = tools::utf8_path(dir);
  std::error_code error;
  if (!fs::is_directory(root, error)) {
    problems.problem(dir, "no such directory");
    return 1;
  }
  // Gather every directory and file as a staged entry with a folded name.
  std::vector<PendingEntry*> entries;
  std::set<std::string> names;
  auto stage = [&](const fs::path& path, bool is_dir) {
    std::string name;
    for (const fs::path& part : fs::relative(path, root, error)) {
      // Through the name's native form, never the narrow string: on Windows that is
      // UTF-8, not code page 950.
      const auto converted = platform::file_name_to_cp950(part);
      if (!converted) {
        problems.problem(path.string(), "the name has characters outside code page 950");
        return;
      }
      name += (name.empty() ? "" : "\\") + *converted;
    }
    if (is_dir) name += "\\";
    fold_name(name);
    if (const char* reason = pak::unsafe_path_reason(name)) return problems.problem(path.string(), reason);
    if (const char* reason = pak::unstorable_path_reason(name)) return problems.problem(path.string(), reason);
    if (!names.insert(name).second) return problems.problem(path.string(), "another file has the same folded name");
    auto* entry = new PendingEntry(name.c_str(), 0);
    entries.push_back(entry);
    if (is_dir) return;
    std::string error;
    if (!tools::read_regular_file(path, entry->data, error)) return problems.problem(path.string(), error);
    entry->size = std::uint32_t(entry->data.size());
    if (raw) {
      // Stored as they are; the reader takes bytes that begin with "EnCo" for a stream.
      if (entry->data.size() >= 4 && std::memcmp(entry->data.data(), "EnCo", 4) == 0)
        return problems.problem(path.string(), "begins with \"EnCo\" and cannot be stored raw");
      entry->encoded = 1;
    }
  };
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (it->is_directory(error))
      stage(it->path(), true);
    else if (it->is_regular_file(error))
      stage(it->path(), false);
    else
      problems.problem(it->path().string(), "neither a file nor a directory; left out");
  }
  if (error) problems.problem(dir, "cannot read the directory: " + error.message());
  PakArchive archive;
  for (PendingEntry* entry : entries) {
    entry->next = archive.pending;
    archive.pending = entry;
  }
  if (problems.count != 0) return 1;
  archive.base_path = base;
  archive.reporter = &problems;
  archive.encode_level = level;
  ProgressBar bar("create");
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
  ProgressBar bar("merge");
  target.progress = &bar;
  return finish(problems, target.import_pack(source) == 1);
}

int run_add(const std::string& target_pack, const std::string& path, const std::string& file, EncodeLevel level) {
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
  std::vector<std::uint8_t> bytes;
  std::string error;
  if (!tools::read_regular_file(tools::utf8_path(file), bytes, error)) {
    problems.problem(file, error);
    return 1;
  }
  if (pak::is_directory_path(name)) {
    problems.problem(path, "an entry path cannot end in a backslash");
    return 1;
  }
  // Missing directory levels first, so that the rebuild has a directory to put it in.
  const std::string directory(pak::directory_part(name));
  for (std::size_t i = 0; i < directory.size(); ++i) {
    const std::string level = directory.substr(0, i + 1);
    if (!pak::is_directory_path(level)) continue;
    if (target.find_record(level.c_str()) == nullptr && target.find_pending(level.c_str()) == nullptr &&
        target.stage_entry(level.c_str(), nullptr, 0) != 1)
      return 1;
  }
  // Staged as bytes of length 0, then given the file's bytes as raw data, whatever
  // they begin with: the rebuild compresses them.
  static const std::uint8_t nothing = 0;
  if (target.stage_entry(name.c_str(), &nothing, 0) != 1) return 1;
  PendingEntry* entry = target.find_pending(name.c_str());
  entry->data = std::move(bytes);
  entry->size = std::uint32_t(entry->data.size());
  entry->encoded = 0;
  target.encode_level = level;
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

  auto* create = app.add_subcommand("create", "Make a pack of a directory tree (entries EnCode-compressed)");
  create->add_option("OUT", out, "pack to write (.pak)")->required();
  create->add_option("DIR", dir, "directory to pack")->required();
  create->add_flag("--raw", raw, "store the files uncompressed");
  tools::add_level_option(*create, level);
  create->callback([&exit_code] { exit_code = run_create(out, dir, raw, level); });

  auto* extract = app.add_subcommand("extract", "Write every entry of a pack as a file under a directory");
  extract->add_option("PACK", pack, "pack to read (.pak)")->required();
  extract->add_option("DIR", dir, "directory to write into")->required();
  extract->callback([&exit_code] { exit_code = run_extract(pack, dir); });

  auto* merge = app.add_subcommand("merge", "Merge every entry of SOURCE into the existing pack TARGET");
  merge->add_option("TARGET", target, "pack to update (.pak)")->required();
  merge->add_option("SOURCE", source, "pack to merge in (.pak)")->required();
  merge->callback([&exit_code] { exit_code = run_merge(target, source); });

  auto* add = app.add_subcommand("add", "Add or replace one entry of a pack with a file's bytes");
  add->add_option("TARGET", target, "pack to update (.pak)")->required();
  add->add_option("PATH", path, "entry path inside the pack (levels separated by backslashes)")->required();
  add->add_option("FILE", file, "file whose bytes the entry gets")->required();
  tools::add_level_option(*add, level);
  add->callback([&exit_code] { exit_code = run_add(target, path, file, level); });

  auto* rm = app.add_subcommand("rm", "Remove entries (a directory with everything below it) from a pack");
  rm->add_option("TARGET", target, "pack to update (.pak)")->required();
  rm->add_option("PATH", paths, "entry paths inside the pack")->required();
  rm->callback([&exit_code] { exit_code = run_rm(target, paths); });
}

CommandRegistration registration{30, add_pack_write_commands};

}  // namespace
