#pragma once
// The pak tool takes paths and names as UTF-8 on every platform: its arguments (see
// platform::utf8_arguments) and the narrow names of std::filesystem. These turn them
// into what the file calls and the packs need.

#include <filesystem>
#include <string>

#include "platform/text.h"

namespace tools {

// A path as the tool gets it (UTF-8) for std::filesystem and the streams. Never a
// plain std::string: on Windows that is read byte by byte, not as UTF-8.
inline std::filesystem::path utf8_path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// A path or name as the tool gets it (UTF-8 on every platform: the arguments, see
// platform::utf8_arguments, and the narrow names of std::filesystem) as system bytes
// (code page 950). False when a character has no code page 950 form.
inline bool to_system(const std::string& native, std::string& system) {
  auto converted = platform::utf8_to_cp950(native);
  if (!converted) return false;
  system = std::move(*converted);
  return true;
}

}  // namespace tools
