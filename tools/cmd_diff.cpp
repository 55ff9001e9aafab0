// pak diff OLD_DIR NEW_DIR PACKAGE_DIR: the update package that turns one install of
// the game into another. Loose files that are new or changed go into DLL.PAK; each
// game pack (a *.pak in the folder itself) present in both gets a merge pack of its new
// and changed entries, stored streams copied as they are; what the new install lacks is
// written as removal records (pak/removal_records.h) into UPDATA.INI.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ini/ini_store.h"
#include "pak/archive.h"
#include "pak/entry_path.h"
#include "pak/pack_diff.h"
#include "pak/removal_records.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tools/command_registry.h"
#include "tools/display_path.h"
#include "tools/progress_bar.h"
#include "tools/regular_file.h"
#include "tools/utf8_paths.h"

namespace {

namespace fs = std::filesystem;

struct DiffError {
  std::string text;
};

[[noreturn]] void fail(const std::string& text) { throw DiffError{text}; }

// One file or folder of an install tree.
struct TreeItem {
  std::string system;  // relative path as system bytes, levels separated by backslashes, case kept
  fs::path native;     // the full native path
};

// An install tree: loose files, folders and game packs, keyed by folded system path.
struct Tree {
  std::map<std::string, TreeItem> files;
  std::map<std::string, TreeItem> folders;
  std::map<std::string, TreeItem> packs;  // *.pak in the folder itself, keyed by folded base name
};

bool is_pack_file_name(const std::string& name) {
  if (name.size() <= 4) return false;
  std::string suffix = name.substr(name.size() - 4);
  fold_name(suffix);
  return suffix == ".pak";
}

Tree scan_tree(const std::string& root_argument) {
  const fs::path root = tools::utf8_path(root_argument);
  std::error_code error;
  if (!fs::is_directory(root, error)) fail(root_argument + ": no such folder");
  Tree tree;
  std::set<std::string> taken;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const fs::file_status status = it->symlink_status(error);
    std::string system;
    // Lexically: resolving links would name a link by its target's path.
    for (const fs::path& part : it->path().lexically_relative(root)) {
      // From the name's native form: on Windows its UTF-16 name.
      const auto level = platform::file_name_to_cp950(part);
      if (!level) fail(it->path().string() + ": the name has characters outside code page 950");
      // An ordinary character of a POSIX name, but a folder separator to packs and the
      // installer (a 0x5C trail byte of a Big5 character is none).
      if (platform::find_separator(*level, 0) != level->size())
        fail(it->path().string() + ": the name holds a backslash, a folder separator on Windows");
      system += (system.empty() ? "" : "\\") + *level;
    }
    std::string folded = system;
    fold_name(folded);
    if (!taken.insert(folded).second)
      fail(it->path().string() + ": another file has the same name in other letter case");
    if (const char* reason = pak::unsafe_path_reason(system)) fail(it->path().string() + ": " + reason);
    if (system.size() > PAK_MAX_PATH_LENGTH) fail(it->path().string() + ": the path is longer than 259 bytes");
    TreeItem item{system, it->path()};
    if (fs::is_directory(status)) {
      tree.folders.emplace(folded, item);
    } else if (fs::is_regular_file(status)) {
      const bool top_level = platform::find_separator(system, 0) == system.size();
      if (top_level && is_pack_file_name(system))
        tree.packs.emplace(folded.substr(0, folded.size() - 4), item);
      else
        tree.files.emplace(folded, item);
    } else {
      fail(it->path().string() + ": neither a regular file nor a folder (links are not followed)");
    }
  }
  if (error) fail(root_argument + ": cannot read the folder: " + error.message());
  return tree;
}

bool same_file_bytes(const fs::path& a, const fs::path& b) {
  std::error_code error;
  if (fs::file_size(a, error) != fs::file_size(b, error) || error) return false;
  std::ifstream in_a(a, std::ios::binary), in_b(b, std::ios::binary);
  if (!in_a || !in_b) fail(a.string() + ": cannot read");
  std::vector<char> buffer_a(1 << 16), buffer_b(1 << 16);
  while (in_a && in_b) {
    in_a.read(buffer_a.data(), std::streamsize(buffer_a.size()));
    in_b.read(buffer_b.data(), std::streamsize(buffer_b.size()));
    if (in_a.gcount() != in_b.gcount() ||
        std::memcmp(buffer_a.data(), buffer_b.data(), std::size_t(in_a.gcount())) != 0)
      return false;
  }
  return true;
}

// A whole file mapped read-only (a pack to compare).
struct MappedPack {
  platform::MappedFile file;
  pak::ByteView bytes() const { return {file.data(), file.size()}; }
};

std::unique_ptr<MappedPack> map_pack(const fs::path& native) {
  auto pack = std::make_unique<MappedPack>();
  std::string system;
  if (!tools::to_system(native.string(), system))
    fail(native.string() + ": the path has characters outside code page 950");
  if (pack->file.open(system) != platform::MappedFile::Status::ok) fail(native.string() + ": cannot map the pack");
  return pack;
}

// UTF-8 notes as code page 950 with CR LF line ends; a character code page 950 lacks
// is named by line and column (in characters).
std::string notes_as_cp950(const std::vector<std::uint8_t>& bytes, bool already_cp950, const std::string& file) {
  std::string text(bytes.begin(), bytes.end());
  if (!already_cp950 && text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
  std::string out;
  std::size_t start = 0, line_number = 1;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    const bool last = end == std::string::npos;
    if (last) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find('\0') != std::string::npos)
      fail(file + ": line " + std::to_string(line_number) + ": holds a NUL byte");
    if (already_cp950) {
      if (!platform::cp950_to_utf8(line))
        fail(file + ": line " + std::to_string(line_number) + ": not code page 950 text");
      out += line;
    } else if (auto converted = platform::utf8_to_cp950(line)) {
      out += *converted;
    } else {
      // Find the first character that does not convert.
      std::size_t column = 1;
      for (std::size_t i = 0; i < line.size(); ++column) {
        std::size_t length = 1;
        const auto lead = static_cast<unsigned char>(line[i]);
        if (lead >= 0xF0)
          length = 4;
        else if (lead >= 0xE0)
          length = 3;
        else if (lead >= 0xC0)
          length = 2;
        const std::string character = line.substr(i, length);
        if (!platform::utf8_to_cp950(character)) {
          std::string hex;
          for (unsigned char byte : character) {
            char digits[4];
            std::snprintf(digits, sizeof digits, "%02X", byte);
            hex += (hex.empty() ? "" : " ") + std::string(digits);
          }
          const bool valid_utf8 = platform::cp950_to_utf8(character).has_value() || length > 1;
          fail(file + ": line " + std::to_string(line_number) + ", column " + std::to_string(column) + ": " +
               (valid_utf8 ? "\"" + character + "\" (" + hex + ") has no code page 950 form"
                           : "byte " + hex + " is not UTF-8 (use --notes-encoding cp950 for Big5 notes)"));
        }
        i += length;
      }
      fail(file + ": line " + std::to_string(line_number) + ": not convertible to code page 950");
    }
    if (last) break;
    out += "\r\n";
    start = end + 1;
    ++line_number;
  }
  return out;
}

// A pack written from staged entries, through the rebuild of an archive without a
// pack: directories of every entry are staged too. The archive alone owns the staged
// entries: it destroys them once written, or when the builder goes.
class PackBuilder {
 public:
  // raw_to_encode: data is a file's bytes, compressed by the rebuild; else stored
  // bytes copied as they are.
  void add(const std::string& path, std::vector<std::uint8_t> data, bool raw_to_encode) {
    add_directories(std::string(pak::directory_part(path)));
    auto* entry = new PendingEntry(path.c_str(), raw_to_encode ? 0 : 1);
    entry->data = std::move(data);
    entry->size = std::uint32_t(entry->data.size());
    push(entry);
  }
  void add_directories(const std::string& directory) {
    for (std::size_t i = 0; i < directory.size(); ++i) {
      if (platform::starts_double_byte(directory, i)) {
        ++i;
        continue;
      }
      if (directory[i] != '\\') continue;
      const std::string level = directory.substr(0, i + 1);
      if (directories_.insert(level).second) push(new PendingEntry(level.c_str(), 0));
    }
  }
  std::size_t entry_count() const { return files_; }
  // Writes base + ".pak" (base as system bytes).
  void write(const std::string& base, tools::ProgressBar* bar) {
    archive_.base_path = base;
    archive_.progress = bar;
    if (archive_.rebuild((base + "temp").c_str(), 1) != 1) fail(base + ".pak: cannot write the pack");
  }

 private:
  void push(PendingEntry* entry) {
    if (!pak::is_directory_path(entry->name)) ++files_;
    entry->next = archive_.pending;
    archive_.pending = entry;
  }
  PakArchive archive_;
  std::set<std::string> directories_;
  std::size_t files_ = 0;
};

struct PackSummary {
  std::string name;  // base name as in the old install
  std::size_t added = 0, changed = 0, removed = 0;
  bool merged = false;  // a merge pack is in the package
};

struct Options {
  std::string old_dir, new_dir, package_dir;
  std::string win_ini, dir, notes, notes_encoding = "utf8";
  bool has_win_ini = false, has_dir = false, json = false;
};

struct Outcome {
  std::vector<std::string> added, changed, removed, folders_removed;  // loose, system paths
  std::vector<PackSummary> packs;
  std::vector<std::pair<std::string, std::uintmax_t>> package_files;
};

void check_ini_value(const char* option, const char* key, const std::string& value) {
  if (const char* why = pak::ini_value_problem(key, value)) fail(std::string(option) + " " + value + ": " + why);
}

Outcome make_package(const Options& options, const fs::path& out) {
  Outcome outcome;
  const Tree old_tree = scan_tree(options.old_dir);
  const Tree new_tree = scan_tree(options.new_dir);

  std::string ini = "[inst]\r\n";
  std::string value;
  if (options.has_win_ini) {
    if (!tools::to_system(options.win_ini, value)) fail("--win-ini: characters outside code page 950");
    check_ini_value("--win-ini", "win_ini", value);
    ini += "win_ini=" + value + "\r\n";
  }
  if (options.has_dir) {
    if (!tools::to_system(options.dir, value)) fail("--dir: characters outside code page 950");
    check_ini_value("--dir", "dir", value);
    ini += "dir=" + value + "\r\n";
  }

  std::string notes;
  if (!options.notes.empty()) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!tools::read_regular_file(tools::utf8_path(options.notes), bytes, error)) fail(options.notes + ": " + error);
    notes = notes_as_cp950(bytes, options.notes_encoding == "cp950", options.notes);
  }

  // Loose files, with packs that only one side has counted among them.
  std::map<std::string, TreeItem> old_files = old_tree.files, new_files = new_tree.files;
  for (const auto& [base, item] : old_tree.packs)
    if (!new_tree.packs.contains(base)) old_files.emplace(base + ".pak", item);
  for (const auto& [base, item] : new_tree.packs)
    if (!old_tree.packs.contains(base)) new_files.emplace(base + ".pak", item);

  pak::RemovalPlan removals;
  PackBuilder payload;
  for (const auto& [key, item] : new_files) {
    if (old_tree.folders.contains(key))
      fail(item.native.string() + ": a folder in OLD_DIR is a file in NEW_DIR; not supported, remove it by hand");
    const auto old = old_files.find(key);
    if (old != old_files.end() && same_file_bytes(old->second.native, item.native)) continue;
    (old == old_files.end() ? outcome.added : outcome.changed).push_back(item.system);
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!tools::read_regular_file(item.native, bytes, error)) fail(item.native.string() + ": " + error);
    if (bytes.size() > 0xFFFFFFF0u) fail(item.native.string() + ": larger than a pack entry can be");
    payload.add(key, std::move(bytes), true);
  }
  for (const auto& [key, item] : old_files) {
    if (new_files.contains(key)) continue;
    if (new_tree.folders.contains(key))
      fail(item.native.string() + ": a file in OLD_DIR is a folder in NEW_DIR; not supported, remove it by hand");
    outcome.removed.push_back(item.system);
    removals.files.push_back(item.system);
  }
  // Folders NEW lacks, deepest first, so that each is empty when its turn comes.
  for (auto it = old_tree.folders.rbegin(); it != old_tree.folders.rend(); ++it) {
    if (new_tree.folders.contains(it->first)) continue;
    outcome.folders_removed.push_back(it->second.system);
    removals.directories.push_back(it->second.system);
  }

  // Game packs present on both sides.
  std::vector<std::pair<std::string, std::unique_ptr<PackBuilder>>> merges;
  for (const auto& [base, old_item] : old_tree.packs) {
    const auto found = new_tree.packs.find(base);
    if (found == new_tree.packs.end()) continue;
    const std::string name = old_item.system.substr(0, old_item.system.size() - 4);
    auto old_pack = map_pack(old_item.native);
    auto new_pack = map_pack(found->second.native);
    tools::ProgressBar bar(("diff " + display_path(old_item.system)).c_str());
    const pak::PackDifference difference =
        pak::diff_packs(old_pack->bytes(), new_pack->bytes(),
                        [&](std::uint64_t done, std::uint64_t total) { bar.progress(done, total); });
    bar.finish();
    for (const pak::DiffProblem& problem : difference.problems) {
      const std::string where = (problem.in_new ? found->second : old_item).native.string() + ": " +
                                (problem.path.empty() ? "\\" : display_path(problem.path));
      if (problem.in_new) fail(where + ": " + problem.text + " (run pak verify)");
      std::cerr << "pak: warning: " << where << ": " << problem.text << "\n";
    }
    if (difference.same()) continue;
    PackSummary summary{name};
    for (const pak::ChangedEntry& entry : difference.changed) ++(entry.added ? summary.added : summary.changed);
    summary.removed = difference.removed.size();
    if (!difference.changed.empty() || !difference.added_directories.empty()) {
      if (base == "dll") fail(old_item.native.string() + ": a game pack named DLL.PAK cannot be merged by a package");
      if (platform::find_separator(name, 0, true) != name.size() || pak::unsafe_path_reason(name) != nullptr)
        fail(old_item.native.string() + ": the pack name cannot be used in UPDATA.INI");
      auto merge = std::make_unique<PackBuilder>();
      for (const std::string& directory : difference.added_directories) merge->add_directories(directory);
      for (const pak::ChangedEntry& entry : difference.changed)
        merge->add(entry.path, std::vector<std::uint8_t>(entry.bytes.begin(), entry.bytes.end()), false);
      summary.merged = true;
      merges.emplace_back(name, std::move(merge));
    }
    if (!difference.removed.empty()) removals.packs.push_back({name, difference.removed});
    outcome.packs.push_back(summary);
  }

  for (std::size_t n = 0; n < merges.size(); ++n) {
    const std::string line = "name=" + merges[n].first;
    check_ini_value("pack name", "name", merges[n].first);
    ini += "[pack" + std::to_string(n) + "]\r\n" + line + "\r\n";
  }
  std::string problem;
  if (!pak::write_removals(removals, ini, problem))
    fail("a removal cannot be written into UPDATA.INI: " + display_path(problem));
  // The configuration must read back as written.
  IniStore check;
  check.parse(ini.data(), std::int32_t(ini.size()));
  pak::RemovalPlan reread;
  if (!pak::read_removals(check, reread, problem))
    fail("a removal record is refused by the installer: " + display_path(problem));

  // Write the package.
  std::string system_out;
  if (!tools::to_system(out.string(), system_out))
    fail(out.string() + ": the path has characters outside code page 950");
  auto write_text = [&](const char* name, const std::string& text) {
    std::ofstream file(out / name, std::ios::binary);
    file.write(text.data(), std::streamsize(text.size()));
    if (!file.flush()) fail((out / name).string() + ": cannot write");
  };
  write_text("UPDATA.INI", ini);
  if (!options.notes.empty()) write_text("NOTE.TXT", notes);
  {
    tools::ProgressBar bar("payload");
    payload.write(system_out + "\\DLL", &bar);
  }
  for (auto& [name, merge] : merges) {
    tools::ProgressBar bar(("pack " + display_path(name)).c_str());
    merge->write(system_out + "\\" + name, &bar);
  }
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(out, error))
    outcome.package_files.emplace_back(entry.path().filename().string(), entry.file_size(error));
  std::sort(outcome.package_files.begin(), outcome.package_files.end());
  return outcome;
}

// The first paths of a list, one a line; --json gives them all.
void print_list(const char* label, const std::vector<std::string>& paths) {
  constexpr std::size_t SHOWN = 20;
  for (std::size_t i = 0; i < paths.size() && i < SHOWN; ++i)
    std::cerr << "  " << label << " " << display_path(paths[i]) << "\n";
  if (paths.size() > SHOWN) std::cerr << "  " << label << " ... and " << paths.size() - SHOWN << " more\n";
}

void print_summary(const Outcome& outcome) {
  std::uintmax_t bytes = 0;
  for (const auto& file : outcome.package_files) bytes += file.second;
  const bool same = outcome.added.empty() && outcome.changed.empty() && outcome.removed.empty() &&
                    outcome.folders_removed.empty() && outcome.packs.empty();
  if (same) std::cerr << "pak diff: no differences: the package changes nothing\n";
  std::cerr << "pak diff: loose files: " << outcome.added.size() << " added, " << outcome.changed.size() << " changed, "
            << outcome.removed.size() << " removed; folders removed: " << outcome.folders_removed.size() << "\n";
  print_list("+", outcome.added);
  print_list("*", outcome.changed);
  print_list("-", outcome.removed);
  for (const PackSummary& pack : outcome.packs)
    std::cerr << "pak diff: " << display_path(pack.name) << ".pak: " << pack.added << " entries added, " << pack.changed
              << " changed, " << pack.removed << " removed\n";
  std::cerr << "pak diff: package: " << outcome.package_files.size() << " files, " << bytes << " bytes\n";
}

void print_json(const Outcome& outcome) {
  auto list = [](const std::vector<std::string>& paths) {
    std::string text = "[";
    for (std::size_t i = 0; i < paths.size(); ++i) text += (i ? "," : "") + json_string(display_path(paths[i]));
    return text + "]";
  };
  std::uintmax_t bytes = 0;
  std::string files = "[";
  for (std::size_t i = 0; i < outcome.package_files.size(); ++i) {
    bytes += outcome.package_files[i].second;
    files += std::string(i ? "," : "") + "{\"name\":" + json_string(outcome.package_files[i].first) +
             ",\"bytes\":" + std::to_string(outcome.package_files[i].second) + "}";
  }
  std::string packs = "[";
  for (std::size_t i = 0; i < outcome.packs.size(); ++i) {
    const PackSummary& pack = outcome.packs[i];
    packs += std::string(i ? "," : "") + "{\"name\":" + json_string(display_path(pack.name)) +
             ",\"added\":" + std::to_string(pack.added) + ",\"changed\":" + std::to_string(pack.changed) +
             ",\"removed\":" + std::to_string(pack.removed) + ",\"merge_pack\":" + (pack.merged ? "true" : "false") +
             "}";
  }
  const bool same = outcome.added.empty() && outcome.changed.empty() && outcome.removed.empty() &&
                    outcome.folders_removed.empty() && outcome.packs.empty();
  std::cout << "{\"same\":" << (same ? "true" : "false") << ",\"files\":{\"added\":" << list(outcome.added)
            << ",\"changed\":" << list(outcome.changed) << ",\"removed\":" << list(outcome.removed)
            << "},\"folders_removed\":" << list(outcome.folders_removed) << ",\"packs\":" << packs
            << "],\"package\":{\"files\":" << files << "],\"bytes\":" << bytes << "}}\n";
}

// True when path is folder or lies below it (both made absolute, links resolved where
// they exist).
bool lies_within(const fs::path& path, const fs::path& folder) {
  std::error_code error;
  const fs::path inner = fs::weakly_canonical(path, error);
  if (error) return false;
  const fs::path outer = fs::weakly_canonical(folder, error);
  if (error) return false;
  auto outer_level = outer.begin();
  for (auto inner_level = inner.begin(); outer_level != outer.end(); ++outer_level, ++inner_level) {
    if (outer_level->empty()) continue;  // the trailing empty level of "dir/"
    if (inner_level == inner.end() || *inner_level != *outer_level) return false;
  }
  return true;
}

int run_diff(const Options& options) {
  const fs::path out = tools::utf8_path(options.package_dir);
  std::error_code error;
  // The package would be scanned as part of the install it is made from.
  if (lies_within(out, tools::utf8_path(options.old_dir)) || lies_within(out, tools::utf8_path(options.new_dir))) {
    std::cerr << "pak: " << out.string() << ": the package folder lies inside OLD_DIR or NEW_DIR\n";
    return 1;
  }
  bool created = false;
  if (fs::exists(fs::symlink_status(out, error))) {
    if (!fs::is_directory(fs::symlink_status(out, error))) {
      std::cerr << "pak: " << out.string() << ": exists and is not a folder\n";
      return 1;
    }
    if (!fs::is_empty(out, error)) {
      std::cerr << "pak: " << out.string() << ": the package folder exists and is not empty\n";
      return 1;
    }
  } else {
    if (!fs::create_directories(out, error)) {
      std::cerr << "pak: " << out.string() << ": cannot create the folder: " << error.message() << "\n";
      return 1;
    }
    created = true;
  }
  try {
    const Outcome outcome = make_package(options, out);
    print_summary(outcome);
    if (options.json) print_json(outcome);
    return 0;
  } catch (const DiffError& failure) {
    std::cerr << "pak: " << failure.text << "\n";
  }
  // Leave no half-made package behind.
  if (created)
    fs::remove_all(out, error);
  else
    for (const auto& entry : fs::directory_iterator(out, error)) fs::remove_all(entry.path(), error);
  return 1;
}

void add_diff_command(CLI::App& app, int& exit_code) {
  static Options options;
  auto* diff = app.add_subcommand("diff", "Make the update package that turns the install OLD_DIR into NEW_DIR");
  diff->add_option("OLD_DIR", options.old_dir, "the game as installed now")->required();
  diff->add_option("NEW_DIR", options.new_dir, "the game as it is to become")->required();
  diff->add_option("PACKAGE_DIR", options.package_dir, "folder to create for the package (new or empty)")->required();
  diff->add_option("--win-ini", options.win_ini, "[inst] win_ini: the game's INI file in the Windows folder");
  diff->add_option("--dir", options.dir, "[inst] dir: the default install folder");
  diff->add_option("--notes", options.notes, "release notes (UTF-8 text) for NOTE.TXT");
  diff->add_option("--notes-encoding", options.notes_encoding, "encoding of the notes file")
      ->check(CLI::IsMember({"utf8", "cp950"}));
  diff->add_flag("--json", options.json, "print what the package does as JSON on stdout");
  diff->callback([&exit_code, diff] {
    options.has_win_ini = diff->count("--win-ini") > 0;
    options.has_dir = diff->count("--dir") > 0;
    exit_code = run_diff(options);
  });
}

CommandRegistration registration{35, add_diff_command};

}  // namespace
