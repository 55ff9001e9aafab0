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

std::optional<std::wstring> wide_path(std::string_view system_path) {
  if (system_path.empty()) return std::wstring();
  const UINT from = path_code_page();
  // The ANSI code page converts without checks, exactly as the ANSI calls do.
  const DWORD flags = from == CP_ACP ? 0 : MB_ERR_INVALID_CHARS;
  const int length = MultiByteToWideChar(from, flags, system_path.data(), int(system_path.size()), nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(std::size_t(length), L'\0');
  MultiByteToWideChar(from, flags, system_path.data(), int(system_path.size()), wide.data(), length);
  return wide;
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
