// hold_file PATH READY RELEASE: opens PATH (creating it if missing) without any
// sharing, so that nobody else can open, replace or delete it; then creates the
// file READY and holds PATH until the file RELEASE exists or a minute has passed.
// Exit code 0, or 1 when PATH cannot be opened.

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: hold_file PATH READY RELEASE\n");
    return 2;
  }
  HANDLE held =
      CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "hold_file: cannot open %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
  for (int waited = 0; waited < 600; ++waited) {
    if (GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(100);
  }
  CloseHandle(held);
  return 0;
}
