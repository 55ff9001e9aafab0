#pragma once
// System paths and the wide (UTF-16) Win32 calls: the one place where the Windows
// backend converts a system path, in the code page set by set_path_code_page. The
// file calls below take system paths as the ANSI calls of the same names do; a path
// that does not convert fails them with ERROR_INVALID_NAME.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace platform::win32 {

// The code page of system paths: CP_ACP or 950.
UINT path_code_page();

// text of code_page as UTF-16. Nothing when a byte sequence is no character of it,
// unless replace_invalid: then the system's replacement character stands for it.
std::optional<std::wstring> to_wide(std::string_view text, UINT code_page, bool replace_invalid = false);

// UTF-16 text in code_page (or CP_UTF8); nothing when a character has no exact form
// there. Never a near one: neither a best-fit look-alike (\u00E9 as "e") nor the
// default character stands in.
std::optional<std::string> from_wide(std::wstring_view wide, UINT code_page);

// A system path as UTF-16. In the ANSI code page read exactly as the ANSI calls read
// it; in code page 950 nothing when a byte sequence is no character of it, so that a
// file of a mangled name is never made.
std::optional<std::wstring> wide_path(std::string_view system_path);

// A name or path from a wide call as system bytes; a character the code page lacks
// becomes "?", which no file name holds, never a look-alike character.
std::string system_path(std::wstring_view wide);

DWORD get_file_attributes(const std::string& path);
bool set_file_attributes(const std::string& path, DWORD attributes);
bool create_directory(const std::string& path);
bool remove_directory(const std::string& path);
HANDLE create_file(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
bool move_file(const std::string& from, const std::string& to, DWORD flags);
bool delete_file(const std::string& path);

}  // namespace platform::win32
