// Win32 system facts and the game client's close request.

#include "platform/system.h"

#include <windows.h>

namespace platform {

std::string module_path() {
  char buffer[512];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  return std::string(buffer, length < sizeof buffer ? length : 0);
}

std::string windows_directory() {
  char buffer[512];
  const UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
  return std::string(buffer, length < sizeof buffer ? length : 0);
}

void request_game_close(const char* window_class) {
  HWND window = FindWindowA(window_class, nullptr);
  if (window) PostMessageA(window, WM_CLOSE, 0, 0);
}

bool game_window_exists(const char* window_class) { return FindWindowA(window_class, nullptr) != nullptr; }

void sleep_milliseconds(unsigned milliseconds) { Sleep(milliseconds); }

}  // namespace platform
