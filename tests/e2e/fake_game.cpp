// fake_game READY CLOSED: a stand-in for the game client. Opens a top-level window of
// the client's class "TOVENCLASS", creates the file READY, and when the window is
// asked to close creates the file CLOSED and ends. Ends by itself after a minute.

#include <windows.h>

#include <cstdio>

namespace {

const char* closed_marker = nullptr;

void touch(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CLOSE:
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
  if (argc != 3) {
    std::fprintf(stderr, "usage: fake_game READY CLOSED\n");
    return 2;
  }
  closed_marker = argv[2];
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
    if (message.message == WM_TIMER) break;
    DispatchMessageA(&message);
  }
  return 0;
}
