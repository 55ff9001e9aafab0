#pragma once
// Entry paths inside a pack as the write side splits and checks them. An entry path
// is a folded byte string of code page 950 with backslashes between levels; a
// directory's path ends in a backslash. Every split here steps over double-byte
// characters, so a 0x5C trail byte never counts as a separator.

#include <cstddef>
#include <string>
#include <string_view>

namespace pak {

// True when the last byte of path is a separating backslash (not a trail byte).
bool is_directory_path(std::string_view path);

// Start of the last component of path: the byte after the last separator that comes
// before the final byte (a directory keeps its own backslash in the component); 0
// when there is none. A separator at index 0 does not count.
std::size_t last_component_start(std::string_view path);

// The directory part of path: up to and including its last separator, ignoring a
// separator at index 0; empty for a path at the root. For a directory path this is
// the path itself.
std::string_view directory_part(std::string_view path);

// Why an entry path cannot be written as a file below a base directory, or null when
// it can. Refused: an empty path, a leading separator, an empty component, "." or
// ".." or any component ending in a dot or a space, a ':' (drive letters, streams),
// '/', control bytes and <>"|?*, and the reserved device names CON PRN AUX NUL
// COM1-COM9 LPT1-LPT9 with or without an extension. A directory path (trailing
// backslash) is checked without its last separator.
const char* unsafe_path_reason(std::string_view path);

// Why path cannot be stored in a pack, or null when it can: longer than
// PAK_MAX_PATH_LENGTH, or a component (a directory's with its backslash) longer than
// PAK_MAX_NAME_LENGTH.
const char* unstorable_path_reason(std::string_view path);

}  // namespace pak
