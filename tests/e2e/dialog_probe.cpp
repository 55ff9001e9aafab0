// dialog_probe REPORT MIDRUN: watches the update dialog of another process while its
// run works. Finds the window titled "Updata", presses OK, then until the window is
// gone sends WM_NULL with SendMessageTimeout every 25 ms and reads the progress bar's
// position and the status text. Creates the file MIDRUN once the bar passes a third,
// and writes to REPORT one line: probes, probes slower than 200 ms, the slowest probe
// in ms, how often the bar's position rose, and how many status texts it saw.

#include <windows.h>
// windows.h first: commctrl.h builds on it.
#include <commctrl.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

constexpr int IDC_PROGRESS = 1001;
constexpr int IDC_STATUS = 1002;
constexpr UINT PROBE_TIMEOUT_MS = 5000;  // past this the dialog counts as hung
constexpr DWORD SLOW_MS = 200;

void touch(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: dialog_probe REPORT MIDRUN\n");
    return 2;
  }
  HWND dialog = nullptr;
  for (int i = 0; i < 600 && dialog == nullptr; ++i) {
    dialog = FindWindowA(nullptr, "Updata");
    if (dialog == nullptr) Sleep(50);
  }
  if (dialog == nullptr) return 1;
  Sleep(500);
  PostMessageA(dialog, WM_COMMAND, IDOK, 0);

  HWND progress = GetDlgItem(dialog, IDC_PROGRESS);
  HWND status = GetDlgItem(dialog, IDC_STATUS);
  int probes = 0, slow = 0, rises = 0;
  DWORD slowest = 0;
  DWORD_PTR last_position = 0;
  bool marked = false;
  std::set<std::string> statuses;
  while (IsWindow(dialog)) {
    DWORD_PTR answer = 0;
    const DWORD start = GetTickCount();
    const bool answered = SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, PROBE_TIMEOUT_MS, &answer) != 0;
    const DWORD took = GetTickCount() - start;
    if (!answered && !IsWindow(dialog)) break;
    ++probes;
    if (!answered || took > SLOW_MS) ++slow;
    if (took > slowest) slowest = took;
    DWORD_PTR position = 0;
    if (SendMessageTimeoutA(progress, PBM_GETPOS, 0, 0, SMTO_NORMAL, PROBE_TIMEOUT_MS, &position) != 0) {
      if (position > last_position) ++rises;
      last_position = position;
      if (!marked && position > 333) {
        touch(argv[2]);
        marked = true;
      }
    }
    char text[512] = {};
    DWORD_PTR copied = 0;
    if (SendMessageTimeoutA(status, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                            PROBE_TIMEOUT_MS, &copied) != 0 &&
        text[0] != 0)
      statuses.insert(text);
    Sleep(25);
  }
  FILE* report = std::fopen(argv[1], "w");
  if (report == nullptr) return 1;
  std::fprintf(report, "probes=%d slow=%d slowest_ms=%lu rises=%d statuses=%zu\n", probes, slow,
               static_cast<unsigned long>(slowest), rises, statuses.size());
  std::fclose(report);
  return 0;
}
