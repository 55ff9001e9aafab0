#pragma once
// Entry paths typed on the command line.

#include <optional>
#include <string>

#include "platform/codepage.h"
#include "platform/text.h"

// An entry path typed by a person (UTF-8, as every argument of the tool) as the system
// path the pack holds: '/' separates levels as '\' does. Nothing when it has a
// character that code page 950 lacks.
inline std::optional<std::string> entry_path_argument(const std::string& typed) {
  auto converted = platform::utf8_to_cp950(typed);
  if (!converted) return std::nullopt;
  std::string path = std::move(*converted);
  for (std::size_t i = platform::find_separator(path, 0, true); i < path.size();
       i = platform::find_separator(path, i + 1, true))
    path[i] = '\\';
  return path;
}
