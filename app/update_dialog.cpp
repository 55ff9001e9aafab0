#include "app/update_dialog.h"

#include <cstdint>
#include <limits>

#include "app/program.h"
#include "app/resource.h"
#include "app/update_run.h"
#include "platform/files.h"
#include "platform/system.h"

namespace {

constexpr std::uint32_t SLOT_COUNT = 5;
// The game's INI is a small text file: anything larger is refused before it is read
// or decoded, so a damaged or hostile one cannot exhaust memory.
constexpr std::size_t GAME_INI_MAX_SIZE = 16 << 20;

// Parses the bytes into install_ini; a text of size 0 still counts as read.
void parse_game_ini(const std::uint8_t* data, std::size_t size) {
  static const char empty[1] = {0};
  if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return;
  const char* text = data ? reinterpret_cast<const char*>(data) : empty;
  install_ini.parse(text, static_cast<std::int32_t>(size));
}

// Reads the game's INI into install_ini, looking for the entry win_ini through
// system_archive opened on ini_path (its pack, then its loose file), and then for the
// plain file ini_path itself.
void read_game_ini(const std::string& ini_path, const std::string& win_ini) {
  system_archive.open(ini_path.c_str(), SLOT_COUNT, 0);
  system_archive.max_load_size = GAME_INI_MAX_SIZE;
  if (EntrySlot* entry = system_archive.load_entry(win_ini.c_str())) {
    parse_game_ini(entry->data, static_cast<std::size_t>(entry->size < 0 ? 0 : entry->size));
    system_archive.release_entry(entry);
    return;
  }
  // An empty name leaves {windir}\ as the path: a directory, never the INI.
  if (win_ini.empty()) return;
  if (auto bytes = platform::read_file(ini_path, GAME_INI_MAX_SIZE)) parse_game_ini(bytes->data(), bytes->size());
}

// Settles the proposed path text; hides or shows IDOK as the outcome requires.
std::string settle_path_text(DialogView& view, const DialogHost& host) {
  const char* win_ini_value = update_ini.get("[inst]", "win_ini", nullptr);
  if (!win_ini_value) return update_ini.get("[inst]", "dir", "can't find");
  const std::string win_ini = win_ini_value;

  const std::string ini_path = host.windows_directory() + "\\" + win_ini;
  read_game_ini(ini_path, win_ini);

  view.show_control(IDOK, false);
  if (!install_ini.loaded) return win_ini;
  if (const char* path = install_ini.get("[inst_path]", "path", nullptr)) {
    view.show_control(IDOK, true);
    return path;
  }
  path_message = "can't Find " + ini_path;
  return path_message;
}

void show_notes(DialogView& view, const DialogHost& host) {
  view.show_control(IDC_NOTES, false);
  const auto notes = host.find_resource("NOTE.TXT");
  if (!notes || notes->empty()) return;
  view.show_control(IDC_NOTES, true);
  view.set_text(IDC_NOTES, std::string_view(reinterpret_cast<const char*>(notes->data()), notes->size()));
}

}  // namespace

DialogHost DialogHost::system() { return DialogHost{&platform::windows_directory, &platform::find_resource}; }

Origin centered_origin(int screen_width, int screen_height, int width, int height) {
  return Origin{(screen_width - width) / 2, (screen_height - height) / 2};
}

void open_update_dialog(DialogView& view, const DialogHost& host) {
  view.center_on_screen();
  const std::string path_text = settle_path_text(view, host);
  show_notes(view, host);
  view.set_text(IDC_PATH, path_text);
  install_dir = path_text + "\\";
}

void begin_update(DialogView& view) {
  view.show_control(IDC_NOTES, false);
  view.show_control(IDC_PROGRESS, true);
  view.show_control(IDC_STATUS, true);
  view.enable_control(IDOK, false);
  view.enable_control(IDC_BROWSE, false);
}

void finish_update(DialogView& view, int run_result) { view.end_dialog(run_result == RUN_STOPPED ? -1 : 0); }

void update_dialog_command(DialogView& view, std::uintptr_t command) {
  switch (command) {
    case IDOK:
      begin_update(view);
      finish_update(view, run_update(view));
      break;
    case IDCANCEL:
      view.end_dialog(-1);
      break;
    case IDC_BROWSE:
      view.browse_install_dir(install_dir);
      view.set_text(IDC_PATH, install_dir);
      view.show_control(IDOK, true);
      break;
    default:
      break;
  }
}
