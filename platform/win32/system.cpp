// Win32 system facts and the game client's close request.

#include "platform/system.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "platform/win32/wide_path.h"

namespace platform {
namespace {

// A path that does not fit in 512 bytes is none.
std::string bounded(std::string path) { return path.size() < 512 ? path : std::string(); }

}  // namespace

std::string module_path() {
  wchar_t buffer[512];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, 512);
  return bounded(length < 512 ? win32::system_path({buffer, length}) : std::string());
}

std::string windows_directory() {
  wchar_t buffer[512];
  const UINT length = GetWindowsDirectoryW(buffer, 512);
  return bounded(length < 512 ? win32::system_path({buffer, length}) : std::string());
}

void request_game_close(const char* window_class) {
  HWND window = FindWindowA(window_class, nullptr);
  if (window) PostMessageA(window, WM_CLOSE, 0, 0);
}

bool game_window_exists(const char* window_class) { return FindWindowA(window_class, nullptr) != nullptr; }

void sleep_milliseconds(unsigned milliseconds) { Sleep(milliseconds); }

std::vector<std::string> utf8_arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    const int wide_length = int(wcslen(wide[i]));
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide[i], wide_length, nullptr, 0, nullptr, nullptr);
    std::string text(std::size_t(length > 0 ? length : 0), '\0');
    if (length > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], wide_length, text.data(), length, nullptr, nullptr);
    arguments.push_back(std::move(text));
  }
  LocalFree(wide);
  return arguments;
}

void report_file_size_limit_as_write_error() {}

}  // namespace platform
