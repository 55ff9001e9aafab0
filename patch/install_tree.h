#pragma once
// An install folder of the game as a package is made from it: its loose files, its
// folders and its game packs (a *.pak in the folder itself), each keyed by its path
// folded as the pack code folds names.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace patch {

// One file or folder of an install tree.
struct TreeItem {
  std::string system;            // relative path as system bytes, levels separated by backslashes, case kept
  std::filesystem::path native;  // the full native path
  std::uintmax_t size = 0;       // a file's size when it was scanned
};

struct InstallTree {
  std::map<std::string, TreeItem> files;
  std::map<std::string, TreeItem> folders;
  std::map<std::string, TreeItem> packs;  // keyed by folded base name, without ".pak"
};

// Scans every file and folder below root without following links. False, with error
// (one line naming the path), for a folder that cannot be read and for anything a
// package cannot carry: a link, pipe or device, a name outside code page 950 or with a
// backslash (a folder separator to packs and the installer), two names equal but for
// letter case, an unsafe or too long path.
bool scan_install_tree(const std::filesystem::path& root, InstallTree& tree, std::string& error);

}  // namespace patch
