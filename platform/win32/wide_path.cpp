// System paths to UTF-16 and back, in the code page the program chose.

#include "platform/win32/wide_path.h"

#include <atomic>

#include "platform/files.h"

namespace platform {
namespace {

std::atomic<UINT> code_page{CP_ACP};

}  // namespace

void set_path_code_page(PathCodePage chosen) { code_page = chosen == PathCodePage::cp950 ? 950 : CP_ACP; }

namespace win32 {

UINT path_code_page() { return code_page; }

std::optional<std::wstring> to_wide(std::string_view text, UINT code_page, bool replace_invalid) {
  if (text.empty()) return std::wstring();
  const DWORD flags = replace_invalid ? 0 : MB_ERR_INVALID_CHARS;
  const int length = MultiByteToWideChar(code_page, flags, text.data(), int(text.size()), nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(std::size_t(length), L'\0');
  MultiByteToWideChar(code_page, flags, text.data(), int(text.size()), wide.data(), length);
  return wide;
}

std::optional<std::string> from_wide(std::wstring_view wide, UINT code_page) {
  if (wide.empty()) return std::string();
  // UTF-8 holds every character; it refuses only a lone surrogate, and takes no
  // default-character flag.
  const bool utf8 = code_page == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* used_default_flag = utf8 ? nullptr : &used_default;
  const int length =
      WideCharToMultiByte(code_page, flags, wide.data(), int(wide.size()), nullptr, 0, nullptr, used_default_flag);
  if (length <= 0 || used_default) return std::nullopt;
  std::string text(std::size_t(length), '\0');
  WideCharToMultiByte(code_page, flags, wide.data(), int(wide.size()), text.data(), length, nullptr, used_default_flag);
  if (used_default) return std::nullopt;
  // The way back must give the same text: a system that still maps a character to a
  // look-alike without saying so is caught here.
  const auto back = to_wide(text, code_page);
  if (!back || *back != wide) return std::nullopt;
  return text;
}

std::optional<std::wstring> wide_path(std::string_view system_path) {
  const UINT from = path_code_page();
  // The ANSI code page converts without checks, exactly as the ANSI calls do.
  return to_wide(system_path, from, from == CP_ACP);
}

std::string system_path(std::wstring_view wide) {
  if (wide.empty()) return std::string();
  const UINT to = path_code_page();
  const int length =
      WideCharToMultiByte(to, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), nullptr, 0, "?", nullptr);
  if (length <= 0) return std::string();
  std::string text(std::size_t(length), '\0');
  WideCharToMultiByte(to, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), text.data(), length, "?", nullptr);
  return text;
}

namespace {

// Runs call with the wide form of path; fails with ERROR_INVALID_NAME when there is none.
template <typename Call, typename Result>
Result with_wide(const std::string& path, Result failure, Call call) {
  const auto wide = wide_path(path);
  if (!wide) {
    SetLastError(ERROR_INVALID_NAME);
    return failure;
  }
  return call(wide->c_str());
}

}  // namespace

DWORD get_file_attributes(const std::string& path) {
  return with_wide(path, INVALID_FILE_ATTRIBUTES, [](const wchar_t* wide) { return GetFileAttributesW(wide); });
}

bool set_file_attributes(const std::string& path, DWORD attributes) {
  return with_wide(path, false, [&](const wchar_t* wide) { return SetFileAttributesW(wide, attributes) != FALSE; });
}

bool create_directory(const std::string& path) {
  return with_wide(path, false, [](const wchar_t* wide) { return CreateDirectoryW(wide, nullptr) != FALSE; });
}

bool remove_directory(const std::string& path) {
  return with_wide(path, false, [](const wchar_t* wide) { return RemoveDirectoryW(wide) != FALSE; });
}

HANDLE create_file(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  return with_wide(path, INVALID_HANDLE_VALUE, [&](const wchar_t* wide) {
    return CreateFileW(wide, access, share, nullptr, disposition, flags, nullptr);
  });
}

bool move_file(const std::string& from, const std::string& to, DWORD flags) {
  return with_wide(from, false, [&](const wchar_t* wide_from) {
    return with_wide(to, false,
                     [&](const wchar_t* wide_to) { return MoveFileExW(wide_from, wide_to, flags) != FALSE; });
  });
}

bool delete_file(const std::string& path) {
  return with_wide(path, false, [](const wchar_t* wide) { return DeleteFileW(wide) != FALSE; });
}

}  // namespace win32
}  // namespace platform
