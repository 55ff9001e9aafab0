#pragma once
// Names below a write folder matched as Windows matches them, for a file system that
// tells case apart: a name a package gives stands for the entry of its directory that
// equals it with the ASCII letters A-Z folded, and that entry is the one read,
// replaced or removed, under its own name. A name nothing matches is made as given.
// (Windows folds case itself: its backend looks nothing up.)
//
// Names are compared in their native form, the form they are opened by (UTF-8 on
// POSIX). Every byte of a non-ASCII UTF-8 character is 0x80 or more, so folding A-Z
// there folds exactly the letters the pack code folds and never a byte inside a
// double-byte character, whatever its trail byte; a name on disk that is no UTF-8 is
// compared by its bytes the same way.
//
// Where more than one name on disk matches (a.txt and A.txt), the one spelt exactly
// as given wins, else the least in byte order: the same whatever order the directory
// lists them in.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {

// name with the ASCII letters A-Z lowered, every other byte as it is.
std::string fold_ascii_case(std::string_view name);

// Among names (one directory's), the one that name stands for: name itself when
// listed, else the least in byte order of those equal to it folded; nothing when none.
std::optional<std::string> pick_existing_name(const std::vector<std::string>& names, std::string_view name);

// Existing names by directory, each directory listed once: for a batch, which writes
// many names into few directories. POSIX only (posix/name_lookup.h).
class NameLookup {
 public:
  // The name under which name exists in the open directory (a descriptor): name
  // itself when something of that name is there, else the match of the directory's
  // listing, read once for the lifetime of the lookup; name when nothing matches.
  std::string existing_name(std::intptr_t directory, const std::string& name);
  // name now stands in directory (made by the holder): later lookups agree with it.
  void made(std::intptr_t directory, const std::string& name);
  void clear() { listings_.clear(); }

 private:
  using Key = std::pair<std::uint64_t, std::uint64_t>;           // device and inode
  using Listing = std::unordered_map<std::string, std::string>;  // folded name -> name on disk
  Listing* listing(std::intptr_t directory);

  std::map<Key, Listing> listings_;
};

}  // namespace platform
