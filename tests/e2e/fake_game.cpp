// fake_game READY CLOSED [LINGER_MS]: a stand-in for the game client. Opens a
// top-level window of the client's class "TOVENCLASS", creates the file READY, and
// when the window is asked to close creates the file CLOSED and ends; with LINGER_MS,
// as a game that saves first, it ends that many milliseconds after the request and
// creates CLOSED only then. Ends by itself after a minute.

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

const char* closed_marker = nullptr;
UINT linger_ms = 0;
constexpr UINT_PTR LINGER_TIMER = 2;

void touch(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CLOSE:
      if (linger_ms > 0) {
        SetTimer(window, LINGER_TIMER, linger_ms, nullptr);
        return 0;
      }
      touch(closed_marker);
      DestroyWindow(window);
      return 0;
    case WM_TIMER:
      if (wparam != LINGER_TIMER) return DefWindowProcA(window, message, wparam, lparam);
      KillTimer(window, LINGER_TIMER);
      touch(closed_marker);
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: fake_game READY CLOSED [LINGER_MS]\n");
    return 2;
  }
  closed_marker = argv[2];
  if (argc == 4) linger_ms = UINT(std::strtoul(argv[3], nullptr, 10));
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = window_proc;
  window_class.hInstance = instance;
  window_class.lpszClassName = "TOVENCLASS";
  if (!RegisterClassA(&window_class)) return 1;
  HWND window = CreateWindowA("TOVENCLASS", "Fake game", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                              instance, nullptr);
  if (!window) return 1;
  touch(argv[1]);
  SetTimer(window, 1, 60000, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.wParam == 1) break;
    DispatchMessageA(&message);
  }
  return 0;
}
