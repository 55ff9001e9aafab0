#pragma once
// The update package that turns one install of the game into another (OLD into NEW):
//
//   UPDATA.INI  [inst] with win_ini and dir as given, one [packN] per game pack that
//               changed, and the removal records (pak/removal_records.h) of what NEW
//               lacks: loose files, folders, game packs and pack entries;
//   NOTE.TXT    the release notes, when given;
//   DLL.pak     every loose file that is new or changed, EnCode-compressed (a game
//               pack only one side has counts as a loose file);
//   NAME.pak    per game pack of both installs that changed, the entries that are new
//               or whose decoded bytes changed, their stored bytes copied as they are.
//
// Nothing is written until both installs are compared and the configuration reads back
// as written; a package that cannot be made whole leaves no package folder behind.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pak/archive.h"

namespace patch {

struct PackageRequest {
  std::filesystem::path old_dir, new_dir;
  std::filesystem::path package_dir;   // created, or an empty folder
  std::optional<std::string> win_ini;  // [inst] win_ini, system bytes
  std::optional<std::string> dir;      // [inst] dir, system bytes
  std::optional<std::string> notes;    // NOTE.TXT as written (code page 950, CR LF)
};

struct PackSummary {
  std::string name;  // base name as in the old install (system bytes)
  std::size_t added = 0, changed = 0, removed = 0;
  bool merged = false;  // a merge pack is in the package
};

// What the package does. Paths are system bytes.
struct PackageSummary {
  std::vector<std::string> added, changed, removed, folders_removed;  // loose files and folders
  std::vector<PackSummary> packs;
  std::vector<std::pair<std::string, std::uintmax_t>> package_files;  // name and size, sorted
  // Damage found in a game pack of the old install (one line each); the package is
  // made all the same, since the installer replaces what it cannot read.
  std::vector<std::string> warnings;
  bool same() const {
    return added.empty() && changed.empty() && removed.empty() && folders_removed.empty() && packs.empty();
  }
};

// Told how far the making has come.
class PackageProgress {
 public:
  virtual ~PackageProgress() = default;
  // A step begins: "diff NAME" (a game pack compared), "payload" or "pack NAME" (a pack
  // of the package written); NAME as UTF-8. The listener returned hears the step's
  // progress until the next step begins or the making ends (null: nobody).
  virtual ProgressListener* step(const std::string& label) = 0;
};

// Makes the package of request. False, with error (one line for people, naming the
// path concerned), when it cannot; no package folder is then left (an empty folder the
// caller gave stays, empty). summary holds what was found until then.
bool make_update_package(const PackageRequest& request, PackageProgress* progress, PackageSummary& summary,
                         std::string& error);

}  // namespace patch
