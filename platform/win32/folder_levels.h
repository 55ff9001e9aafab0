#pragma once
// Levels below a Win32 write folder, each checked for a reparse point before it is
// used: shared by the write folder and its batches. Paths stay within MAX_PATH,
// since the ANSI calls take no longer ones.

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/win32/wide_path.h"
#include "platform/write_folder.h"

namespace platform::win32 {

// full with one more level appended; a final 0x5C that is the trail byte of a
// double-byte character is no separator.
inline void append_level(std::string& full, std::string_view level) {
  if (!full.empty() && find_last_separator(full, true) != full.size() - 1) full += '\\';
  full += level;
}

// ok for attributes of a directory that is no reparse point.
inline WriteStatus directory_status(DWORD attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES) return WriteStatus::cannot_open;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return WriteStatus::link_in_way;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? WriteStatus::ok : WriteStatus::not_a_folder;
}

// The full path of relative below folder, each directory level on the way checked
// (and made when create is set). full gets the path of the last level.
inline WriteStatus resolve(const std::string& folder, std::string_view relative, bool create, std::string& full,
                           bool* missing = nullptr) {
  std::vector<std::string> levels;
  if (!split_relative_levels(relative, levels)) return WriteStatus::bad_path;
  full = folder;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    append_level(full, levels[i]);
    if (full.size() >= MAX_PATH) return WriteStatus::bad_path;
    if (i + 1 == levels.size()) break;
    DWORD attributes = win32::get_file_attributes(full);
    if (attributes == INVALID_FILE_ATTRIBUTES && create) {
      win32::create_directory(full);
      attributes = win32::get_file_attributes(full);
    }
    if (attributes == INVALID_FILE_ATTRIBUTES && missing != nullptr) *missing = true;
    if (const WriteStatus status = directory_status(attributes); status != WriteStatus::ok) return status;
  }
  return WriteStatus::ok;
}

// What stands at full: nothing, a file, or something in the way.
inline WriteStatus check_target(const std::string& full) {
  const DWORD attributes = win32::get_file_attributes(full);
  if (attributes == INVALID_FILE_ATTRIBUTES) return WriteStatus::ok;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return WriteStatus::link_in_way;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return WriteStatus::not_a_file;
  return WriteStatus::ok;
}

inline std::string directory_part(const std::string& full) {
  const std::size_t last = find_last_separator(full, true);
  return last == std::string::npos ? std::string(".") : full.substr(0, last);
}

}  // namespace platform::win32
