#include "patch/update_package.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <system_error>

#include "ini/ini_store.h"
#include "pak/entry_path.h"
#include "pak/removal_records.h"
#include "patch/install_tree.h"
#include "patch/pack_diff.h"
#include "patch/shown_paths.h"
#include "patch/staged_pack.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/write_batch.h"
#include "platform/write_folder.h"

namespace patch {
namespace {

namespace fs = std::filesystem;

// False when the two files differ or one cannot be read (error then says which).
bool same_file_bytes(const fs::path& a, const fs::path& b, bool& same, std::string& error) {
  same = false;
  std::error_code failure;
  if (fs::file_size(a, failure) != fs::file_size(b, failure) || failure) return true;
  std::ifstream in_a(a, std::ios::binary), in_b(b, std::ios::binary);
  if (!in_a || !in_b) {
    error = shown_path(a) + ": cannot read";
    return false;
  }
  std::vector<char> buffer_a(1 << 16), buffer_b(1 << 16);
  while (in_a && in_b) {
    in_a.read(buffer_a.data(), std::streamsize(buffer_a.size()));
    in_b.read(buffer_b.data(), std::streamsize(buffer_b.size()));
    if (in_a.gcount() != in_b.gcount() ||
        std::memcmp(buffer_a.data(), buffer_b.data(), std::size_t(in_a.gcount())) != 0)
      return true;
  }
  same = true;
  return true;
}

// A whole file mapped read-only (a pack to compare).
bool map_pack(const fs::path& native, platform::MappedFile& file, std::string& error) {
  const auto system = platform::file_name_to_cp950(native);
  if (!system) {
    error = shown_path(native) + ": the path has characters outside code page 950";
    return false;
  }
  if (file.open(*system) != platform::MappedFile::Status::ok) {
    error = shown_path(native) + ": cannot map the pack";
    return false;
  }
  return true;
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

// Why a file of the package could not be written, for people.
std::string write_failure(platform::WriteStatus status) {
  switch (status) {
    case platform::WriteStatus::cannot_open:
      return "cannot create the file (no access?)";
    case platform::WriteStatus::link_in_way:
      return "a symbolic link is in the way: not written";
    case platform::WriteStatus::bad_path:
      return "the path is not usable";
    default:
      return "cannot write the file (disk full?)";
  }
}

ProgressListener* begin_step(PackageProgress* progress, const std::string& label) {
  return progress != nullptr ? progress->step(label) : nullptr;
}

// Compares the installs and writes the package into the folder out, which exists.
bool write_package(const PackageRequest& request, const fs::path& out, PackageProgress* progress,
                   PackageSummary& summary, std::string& error) {
  auto refuse = [&](std::string text) {
    error = std::move(text);
    return false;
  };
  InstallTree old_tree, new_tree;
  if (!scan_install_tree(request.old_dir, old_tree, error)) return false;
  if (!scan_install_tree(request.new_dir, new_tree, error)) return false;

  std::string ini = "[inst]\r\n";
  for (const auto& [key, value] : {std::pair{"win_ini", &request.win_ini}, std::pair{"dir", &request.dir}}) {
    if (!value->has_value()) continue;
    if (const char* why = pak::ini_value_problem(key, **value))
      return refuse(std::string("[inst] ") + key + " " + shown_system(**value) + ": " + why);
    ini += std::string(key) + "=" + **value + "\r\n";
  }

  // Loose files, with packs that only one side has counted among them.
  std::map<std::string, TreeItem> old_files = old_tree.files, new_files = new_tree.files;
  for (const auto& [base, item] : old_tree.packs)
    if (!new_tree.packs.contains(base)) old_files.emplace(base + ".pak", item);
  for (const auto& [base, item] : new_tree.packs)
    if (!old_tree.packs.contains(base)) new_files.emplace(base + ".pak", item);

  pak::RemovalPlan removals;
  StagedPack payload;
  for (const auto& [key, item] : new_files) {
    if (old_tree.folders.contains(key))
      return refuse(shown_path(item.native) +
                    ": a folder in OLD_DIR is a file in NEW_DIR; not supported, remove it by hand");
    const auto old = old_files.find(key);
    bool same = false;
    if (old != old_files.end() && !same_file_bytes(old->second.native, item.native, same, error)) return false;
    if (same) continue;
    (old == old_files.end() ? summary.added : summary.changed).push_back(item.system);
    const auto system_path = platform::file_name_to_cp950(item.native);
    if (!system_path) return refuse(shown_path(item.native) + ": the path has characters outside code page 950");
    if (const char* reason = pak::unstorable_path_reason(key)) return refuse(shown_path(item.native) + ": " + reason);
    if (item.size > 0x7FFFFFFFu) return refuse(shown_path(item.native) + ": larger than a pack entry can be");
    payload.add_file(key, *system_path, std::uint32_t(item.size));
  }
  for (const auto& [key, item] : old_files) {
    if (new_files.contains(key)) continue;
    if (new_tree.folders.contains(key))
      return refuse(shown_path(item.native) +
                    ": a file in OLD_DIR is a folder in NEW_DIR; not supported, remove it by hand");
    summary.removed.push_back(item.system);
    removals.files.push_back(item.system);
  }
  // Folders NEW lacks, deepest first, so that each is empty when its turn comes.
  for (auto it = old_tree.folders.rbegin(); it != old_tree.folders.rend(); ++it) {
    if (new_tree.folders.contains(it->first)) continue;
    summary.folders_removed.push_back(it->second.system);
    removals.directories.push_back(it->second.system);
  }

  // Game packs present on both sides. A merge pack is staged only when it is written,
  // from its new pack, which stays mapped till then.
  struct Merge {
    std::string name;
    std::unique_ptr<platform::MappedFile> new_pack;
    PackDifference difference;
  };
  std::vector<Merge> merges;
  for (const auto& [base, old_item] : old_tree.packs) {
    const auto found = new_tree.packs.find(base);
    if (found == new_tree.packs.end()) continue;
    const std::string name = old_item.system.substr(0, old_item.system.size() - 4);
    platform::MappedFile old_pack;
    auto new_pack = std::make_unique<platform::MappedFile>();
    if (!map_pack(old_item.native, old_pack, error) || !map_pack(found->second.native, *new_pack, error)) return false;
    ProgressListener* listener = begin_step(progress, "diff " + shown_system(old_item.system));
    PackDifference difference = diff_packs({old_pack.data(), old_pack.size()}, {new_pack->data(), new_pack->size()},
                                           [&](std::uint64_t done, std::uint64_t total) {
                                             if (listener != nullptr) listener->progress(done, total);
                                           });
    for (const DiffProblem& problem : difference.problems) {
      const std::string where = shown_path((problem.in_new ? found->second : old_item).native) + ": " +
                                (problem.path.empty() ? "\\" : shown_system(problem.path));
      if (problem.in_new) return refuse(where + ": " + problem.text + " (run pak verify)");
      summary.warnings.push_back(where + ": " + problem.text);
    }
    if (difference.same()) continue;
    PackSummary pack{name};
    for (const ChangedEntry& entry : difference.changed) ++(entry.added ? pack.added : pack.changed);
    pack.removed = difference.removed.size();
    if (!difference.changed.empty() || !difference.added_directories.empty()) {
      if (base == "dll")
        return refuse(shown_path(old_item.native) + ": a game pack named DLL.PAK cannot be merged by a package");
      if (platform::find_separator(name, 0, true) != name.size() || pak::unsafe_path_reason(name) != nullptr)
        return refuse(shown_path(old_item.native) + ": the pack name cannot be used in UPDATA.INI");
      pack.merged = true;
    }
    if (!difference.removed.empty()) removals.packs.push_back({name, difference.removed});
    summary.packs.push_back(pack);
    if (pack.merged) merges.push_back({name, std::move(new_pack), std::move(difference)});
  }

  for (std::size_t n = 0; n < merges.size(); ++n) {
    if (const char* why = pak::ini_value_problem("name", merges[n].name))
      return refuse("pack name " + shown_system(merges[n].name) + ": " + why);
    ini += "[pack" + std::to_string(n) + "]\r\nname=" + merges[n].name + "\r\n";
  }
  std::string problem;
  if (!pak::write_removals(removals, ini, problem))
    return refuse("a removal cannot be written into UPDATA.INI: " + shown_system(problem));
  // The configuration must read back as written.
  IniStore check;
  check.parse(ini.data(), std::int32_t(ini.size()));
  pak::RemovalPlan reread;
  if (!pak::read_removals(check, reread, problem))
    return refuse("a removal record is refused by the installer: " + shown_system(problem));

  // Write the package.
  const auto system_out = platform::file_name_to_cp950(out);
  if (!system_out) return refuse(shown_path(out) + ": the path has characters outside code page 950");
  // The texts go through the confined write folder in one batch, durable once committed.
  platform::WriteFolder folder;
  if (folder.open(*system_out) != platform::WriteFolder::Status::ok)
    return refuse(shown_path(out) + ": cannot open the folder");
  platform::WriteBatch texts(folder);
  std::vector<std::pair<const char*, const std::string*>> files{{"UPDATA.INI", &ini}};
  if (request.notes) files.emplace_back("NOTE.TXT", &*request.notes);
  for (const auto& [name, text] : files) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text->data());
    const platform::WriteStatus status = texts.write_file(name, platform::ByteView(bytes, text->size()), name);
    if (status != platform::WriteStatus::ok) return refuse(shown_path(out / name) + ": " + write_failure(status));
  }
  if (!texts.commit()) {
    const std::vector<platform::WriteBatch::Failure> failures = texts.take_failures();
    const std::string name = failures.empty() ? "UPDATA.INI" : failures.front().label;
    return refuse(shown_path(out / name) + ": " +
                  write_failure(failures.empty() ? platform::WriteStatus::write_failed : failures.front().status));
  }
  if (!payload.write(*system_out + "\\DLL", begin_step(progress, "payload"), error)) return false;
  for (Merge& merge : merges) {
    StagedPack pack;
    for (const std::string& directory : merge.difference.added_directories) pack.add_directories(directory);
    for (const ChangedEntry& entry : merge.difference.changed)
      pack.add(entry.path, std::vector<std::uint8_t>(entry.bytes.begin(), entry.bytes.end()), false);
    if (!pack.write(*system_out + "\\" + merge.name, begin_step(progress, "pack " + shown_system(merge.name)), error))
      return false;
    merge.new_pack.reset();
  }
  std::error_code failure;
  for (const auto& entry : fs::directory_iterator(out, failure))
    summary.package_files.emplace_back(shown_path(entry.path().filename()), entry.file_size(failure));
  std::sort(summary.package_files.begin(), summary.package_files.end());
  return true;
}

}  // namespace

bool make_update_package(const PackageRequest& request, PackageProgress* progress, PackageSummary& summary,
                         std::string& error) {
  const fs::path& out = request.package_dir;
  // The package would be scanned as part of the install it is made from.
  if (lies_within(out, request.old_dir) || lies_within(out, request.new_dir)) {
    error = shown_path(out) + ": the package folder lies inside OLD_DIR or NEW_DIR";
    return false;
  }
  std::error_code failure;
  bool created = false;
  if (fs::exists(fs::symlink_status(out, failure))) {
    if (!fs::is_directory(fs::symlink_status(out, failure))) {
      error = shown_path(out) + ": exists and is not a folder";
      return false;
    }
    if (!fs::is_empty(out, failure)) {
      error = shown_path(out) + ": the package folder exists and is not empty";
      return false;
    }
  } else {
    if (!fs::create_directories(out, failure)) {
      error = shown_path(out) + ": cannot create the folder: " + failure.message();
      return false;
    }
    created = true;
  }
  if (write_package(request, out, progress, summary, error)) return true;
  // Leave no half-made package behind.
  if (created)
    fs::remove_all(out, failure);
  else
    for (const auto& entry : fs::directory_iterator(out, failure)) fs::remove_all(entry.path(), failure);
  return false;
}

}  // namespace patch
