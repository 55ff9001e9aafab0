// Text conversion through UTF-16 with the system's code page tables; a character
// without an exact form in the target is refused, never replaced by a look-alike.

#include "platform/text.h"

#include <windows.h>

#include "platform/win32/wide_path.h"

namespace platform {
namespace {

std::optional<std::string> convert(std::string_view text, UINT to, UINT from, bool replace_invalid) {
  const auto wide = win32::to_wide(text, from, replace_invalid);
  if (!wide) return std::nullopt;
  return win32::from_wide(*wide, to);
}

}  // namespace

std::optional<std::string> cp950_to_utf8(std::string_view text, bool replace_invalid) {
  return convert(text, CP_UTF8, 950, replace_invalid);
}

std::optional<std::string> utf8_to_cp950(std::string_view text) { return convert(text, 950, CP_UTF8, false); }

std::optional<std::string> file_name_to_cp950(const std::filesystem::path& name) {
  // The narrow names of std::filesystem are UTF-8 here, not the ANSI code page: go
  // through the UTF-16 name.
  return win32::from_wide(name.wstring(), 950);
}

}  // namespace platform
