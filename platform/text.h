#pragma once
// Conversion between code page 950 (Big5, the system's text and paths) and UTF-8
// (terminals and file names on POSIX).

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Code page 950 text as UTF-8. Nothing when a byte sequence is not code page 950,
// unless replace_invalid: then each byte that does not convert becomes "?".
std::optional<std::string> cp950_to_utf8(std::string_view text, bool replace_invalid = false);

// UTF-8 text as code page 950; nothing when it is not UTF-8 or has a character that
// code page 950 lacks.
std::optional<std::string> utf8_to_cp950(std::string_view text);

// A file-system name as code page 950, whatever the system's ANSI code page: on
// Windows from its UTF-16 form, elsewhere from UTF-8. Nothing when a character has no
// code page 950 form.
std::optional<std::string> file_name_to_cp950(const std::filesystem::path& name);

}  // namespace platform
