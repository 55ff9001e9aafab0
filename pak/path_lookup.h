#pragma once
// Finding a record by its full path inside a pack held in memory.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "pak/directory_view.h"

namespace pak {

// A record found by path: record index of directory.
struct FoundRecord {
  DirectoryView directory;
  std::uint32_t index;
  NameKind kind;  // file or directory
};

// Looks up an already folded path (components separated by backslashes that are not
// double-byte trail bytes) in the pack view[0..view_size). One binary search per
// level; nothing is allocated. Found only when every block on the way is sound and,
// for a file, its stretch lies inside the pack, or, for a path that ends in a
// backslash, the subdirectory is empty or its block is sound. Nothing for an empty
// path or one longer than PAK_MAX_PATH_LENGTH.
std::optional<FoundRecord> lookup_path(const std::uint8_t* view, std::size_t view_size, std::string_view path);

}  // namespace pak
