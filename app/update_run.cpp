// The update run: writes the payload into install_dir and merges the configured
// packs into the game's packs. Every write lands inside the install folder: the run
// settles that folder first and refuses one it cannot trust, takes its packs from the
// update package only, and checks them all before anything is written.

#include "app/update_run.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/run_messages.h"
#include "app/run_report.h"
#include "pak/entry_path.h"
#include "platform/codepage.h"
#include "platform/write_folder.h"

namespace {

constexpr std::uint32_t SLOT_COUNT = 5;

// Shows the pack code's write problems in the view's message box, the file's path
// as caption.
class MessageBoxReporter : public WriteProblemReporter {
 public:
  explicit MessageBoxReporter(DialogView& view) : view_(view) {}
  void report(const std::string& text, const std::string& path) override { view_.message_box(text, path); }
  void written(const std::string& path) override {
    if (RunReport* report = active_run_report()) report->written(path);
  }

 private:
  DialogView& view_;
};

std::string pack_section(int n) { return "[pack" + std::to_string(n) + "]"; }

// The "name" of section "[pack{n}]", or null.
const char* merge_pack_name(int n) { return update_ini.get(pack_section(n).c_str(), "name", nullptr); }

// True when the last byte of path is a separator, not the trail byte of a double-byte
// character.
bool ends_in_separator(std::string_view path) {
  return !path.empty() && platform::find_last_separator(path, true) == path.size() - 1;
}

// install_dir without its trailing separators: the folder the run writes into.
std::string folder_of(std::string path) {
  while (ends_in_separator(path)) path.pop_back();
  return path;
}

// A drive letter alone ("C:") names a drive's root once the separator is gone.
bool is_drive_root(std::string_view folder) {
  return folder.size() == 2 && folder[1] == ':' &&
         ((folder[0] >= 'A' && folder[0] <= 'Z') || (folder[0] >= 'a' && folder[0] <= 'z'));
}

// Opens the install folder, or says in the message box why it cannot be written to.
bool open_install_folder(DialogView& view, platform::WriteFolder& folder, std::string& folder_path) {
  folder_path = folder_of(install_dir);
  if (folder_path.empty() || is_drive_root(folder_path)) {
    view.message_box(FOLDER_REFUSED_TEXT, install_dir);
    return false;
  }
  // The base of every archive of the run is the folder and one separator.
  if (folder_path.size() + 1 > PAK_MAX_BASE_PATH_LENGTH) {
    view.message_box(FOLDER_TOO_LONG_TEXT, install_dir);
    return false;
  }
  if (folder.open(folder_path) != platform::WriteFolder::Status::ok) {
    view.message_box(FOLDER_MISSING_TEXT, install_dir);
    return false;
  }
  if (platform::is_file_system_root(folder_path)) {
    view.message_box(FOLDER_REFUSED_TEXT, install_dir);
    return false;
  }
  return true;
}

// A merge pack's name is one plain file name: the rules of entry names, no separator.
bool is_plain_pack_name(std::string_view name) {
  return pak::unsafe_path_reason(name) == nullptr && platform::find_separator(name, 0, true) == name.size() &&
         name.size() + 4 <= PAK_MAX_PATH_LENGTH;
}

// Checks the packs the run takes from the update package before anything is written:
// the payload, when there is one, must be readable, and every configured merge pack
// must be named plainly, be there and be readable.
bool package_is_sound(DialogView& view) {
  PakArchive pack;
  if (pack.open_package("dll", SLOT_COUNT) != 1) {
    view.message_box(PACKAGE_DAMAGED_TEXT, "DLL.PAK");
    return false;
  }
  for (int n = 0; const char* name = merge_pack_name(n); ++n) {
    if (!is_plain_pack_name(name)) {
      view.message_box(PACKAGE_DAMAGED_TEXT, pack_section(n) + " name=" + name);
      return false;
    }
    if (pack.open_package(name, SLOT_COUNT) != 1 || pack.is_open != 1) {
      view.message_box(PACKAGE_DAMAGED_TEXT, std::string(name) + ".pak");
      return false;
    }
  }
  return true;
}

}  // namespace

int count_merge_packs() {
  int count = 0;
  while (merge_pack_name(count)) ++count;
  return count;
}

void join_path(std::string& buffer, std::string_view name) {
  if (!buffer.empty() && !ends_in_separator(buffer)) buffer += '\\';
  buffer += name;
}

int run_update(DialogView& shown_view) {
  // A reported run notes every message it shows.
  std::optional<ReportingView> reporting;
  if (RunReport* report = active_run_report()) reporting.emplace(shown_view, *report);
  DialogView& view = reporting ? static_cast<DialogView&>(*reporting) : shown_view;
  MessageBoxReporter reporter(view);
  const int count = count_merge_packs();
  view.set_progress_range(count);

  platform::WriteFolder folder;
  std::string folder_path;
  if (!open_install_folder(view, folder, folder_path) || !package_is_sound(view)) return 0;

  PakArchive payload;
  payload.reporter = &reporter;
  payload.open_package("dll", SLOT_COUNT);
  {
    PakArchive installation;
    installation.reporter = &reporter;
    if (installation.open_in(folder, "", SLOT_COUNT, 1) == 1)
      installation.import_pack(payload);
    else
      view.message_box(GAME_PACK_UNREADABLE_TEXT, folder_path + "\\.pak");
    installation.close();
  }

  for (int n = 0; const char* name_value = merge_pack_name(n); ++n) {
    const std::string name = name_value;
    pack_path = folder_path + "\\";
    join_path(pack_path, name);
    PakArchive target;
    target.reporter = &reporter;
    if (target.open_in(folder, name, SLOT_COUNT, 0) == 1) {
      PakArchive source;
      source.reporter = &reporter;
      source.open_package(name.c_str(), SLOT_COUNT);
      target.import_pack(source);
      if (RunReport* report = active_run_report(); report != nullptr && !target.rebuilt_path.empty())
        report->merged(target.rebuilt_path);
      source.close();
    } else {
      view.message_box(GAME_PACK_UNREADABLE_TEXT, pack_path + ".pak");
    }
    view.set_progress_position(n + 1);
    view.pause(100);
    target.close();
  }

  payload.close();
  return 0;
}
