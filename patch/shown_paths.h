#pragma once
// Paths in the messages and summaries of package making, as UTF-8 text.

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace patch {

// A native path.
inline std::string shown_path(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// A path or text of system bytes (code page 950); bytes that are not pass as they are.
inline std::string shown_system(std::string_view text) {
  if (auto utf8 = platform::cp950_to_utf8(text)) return *utf8;
  return std::string(text);
}

}  // namespace patch
