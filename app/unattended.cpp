#include "app/unattended.h"

#include <chrono>
#include <map>

#include "app/package_check.h"
#include "app/program.h"
#include "app/resource.h"
#include "app/run_messages.h"
#include "platform/codepage.h"
#include "pakupdate_version.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/write_folder.h"

namespace {

// The dialog's controls as the opening leaves them, and nothing shown.
class SilentView : public DialogView {
 public:
  void center_on_screen() override {}
  void show_control(int id, bool visible) override { visible_[id] = visible; }
  void set_text(int id, std::string_view text) override { texts_[id] = std::string(text); }
  void set_progress_range(int) override {}
  void set_progress_position(int) override {}
  bool browse_install_dir(std::string&) override { return false; }
  void message_box(std::string_view, std::string_view) override {}
  void end_dialog(int result) override { ended_ = result; }
  // The run asks while it waits for the game: nobody can close it, so it waits a
  // bounded time from the start of the run, then stops. It stops once another look at
  // the game (a pause, then a window query of at most WINDOW_QUERY_LIMIT_MS) could
  // overrun the limit, so the limit holds whatever the query does.
  bool stop_requested() override {
    if (!waiting_) return false;
    const auto reserve = std::chrono::milliseconds(last_pause_ + platform::WINDOW_QUERY_LIMIT_MS);
    return std::chrono::steady_clock::now() + reserve >= started_ + game_wait_limit;
  }
  void show_run_progress(std::uint64_t, std::uint64_t, std::string_view activity) override {
    waiting_ = activity == GAME_RUNNING_TEXT;
  }
  void pause(unsigned milliseconds) override {
    last_pause_ = milliseconds;
    platform::sleep_milliseconds(milliseconds);
  }
  int ended() const { return ended_; }

  bool ok_offered() const {
    const auto found = visible_.find(IDOK);
    return found == visible_.end() || found->second;
  }
  std::string path_text() const {
    const auto found = texts_.find(IDC_PATH);
    return found == texts_.end() ? std::string() : found->second;
  }

 private:
  std::map<int, bool> visible_;
  std::map<int, std::string> texts_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  bool waiting_ = false;  // the run said it waits for the game
  unsigned last_pause_ = 0;
  int ended_ = 0;
};

// "/NAME=value" (the name's case ignored, as Windows installers take it) or
// "--name=value": the value, else nothing.
std::optional<std::string> inline_value(const std::string& argument, const std::string& prefix) {
  if (argument.size() < prefix.size()) return std::nullopt;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const char a = argument[i], b = prefix[i];
    if (a != b && !(a >= 'a' && a <= 'z' && a - 32 == b)) return std::nullopt;
  }
  return argument.substr(prefix.size());
}

}  // namespace

#define INSTALL_VERSION_LINE "updater (pakupdate " PAKUPDATE_VERSION ")\n"
const char INSTALL_VERSION[] = INSTALL_VERSION_LINE;

const char INSTALL_USAGE[] = INSTALL_VERSION_LINE
    "usage: updater [/S | --silent] [/LOG=FILE | --log FILE] [/D=PATH | --dir PATH]\n"
    "  /S, --silent           install without the dialog or any message box\n"
    "  /D=PATH, --dir PATH    install into PATH (/D= comes last and may hold spaces)\n"
    "  /LOG=FILE, --log FILE  write what was written, merged, removed and refused\n"
    "  --version              print the version\n"
    "exit codes: 0 everything written, 1 command line not understood, 2 package damaged,\n"
    "            3 install folder not usable, 4 some files not written,\n"
    "            5 the game did not close in time\n";

ParsedOptions parse_install_options(const std::vector<std::string>& arguments) {
  InstallOptions options;
  auto set_once = [](std::optional<std::string>& slot, std::string value, const char* what) -> std::string {
    if (slot) return std::string(what) + " given twice";
    if (value.empty()) return std::string(what) + " needs a value";
    slot = std::move(value);
    return {};
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    std::string error;
    if (argument == "/S" || argument == "--silent") {
      if (options.silent) error = "/S given twice";
      options.silent = true;
    } else if (argument == "/?" || argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument == "--version") {
      options.version = true;
    } else if (auto folder = inline_value(argument, "/D=")) {
      // The rest of the command line is the path, as Windows installers take it.
      std::string path = *folder;
      for (++i; i < arguments.size(); ++i) {
        // "/D=PATH /S" would install nowhere and ask nobody: the line is wrong, not the path.
        if (arguments[i] == "/S" || arguments[i] == "--silent")
          return {std::nullopt, "/D= takes the rest of the command line as the folder, so it comes last: give " +
                                    arguments[i] + " before it"};
        path += " " + arguments[i];
      }
      error = set_once(options.folder, path, "the folder");
    } else if (auto folder_value = inline_value(argument, "--dir=")) {
      error = set_once(options.folder, *folder_value, "the folder");
    } else if (argument == "--dir") {
      if (i + 1 == arguments.size()) return {std::nullopt, "--dir needs a folder"};
      error = set_once(options.folder, arguments[++i], "the folder");
    } else if (auto log = inline_value(argument, "/LOG=")) {
      error = set_once(options.log_file, *log, "the log file");
    } else if (auto log_value = inline_value(argument, "--log=")) {
      error = set_once(options.log_file, *log_value, "the log file");
    } else if (argument == "--log") {
      if (i + 1 == arguments.size()) return {std::nullopt, "--log needs a file"};
      error = set_once(options.log_file, arguments[++i], "the log file");
    } else {
      error = "unknown option \"" + argument + "\"";
    }
    if (!error.empty()) return {std::nullopt, error};
  }
  return {options, {}};
}

void propose_folder(DialogView& view, const std::string& folder) {
  install_dir = folder;
  view.set_text(IDC_PATH, install_dir);
  view.show_control(IDOK, true);
}

std::chrono::milliseconds game_wait_limit{60000};

namespace {

// path without the separators at its end (a 0x5C trail byte stays).
std::string without_trailing_separators(std::string path) {
  while (!path.empty() && platform::find_last_separator(path, true) == path.size() - 1) path.pop_back();
  return path;
}

// Why folder cannot be the install folder before the run looks at it, or null: a
// folder that depends on the current folder is no install folder, and a file is none.
const char* folder_problem(const std::string& folder) {
  if (!platform::is_absolute_path(folder))
    return "not an absolute path; the install folder never depends on the current folder, give one with /D=PATH";
  const platform::PathKind kind = platform::path_kind(without_trailing_separators(folder));
  if (kind == platform::PathKind::file || kind == platform::PathKind::other)
    return "not a folder: a file of that name is there";
  return nullptr;
}

}  // namespace

std::string log_file_problem(const std::string& path) {
  const std::size_t last = platform::find_last_separator(path, true);
  std::string folder = last == std::string::npos ? "." : path.substr(0, last == 0 ? 1 : last);
  if (folder.size() == 2 && folder[1] == ':') folder += '\\';
  platform::WriteFolder opened;
  switch (opened.open(folder)) {
    case platform::WriteFolder::Status::ok:
      break;
    case platform::WriteFolder::Status::missing:
      return "its folder does not exist";
    case platform::WriteFolder::Status::not_a_folder:
      return "its folder is no folder";
    case platform::WriteFolder::Status::failed:
      return "its folder cannot be opened";
  }
  switch (platform::path_kind(path)) {
    case platform::PathKind::link:
      return "it is a link; nothing is written through a link";
    case platform::PathKind::folder:
      return "it is a folder";
    case platform::PathKind::other:
      return "it is no regular file";
    default:
      return {};
  }
}

int end_without_package(const InstallOptions& options, const PackageVerdict& verdict, RunReport& report,
                        std::string& errors) {
  using State = PackageVerdict::State;
  if (verdict.state != State::damaged && !options.silent) return EXIT_DONE;
  if (verdict.state == State::damaged || verdict.state == State::empty_configuration)
    report.package_damaged(verdict.file, verdict.text);
  else
    report.package_damaged(platform::module_path(), "no update package");
  finish_report(options, report, errors);
  return EXIT_PACKAGE_DAMAGED;
}

int run_unattended(const InstallOptions& options, const DialogHost& host, RunReport& report) {
  SilentView view;
  open_update_dialog(view, host);
  if (options.folder) {
    propose_folder(view, *options.folder);
  } else if (!view.ok_offered()) {
    // The dialog would hide OK: the game's folder is unknown, and nobody is there to
    // pick one.
    report.folder_not_settled(view.path_text(), "the game's install folder is unknown; give one with /D=PATH");
    return report.exit_code();
  }
  if (const char* problem = folder_problem(view.path_text())) {
    report.folder_not_settled(view.path_text(), problem);
    return report.exit_code();
  }
  // The run notes what it writes and every message it would have shown.
  set_active_run_report(&report);
  update_dialog_command(view, IDOK);
  set_active_run_report(nullptr);
  if (view.ended() == -1)
    report.game_running("the game still ran after " + std::to_string(game_wait_limit.count() / 1000) +
                        " s of waiting for it to close; nothing was written");
  return report.exit_code();
}

int install_unattended(const InstallOptions& options, const DialogHost& host, RunReport& report, std::string& errors) {
  const int code = run_unattended(options, host, report);
  const bool logged = finish_report(options, report, errors);
  return !logged && code == EXIT_DONE ? EXIT_FILES_NOT_WRITTEN : code;
}

bool finish_report(const InstallOptions& options, const RunReport& report, std::string& errors) {
  for (const auto& line : report.problem_lines()) errors += "updater: " + line + "\n";
  if (!options.log_file) return true;
  const std::string text = report.log_text();
  const auto status = platform::write_file_replacing(
      *options.log_file, platform::ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  if (status == platform::WriteStatus::ok) return true;
  errors += "updater: cannot write the log file\n";
  return false;
}
