#include "patch/install_tree.h"

#include <set>
#include <system_error>

#include "pak/archive.h"
#include "pak/entry_path.h"
#include "pak/pak_format.h"
#include "patch/shown_paths.h"
#include "platform/codepage.h"
#include "platform/text.h"

namespace patch {
namespace {

namespace fs = std::filesystem;

bool is_pack_file_name(const std::string& name) {
  if (name.size() <= 4) return false;
  std::string suffix = name.substr(name.size() - 4);
  fold_name(suffix);
  return suffix == ".pak";
}

}  // namespace

bool scan_install_tree(const fs::path& root, InstallTree& tree, std::string& error) {
  auto refuse = [&](const fs::path& path, const std::string& why) {
    error = shown_path(path) + ": " + why;
    return false;
  };
  std::error_code failure;
  if (!fs::is_directory(root, failure)) return refuse(root, "no such folder");
  std::set<std::string> taken;
  for (auto it = fs::recursive_directory_iterator(root, failure); !failure && it != fs::recursive_directory_iterator();
       it.increment(failure)) {
    const fs::file_status status = it->symlink_status(failure);
    std::string system;
    // Lexically: resolving links would name a link by its target's path.
    for (const fs::path& part : it->path().lexically_relative(root)) {
      // From the name's native form: on Windows its UTF-16 name.
      const auto level = platform::file_name_to_cp950(part);
      if (!level) return refuse(it->path(), "the name has characters outside code page 950");
      // An ordinary character of a POSIX name, but a folder separator to packs and the
      // installer (a 0x5C trail byte of a Big5 character is none).
      if (platform::find_separator(*level, 0) != level->size())
        return refuse(it->path(), "the name holds a backslash, a folder separator on Windows");
      system += (system.empty() ? "" : "\\") + *level;
    }
    std::string folded = system;
    fold_name(folded);
    if (!taken.insert(folded).second) return refuse(it->path(), "another file has the same name in other letter case");
    if (const char* reason = pak::unsafe_path_reason(system)) return refuse(it->path(), reason);
    if (system.size() > PAK_MAX_PATH_LENGTH) return refuse(it->path(), "the path is longer than 259 bytes");
    TreeItem item{system, it->path()};
    if (fs::is_directory(status)) {
      tree.folders.emplace(folded, item);
    } else if (fs::is_regular_file(status)) {
      item.size = it->file_size(failure);
      if (failure) return refuse(it->path(), "cannot read the file: " + failure.message());
      const bool top_level = platform::find_separator(system, 0) == system.size();
      if (top_level && is_pack_file_name(system))
        tree.packs.emplace(folded.substr(0, folded.size() - 4), item);
      else
        tree.files.emplace(folded, item);
    } else {
      return refuse(it->path(), "neither a regular file nor a folder (links are not followed)");
    }
  }
  if (failure) return refuse(root, "cannot read the folder: " + failure.message());
  return true;
}

}  // namespace patch
