#pragma once
// The removal records of an update configuration (UPDATA.INI): loose files and
// folders to delete from the install folder, and entries to take out of game packs.
// They live in sections and keys that the plain update flow never asks for, so an
// installer that knows only "[inst]" and "[pack%d]" applies the rest of the package
// and leaves these alone:
//
//   [remove]
//   file=old\readme.txt        a loose file, relative to the install folder
//   dir=old                    a folder, deleted when it is empty afterwards
//   [remove_pack0]             numbered from 0 like "[pack%d]", up to the first
//   name=data                    number without a section or "name"; the game pack
//   entry=sub\old.bin            data.pak loses these entries (a directory, ending
//   entry=olddir\                in a backslash, with everything below it)
//
// Keys repeat, one record a line, read in order. Paths are code page 950 bytes with
// backslashes. docs/FORMAT.md describes them for publishers.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ini/ini_store.h"

namespace pak {

inline constexpr char REMOVE_SECTION[] = "[remove]";
inline constexpr char REMOVE_FILE_KEY[] = "file";
inline constexpr char REMOVE_DIRECTORY_KEY[] = "dir";
inline constexpr char REMOVE_PACK_NAME_KEY[] = "name";
inline constexpr char REMOVE_ENTRY_KEY[] = "entry";

// "[remove_pack{n}]".
std::string removal_pack_section(int n);

struct PackRemovals {
  std::string name;                  // base name of the game pack, without ".pak"
  std::vector<std::string> entries;  // folded entry paths; a directory ends in a backslash
};

struct RemovalPlan {
  std::vector<std::string> files;        // relative to the install folder
  std::vector<std::string> directories;  // deleted when empty, in the order given (deepest first)
  std::vector<PackRemovals> packs;
  bool empty() const { return files.empty() && directories.empty() && packs.empty(); }
};

// The packs of a plan by folded name, each with every entry listed for it (several
// sections may name one pack). Built once; every lookup takes constant time, so a
// plan of many packs is applied in time proportional to its size.
class PackRemovalIndex {
 public:
  explicit PackRemovalIndex(const RemovalPlan& plan);
  // The entries listed for the pack pack_name (compared folded), or null. They point
  // into the plan, which must outlive the index.
  const std::vector<const std::string*>* entries_of(std::string_view pack_name) const;
  // The packs in the order they are first named, each once, under its first name.
  const std::vector<std::string>& names() const { return names_; }

 private:
  std::unordered_map<std::string, std::vector<const std::string*>> entries_;
  std::vector<std::string> names_;
};

// Reads the removal records of store. False, with problem naming the record and what
// is wrong with it, when a path could reach outside the install folder (traversal,
// an absolute path, a drive, a device name) or a pack name is no plain file name;
// plan is then incomplete and must not be used. A configuration without removal
// records gives an empty plan.
bool read_removals(const IniStore& store, RemovalPlan& plan, std::string& problem);

// Appends the records of plan to text as INI lines with CR LF ends, sections in the
// order above. False, with problem, when a value cannot be held by a line of the INI
// store (see ini_value_problem).
bool write_removals(const RemovalPlan& plan, std::string& text, std::string& problem);

// Why the line key=value could not be read back by the INI store as that key and value,
// or null when it can: a line longer than 254 bytes, a CR, LF or NUL byte, a "//"
// (which starts a comment) or, in the key, a "=".
const char* ini_value_problem(std::string_view key, std::string_view value);

}  // namespace pak
