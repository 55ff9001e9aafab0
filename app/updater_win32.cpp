// The installer on Windows: WinMain and the modal dialog from template IDD_UPDATE.

#include <windows.h>
// windows.h first: the shell and common-control headers build on it.
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/package_check.h"
#include "app/program.h"
#include "app/resource.h"
#include "app/run_messages.h"
#include "app/run_report.h"
#include "app/run_worker.h"
#include "app/unattended.h"
#include "app/update_dialog.h"
#include "app/update_run.h"
#include "platform/files.h"
#include "platform/win32/wide_path.h"

void free_id_list(LPITEMIDLIST id_list);
bool browse_install_dir(HWND owner, std::string& folder);
INT_PTR CALLBACK update_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

namespace {

// Messages from the run's worker thread to the dialog's thread.
constexpr UINT WM_APP_CALL = WM_APP + 1;      // lParam: a const std::function<void()>* to run here
constexpr UINT WM_APP_RUN_DONE = WM_APP + 2;  // wParam: what run_update returned

// Steps of the progress bar while it counts bytes.
constexpr int PROGRESS_STEPS = 1000;

// "資料夾名稱含有無法使用的字元,請選擇其他資料夾": the picked folder's path has a
// character that code page 950 lacks.
constexpr char FOLDER_NAME_UNUSABLE_TEXT[] =
    "\xB8\xEA\xAE\xC6\xA7\xA8\xA6W\xBA\xD9\xA7t\xA6\xB3\xB5L\xAAk\xA8\xCF\xA5\xCE\xAA\xBA\xA6r\xA4\xB8,\xBD"
    "\xD0\xBF\xEF\xBE\xDC\xA8\xE4\xA5L\xB8\xEA\xAE\xC6\xA7\xA8";

// The folder of /D=PATH, proposed when the dialog opens.
std::optional<std::string> proposed_folder;

// The arguments after the program's name as system text (code page 950, the code
// page of the installer's paths whatever the system's ANSI code page is).
struct CommandLine {
  std::vector<std::string> arguments;
  int unconvertible = 0;  // the position of the first argument code page 950 cannot hold; 0: none
  bool silent = false;    // /S or --silent among the arguments, converted or not
};

CommandLine command_line() {
  CommandLine line;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return line;
  for (int i = 1; i < count; ++i) {
    const std::wstring_view argument = wide[i];
    line.silent = line.silent || argument == L"/S" || argument == L"--silent";
    auto converted = platform::win32::from_wide(argument, 950);
    if (!converted && line.unconvertible == 0) line.unconvertible = i;
    line.arguments.push_back(converted.value_or(std::string()));
  }
  LocalFree(wide);
  return line;
}

// Code page 950 text as UTF-16 for the wide calls; a byte that is no character of it
// shows as the system's stand-in character.
std::wstring shown(std::string_view text) { return platform::win32::to_wide(text, 950, true).value_or(std::wstring()); }

void show_message_box(HWND owner, std::string_view text, std::string_view caption, UINT type) {
  MessageBoxW(owner, shown(text).c_str(), shown(caption).c_str(), type);
}

// Text on the standard error stream, when the caller gave the program one.
void print_errors(const std::string& errors) {
  if (errors.empty()) return;
  std::fwrite(errors.data(), 1, errors.size(), stderr);
  std::fflush(stderr);
}

// The dialog's controls behind the logic's view.
class Win32DialogView : public DialogView {
 public:
  explicit Win32DialogView(HWND window = nullptr) : window_(window) {}
  void attach(HWND window) {
    window_ = window;
    counting_bytes_ = false;
  }

  void center_on_screen() override {
    RECT rect;
    if (!GetWindowRect(window_, &rect)) return;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const Origin origin = centered_origin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), width, height);
    MoveWindow(window_, origin.x, origin.y, width, height, TRUE);
  }
  void show_control(int id, bool visible) override {
    if (!visible) pass_focus_on(id);
    ShowWindow(GetDlgItem(window_, id), visible ? SW_SHOW : SW_HIDE);
  }
  void set_text(int id, std::string_view text) override { SetDlgItemTextW(window_, id, shown(text).c_str()); }
  void set_progress_range(int count) override {
    SendDlgItemMessageA(window_, IDC_PROGRESS, PBM_SETRANGE, 0,
                        static_cast<LPARAM>((static_cast<unsigned>(count) & 0xFFFFu) << 16));
  }
  void set_progress_position(int position) override {
    // Once the bar counts bytes, a merge's count would only pull it back.
    if (counting_bytes_) return;
    SendDlgItemMessageA(window_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  }
  void show_run_progress(std::uint64_t done, std::uint64_t total, std::string_view activity) override {
    if (!counting_bytes_) SendDlgItemMessageA(window_, IDC_PROGRESS, PBM_SETRANGE32, 0, PROGRESS_STEPS);
    counting_bytes_ = true;
    const std::uint64_t position = total == 0 ? 0 : done * PROGRESS_STEPS / total;
    SendDlgItemMessageA(window_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    set_text(IDC_STATUS, activity);
  }
  void enable_control(int id, bool enabled) override {
    if (!enabled) pass_focus_on(id);
    EnableWindow(GetDlgItem(window_, id), enabled ? TRUE : FALSE);
  }
  void pause(unsigned milliseconds) override { Sleep(milliseconds); }
  bool browse_install_dir(std::string& folder) override { return ::browse_install_dir(window_, folder); }
  void message_box(std::string_view text, std::string_view caption) override {
    // Owned by the dialog, so it stays in front of it while the run waits for it.
    show_message_box(window_, text, caption, MB_OK);
  }
  void end_dialog(int result) override { EndDialog(window_, result); }

 private:
  // A control that is hidden or disabled with the focus would leave no window with it,
  // and keys such as Escape would reach no one: the focus moves to the next control.
  void pass_focus_on(int id) {
    if (GetFocus() == GetDlgItem(window_, id)) SendMessageW(window_, WM_NEXTDLGCTL, 0, FALSE);
  }

  HWND window_;
  bool counting_bytes_ = false;
};

// On a system whose ANSI code page is not 950 the dialog's font may lack the
// characters of its Big5 texts: every control then gets a font of the same size made
// for Big5. On a 950 system the dialog keeps its own font.
HFONT big5_font = nullptr;

BOOL CALLBACK set_control_font(HWND control, LPARAM font) {
  SendMessageW(control, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
  return TRUE;
}

void use_big5_font(HWND window) {
  if (GetACP() == 950) return;
  LOGFONTW font = {};
  const auto current = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  if (current == nullptr || GetObjectW(current, sizeof font, &font) == 0) return;
  font.lfCharSet = CHINESEBIG5_CHARSET;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  font.lfFaceName[0] = L'\0';  // whichever font the system has for Big5
  if (big5_font == nullptr) big5_font = CreateFontIndirectW(&font);
  if (big5_font != nullptr) EnumChildWindows(window, set_control_font, reinterpret_cast<LPARAM>(big5_font));
}

// The one dialog's view and the run working for it.
Win32DialogView& dialog_view() {
  static Win32DialogView view;
  return view;
}
RunWorker& run_worker() {
  static RunWorker worker;
  return worker;
}
bool run_active = false;

// OK: the run starts on its worker thread and the dialog keeps answering. Its view
// calls come back here through WM_APP_CALL; its end through WM_APP_RUN_DONE.
void start_run(HWND window) {
  begin_update(dialog_view());
  run_active = true;
  run_worker().start(
      dialog_view(),
      [window](const std::function<void()>& call) {
        SendMessageA(window, WM_APP_CALL, 0, reinterpret_cast<LPARAM>(&call));
      },
      [window](int result) { PostMessageA(window, WM_APP_RUN_DONE, static_cast<WPARAM>(result), 0); });
}

}  // namespace

// Frees a shell item id list through the shell's allocator.
void free_id_list(LPITEMIDLIST id_list) {
  IMalloc* allocator = nullptr;
  if (SHGetMalloc(&allocator) != NOERROR || !allocator) return;
  allocator->Free(id_list);
  allocator->Release();
}

// The shell's folder browser, starting at the desktop. On a pick writes the folder's
// file-system path into folder and returns true. A folder whose path code page 950
// cannot hold is refused with a message box and leaves folder as it was.
bool browse_install_dir(HWND owner, std::string& folder) {
  wchar_t display_name[MAX_PATH];
  BROWSEINFOW info = {};
  info.hwndOwner = owner;
  info.pidlRoot = nullptr;
  info.pszDisplayName = display_name;
  info.lpszTitle = nullptr;
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = nullptr;
  info.lParam = 0;
  LPITEMIDLIST id_list = SHBrowseForFolderW(&info);
  if (!id_list) return false;
  wchar_t path[MAX_PATH] = {};
  // A pick without a file-system path leaves folder as it was.
  const bool picked = SHGetPathFromIDListW(id_list, path) != FALSE;
  free_id_list(id_list);
  if (!picked) return false;
  auto converted = platform::win32::from_wide(path, 950);
  if (!converted) {
    show_message_box(owner, FOLDER_NAME_UNUSABLE_TEXT, "Updata", MB_OK | MB_ICONERROR);
    return false;
  }
  folder = std::move(*converted);
  return true;
}

// Handles the opening and the commands; returns 0 for every message, so the system
// sets no default focus.
INT_PTR CALLBACK update_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  Win32DialogView& view = dialog_view();
  switch (message) {
    case WM_INITDIALOG:
      view.attach(window);
      use_big5_font(window);
      open_update_dialog(view, DialogHost::system());
      if (proposed_folder) propose_folder(view, *proposed_folder);
      break;
    case WM_COMMAND:
      if (run_active) {
        // While the run works nothing ends the dialog; Cancel (the close box too) only
        // stops a run that still waits for the game, while the button is enabled.
        if (wparam == IDCANCEL && IsWindowEnabled(GetDlgItem(window, IDCANCEL))) run_worker().request_stop();
        break;
      }
      if (wparam == IDOK) {
        start_run(window);
        break;
      }
      update_dialog_command(view, static_cast<std::uintptr_t>(wparam));
      break;
    case WM_APP_CALL:
      (*reinterpret_cast<const std::function<void()>*>(lparam))();
      return TRUE;
    case WM_APP_RUN_DONE:
      run_worker().join();
      run_active = false;
      finish_update(view, static_cast<int>(wparam));
      return TRUE;
    default:
      break;
  }
  return 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/, int /*show*/) {
  // Paths are code page 950 whatever the system's ANSI code page: the game's INI, its
  // package and its file names are.
  platform::set_path_code_page(platform::PathCodePage::cp950);
  const CommandLine line = command_line();
  const ParsedOptions parsed = line.unconvertible == 0
                                   ? parse_install_options(line.arguments)
                                   : ParsedOptions{std::nullopt, "argument " + std::to_string(line.unconvertible) +
                                                                     " has characters that code page 950 lacks"};
  // An unattended run never opens a window, not even for a line it cannot read: what
  // it has to say goes to the error stream.
  const bool silent = parsed.options ? parsed.options->silent : line.silent;
  if (!parsed.options) {
    const std::string text = "updater: " + parsed.error + "\n" + INSTALL_USAGE;
    print_errors(text);
    if (!silent) MessageBoxA(nullptr, text.c_str(), "Updata", MB_OK);
    return EXIT_USAGE;
  }
  const InstallOptions& options = *parsed.options;
  if (options.help) {
    print_errors(INSTALL_USAGE);
    if (!silent) MessageBoxA(nullptr, INSTALL_USAGE, "Updata", MB_OK);
    return EXIT_DONE;
  }
  if (options.version) {
    print_errors(INSTALL_VERSION);
    MessageBoxA(nullptr, INSTALL_VERSION, "Updata", MB_OK);
    return EXIT_DONE;
  }

  // A log that cannot be written is refused before anything is installed.
  if (options.log_file) {
    if (const std::string problem = log_file_problem(*options.log_file); !problem.empty()) {
      const std::string text = "updater: cannot write the log file " + *options.log_file + ": " + problem + "\n";
      print_errors(text);
      if (!silent) show_message_box(nullptr, text, "Updata", MB_OK);
      return EXIT_USAGE;
    }
  }

  RunReport report;
  std::string errors;
  PackageVerdict verdict;
  if (!start_program(&verdict)) {
    const int code = end_without_package(options, verdict, report, errors);
    print_errors(errors);
    if (!silent && verdict.state == PackageVerdict::State::damaged)
      show_message_box(nullptr, PACKAGE_DAMAGED_TEXT, verdict.file, MB_OK | MB_ICONERROR);
    return code;
  }

  if (silent) {
    const int code = install_unattended(options, DialogHost::system(), report, errors);
    print_errors(errors);
    return code;
  }

  // The progress bar's class must exist before the dialog is created.
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&controls);
  // The folder browser needs COM on this thread.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  proposed_folder = options.folder;
  if (options.log_file) set_active_run_report(&report);
  // A Unicode dialog: its texts come from code page 950 whatever the ANSI code page.
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_UPDATE), nullptr, update_dialog_proc, 0);
  set_active_run_report(nullptr);
  if (big5_font != nullptr) DeleteObject(big5_font);
  if (options.log_file) {
    finish_report(options, report, errors);
    print_errors(errors);
  }

  if (SUCCEEDED(com)) CoUninitialize();
  return EXIT_DONE;
}
