// pak compare OLD NEW [--json]: whether two install folders hold the same game as the
// installer and the game see it. Loose files are compared byte for byte; game packs (a
// *.pak in the folder itself) by their decoded entries and their soundness (pak
// verify's checks), whatever level or kind their streams were stored with; files and
// folders on one side only are named (a copy patched by an installer that left
// temporary files shows them). Names are matched as the pack code folds them.
// Exit code 0: equal; 1: they differ; 2: they could not be compared.

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "pak/archive.h"
#include "pak/pack_checks.h"
#include "patch/pack_diff.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tools/command_registry.h"
#include "tools/display_path.h"
#include "tools/utf8_paths.h"

namespace {

namespace fs = std::filesystem;

constexpr int EXIT_EQUAL = 0;
constexpr int EXIT_DIFFERENT = 1;
constexpr int EXIT_NOT_COMPARED = 2;

struct CompareError {
  std::string text;
};

[[noreturn]] void fail(const std::string& text) { throw CompareError{text}; }

// One difference. what is the kind ("differs", "only in OLD", ...), path the loose
// path, or the pack's name with entry the entry's path; detail says more.
struct Difference {
  std::string what;
  std::string path;
  std::string entry;
  std::string detail;
};

enum class ItemKind { file, folder, pack, other };

struct Item {
  ItemKind kind;
  std::string system;  // relative path as system bytes, backslashes between levels, case kept
  fs::path native;
};

// A folder's items keyed by folded system path, and the names that cannot be items:
// characters outside code page 950, or two names that fold to one.
struct Listing {
  std::map<std::string, Item> items;
  std::vector<std::string> unusable;  // "PATH: why", native UTF-8
};

bool is_pack_name(const std::string& system) {
  if (system.size() <= 4 || platform::find_separator(system, 0) != system.size()) return false;
  std::string suffix = system.substr(system.size() - 4);
  fold_name(suffix);
  return suffix == ".pak";
}

Listing scan(const std::string& root_argument) {
  const fs::path root = tools::utf8_path(root_argument);
  std::error_code error;
  if (!fs::is_directory(root, error)) fail(root_argument + ": no such folder");
  Listing listing;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const fs::file_status status = it->symlink_status(error);
    const fs::path relative = it->path().lexically_relative(root);
    std::string system;
    bool usable = true;
    for (const fs::path& part : relative) {
      const auto level = platform::file_name_to_cp950(part);
      if (!level) {
        usable = false;
        break;
      }
      system += (system.empty() ? "" : "\\") + *level;
    }
    const std::string shown = reinterpret_cast<const char*>(relative.generic_u8string().c_str());
    if (!usable) {
      listing.unusable.push_back(shown + ": the name has characters outside code page 950");
      if (fs::is_directory(status)) it.disable_recursion_pending();
      continue;
    }
    ItemKind kind = ItemKind::other;
    if (fs::is_directory(status))
      kind = ItemKind::folder;
    else if (fs::is_regular_file(status))
      kind = is_pack_name(system) ? ItemKind::pack : ItemKind::file;
    std::string folded = system;
    fold_name(folded);
    if (!listing.items.emplace(folded, Item{kind, system, it->path()}).second)
      listing.unusable.push_back(shown + ": another name differs from it in letter case only");
  }
  if (error) fail(root_argument + ": cannot read the folder: " + error.message());
  return listing;
}

bool same_file_bytes(const fs::path& a, const fs::path& b) {
  std::error_code error;
  const auto size_a = fs::file_size(a, error);
  if (error) fail(a.string() + ": cannot read");
  const auto size_b = fs::file_size(b, error);
  if (error) fail(b.string() + ": cannot read");
  if (size_a != size_b) return false;
  std::ifstream in_a(a, std::ios::binary), in_b(b, std::ios::binary);
  if (!in_a) fail(a.string() + ": cannot read");
  if (!in_b) fail(b.string() + ": cannot read");
  std::vector<char> buffer_a(1 << 16), buffer_b(1 << 16);
  while (in_a && in_b) {
    in_a.read(buffer_a.data(), std::streamsize(buffer_a.size()));
    in_b.read(buffer_b.data(), std::streamsize(buffer_b.size()));
    if (in_a.gcount() != in_b.gcount() ||
        std::memcmp(buffer_a.data(), buffer_b.data(), std::size_t(in_a.gcount())) != 0)
      return false;
  }
  if (in_a.bad() || in_b.bad()) fail(a.string() + ": cannot read");
  return true;
}

void map_pack(const fs::path& native, platform::MappedFile& file) {
  std::string system;
  if (!tools::to_system(reinterpret_cast<const char*>(native.u8string().c_str()), system) ||
      file.open(system) != platform::MappedFile::Status::ok)
    fail(native.string() + ": cannot read the pack");
}

// The packs' damage on each side, then their entries: changed, and on one side only
// (a folder only on one side is named alone, not everything below it).
void compare_packs(const Item& old_item, const Item& new_item, std::vector<Difference>& out) {
  platform::MappedFile old_file, new_file;
  map_pack(old_item.native, old_file);
  map_pack(new_item.native, new_file);
  const std::string name = display_path(old_item.system);
  constexpr std::uint64_t SHOWN_PROBLEMS = 10;
  auto check = [&](const platform::MappedFile& file, const char* side) {
    std::uint64_t count = 0;
    const auto summary = pak::check_pack(file.data(), file.size(), [&](const pak::WalkProblem& problem) {
      if (++count > SHOWN_PROBLEMS) return;
      const std::string where = problem.path.empty() ? "\\" : display_path(problem.path);
      out.push_back({std::string("pack damaged in ") + side, name, where,
                     "offset " + std::to_string(problem.offset) + ": " + problem.text});
    });
    if (summary.problems > SHOWN_PROBLEMS)
      out.push_back({std::string("pack damaged in ") + side, name, "",
                     "and " + std::to_string(summary.problems - SHOWN_PROBLEMS) + " more problems"});
  };
  check(old_file, "OLD");
  check(new_file, "NEW");
  const patch::PackDifference difference =
      patch::diff_packs({old_file.data(), old_file.size()}, {new_file.data(), new_file.size()});
  for (const std::string& path : difference.removed) out.push_back({"entry only in OLD", name, display_path(path), ""});
  for (const std::string& path : difference.added_directories) {
    // Only the topmost of the directories NEW alone has.
    bool below_another = false;
    for (const std::string& other : difference.added_directories)
      below_another |= other.size() < path.size() && path.starts_with(other);
    if (!below_another) out.push_back({"entry only in NEW", name, display_path(path), ""});
  }
  for (const patch::ChangedEntry& entry : difference.changed) {
    const std::string directory = entry.path.substr(0, platform::find_last_separator(entry.path) + 1);
    bool in_new_directory = false;
    for (const std::string& added : difference.added_directories) in_new_directory |= directory.starts_with(added);
    if (entry.added && in_new_directory) continue;
    out.push_back({entry.added ? "entry only in NEW" : "entry differs", name, display_path(entry.path), ""});
  }
}

const char* kind_name(ItemKind kind) {
  switch (kind) {
    case ItemKind::file:
    case ItemKind::pack:
      return "a file";
    case ItemKind::folder:
      return "a folder";
    case ItemKind::other:
      break;
  }
  return "neither a file nor a folder";
}

std::vector<Difference> compare_folders(const std::string& old_root, const std::string& new_root) {
  const Listing old_listing = scan(old_root), new_listing = scan(new_root);
  std::vector<Difference> out;
  for (const std::string& name : old_listing.unusable) out.push_back({"unusable name in OLD", name, "", ""});
  for (const std::string& name : new_listing.unusable) out.push_back({"unusable name in NEW", name, "", ""});

  // Folders on one side only: named alone, everything below them left out.
  std::set<std::string> one_sided_folders;
  auto below_one_sided = [&](const std::string& key) {
    for (std::size_t i = platform::find_separator(key, 0); i < key.size(); i = platform::find_separator(key, i + 1))
      if (one_sided_folders.contains(key.substr(0, i))) return true;
    return false;
  };
  std::set<std::string> keys;
  for (const auto& [key, item] : old_listing.items) keys.insert(key);
  for (const auto& [key, item] : new_listing.items) keys.insert(key);
  std::vector<std::pair<const Item*, const Item*>> packs;
  for (const std::string& key : keys) {
    if (below_one_sided(key)) continue;
    const auto old_it = old_listing.items.find(key), new_it = new_listing.items.find(key);
    const Item* old_item = old_it == old_listing.items.end() ? nullptr : &old_it->second;
    const Item* new_item = new_it == new_listing.items.end() ? nullptr : &new_it->second;
    const Item& either = old_item ? *old_item : *new_item;
    const std::string shown = display_path(either.system) + (either.kind == ItemKind::folder ? "\\" : "");
    if (!old_item || !new_item) {
      if (either.kind == ItemKind::folder) one_sided_folders.insert(key);
      out.push_back({old_item ? "only in OLD" : "only in NEW", shown, "", ""});
    } else if (old_item->kind == ItemKind::other || new_item->kind == ItemKind::other ||
               (old_item->kind == ItemKind::folder) != (new_item->kind == ItemKind::folder)) {
      out.push_back({"kinds differ", display_path(either.system), "",
                     std::string(kind_name(old_item->kind)) + " in OLD, " + kind_name(new_item->kind) + " in NEW"});
    } else if (old_item->kind == ItemKind::pack) {
      packs.emplace_back(old_item, new_item);
    } else if (old_item->kind == ItemKind::file && !same_file_bytes(old_item->native, new_item->native)) {
      out.push_back({"differs", shown, "", ""});
    }
  }
  for (const auto& [old_item, new_item] : packs) compare_packs(*old_item, *new_item, out);
  return out;
}

void print_text(const std::vector<Difference>& differences) {
  for (const Difference& d : differences) {
    if (d.entry.empty() && d.what.starts_with("pack"))
      std::cout << d.path << ": " << d.what << ": " << d.detail << "\n";
    else if (d.entry.empty())
      std::cout << d.what << ": " << d.path << (d.detail.empty() ? "" : " (" + d.detail + ")") << "\n";
    else
      std::cout << d.path << ": " << d.what << ": " << d.entry << (d.detail.empty() ? "" : " (" + d.detail + ")")
                << "\n";
  }
}

void print_json(const std::vector<Difference>& differences) {
  std::cout << "{\"equal\": " << (differences.empty() ? "true" : "false") << ", \"differences\": [";
  for (std::size_t i = 0; i < differences.size(); ++i) {
    const Difference& d = differences[i];
    std::cout << (i ? ",\n  " : "\n  ") << "{\"what\": " << json_string(d.what)
              << ", \"path\": " << json_string(d.path);
    if (!d.entry.empty()) std::cout << ", \"entry\": " << json_string(d.entry);
    if (!d.detail.empty()) std::cout << ", \"detail\": " << json_string(d.detail);
    std::cout << "}";
  }
  std::cout << (differences.empty() ? "]}\n" : "\n]}\n");
}

int run_compare(const std::string& old_root, const std::string& new_root, bool json) {
  try {
    const std::vector<Difference> differences = compare_folders(old_root, new_root);
    if (json)
      print_json(differences);
    else
      print_text(differences);
    return differences.empty() ? EXIT_EQUAL : EXIT_DIFFERENT;
  } catch (const CompareError& failure) {
    std::cerr << "pak: " << failure.text << "\n";
  }
  return EXIT_NOT_COMPARED;
}

void add_compare_command(CLI::App& app, int& exit_code) {
  static std::string old_root, new_root;
  static bool json = false;
  auto* compare = app.add_subcommand(
      "compare",
      "Compare two install folders as the installer sees them: loose files byte for byte, game packs by their "
      "decoded entries and soundness, files on one side only. Exit code 0 equal, 1 different, 2 not compared");
  compare->add_option("OLD", old_root, "an install folder, e.g. a copy patched by the installer")->required();
  compare->add_option("NEW", new_root, "the install folder it should equal")->required();
  compare->add_flag("--json", json, "print {equal, differences: [{what, path, entry, detail}]} as JSON");
  compare->callback([&exit_code] { exit_code = run_compare(old_root, new_root, json); });
}

CommandRegistration registration{37, add_compare_command};

}  // namespace
