// Text conversion through UTF-16 with the system's code page tables.

#include "platform/text.h"

#include <windows.h>

namespace platform {
namespace {

std::optional<std::string> convert(std::string_view text, UINT to, UINT from, bool replace_invalid) {
  if (text.empty()) return std::string();
  const DWORD flags = replace_invalid ? 0 : MB_ERR_INVALID_CHARS;
  const int wide_length = MultiByteToWideChar(from, flags, text.data(), int(text.size()), nullptr, 0);
  if (wide_length <= 0) return std::nullopt;
  std::wstring wide(std::size_t(wide_length), L'\0');
  MultiByteToWideChar(from, flags, text.data(), int(text.size()), wide.data(), wide_length);
  BOOL lossy = FALSE;
  BOOL* lossy_flag = to == CP_UTF8 ? nullptr : &lossy;
  const int length = WideCharToMultiByte(to, 0, wide.data(), wide_length, nullptr, 0, nullptr, lossy_flag);
  if (length <= 0 || lossy) return std::nullopt;
  std::string out(std::size_t(length), '\0');
  WideCharToMultiByte(to, 0, wide.data(), wide_length, out.data(), length, nullptr, nullptr);
  return out;
}

}  // namespace

std::optional<std::string> cp950_to_utf8(std::string_view text, bool replace_invalid) {
  return convert(text, CP_UTF8, 950, replace_invalid);
}

std::optional<std::string> utf8_to_cp950(std::string_view text) { return convert(text, 950, CP_UTF8, false); }

std::optional<std::string> file_name_to_cp950(const std::filesystem::path& name) {
  // The narrow names of std::filesystem are UTF-8 here, not the ANSI code page: go
  // through the UTF-16 name.
  const std::wstring wide = name.wstring();
  if (wide.empty()) return std::string();
  BOOL lossy = FALSE;
  const int length = WideCharToMultiByte(950, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, &lossy);
  if (length <= 0 || lossy) return std::nullopt;
  std::string out(std::size_t(length), '\0');
  WideCharToMultiByte(950, 0, wide.data(), int(wide.size()), out.data(), length, nullptr, nullptr);
  return out;
}

}  // namespace platform
