#include "app/terminal_view.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

#include "app/resource.h"
#include "app/run_messages.h"
#include "app/unattended.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

constexpr int PROGRESS_WIDTH = 30;

// System text for the terminal; a byte that does not convert is shown as "?".
std::string shown(std::string_view text) { return *platform::cp950_to_utf8(text, true); }

std::string trimmed(std::string line) {
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  std::size_t start = 0;
  while (start < line.size() && std::isspace(static_cast<unsigned char>(line[start]))) ++start;
  return line.substr(start);
}

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

TerminalView::TerminalView(std::istream& in, std::ostream& out, bool input_is_terminal, bool output_is_terminal)
    : in_(in), out_(out), input_is_terminal_(input_is_terminal), output_is_terminal_(output_is_terminal) {
  // The controls that the dialog template shows at first.
  for (int id : {IDOK, IDCANCEL, IDC_PATH, IDC_NOTES, IDC_BROWSE}) visible_[id] = true;
  for (int id : {IDC_PROGRESS, IDC_STATUS}) visible_[id] = false;
  texts_[IDC_PATH] = "PATH";
}

bool TerminalView::visible(int id) const {
  const auto found = visible_.find(id);
  return found != visible_.end() && found->second;
}

void TerminalView::show_control(int id, bool shown) { visible_[id] = shown; }

void TerminalView::set_text(int id, std::string_view text) { texts_[id] = std::string(text); }

void TerminalView::set_progress_range(int count) {
  progress_range_ = count;
  progress_position_ = 0;
  if (visible(IDC_PROGRESS)) draw_progress();
}

void TerminalView::set_progress_position(int position) {
  progress_position_ = position;
  if (visible(IDC_PROGRESS)) draw_progress();
}

namespace {

// Bytes as megabytes with one decimal.
std::string megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", double(bytes) / (1024.0 * 1024.0));
  return text;
}

}  // namespace

void TerminalView::show_run_progress(std::uint64_t done, std::uint64_t total, std::string_view activity) {
  waiting_for_game_ = activity == GAME_RUNNING_TEXT;
  const int percent = total == 0 ? 0 : int(done * 100 / total);
  std::string line = "Progress " + std::to_string(percent) + "% (" + megabytes(done) + " of " + megabytes(total) +
                     " MB) " + shown(activity);
  const auto now = std::chrono::steady_clock::now();
  if (output_is_terminal_) {
    if (done != total && now - last_drawn_ < std::chrono::milliseconds(100)) return;
    last_drawn_ = now;
    // One screen line: long paths are cut at the front, where they say least.
    constexpr std::size_t WIDTH = 79;
    if (line.size() > WIDTH) line = "..." + line.substr(line.size() - (WIDTH - 3));
    out_ << '\r' << line << std::string(WIDTH - std::min(WIDTH, line.size()), ' ');
    progress_line_open_ = true;
    out_.flush();
    return;
  }
  // Plain lines: each tenth once, and a state that is no file (waiting, done) once.
  const bool state = done == total;
  const int tenth = percent / 10;
  if (state ? line == last_state_ : tenth == last_tenth_) return;
  if (state) last_state_ = line;
  last_tenth_ = tenth;
  out_ << line << '\n';
  out_.flush();
}

void TerminalView::pause(unsigned milliseconds) {
  out_.flush();
  if (!waiting_for_game_ || stop_requested_) {
    platform::sleep_milliseconds(milliseconds);
    return;
  }
  if (input_wait_ && !input_wait_(milliseconds)) return;
  std::string line;
  if (!std::getline(in_, line)) {
    end_progress_line();
    out_ << "End of input: the update stops waiting for the game.\n";
    stop_requested_ = true;
  } else if (lowered(trimmed(line)) == "cancel") {
    stop_requested_ = true;
  } else {
    end_progress_line();
    out_ << "The update waits for the game to close; type cancel to stop it.\n";
  }
}

void TerminalView::draw_progress() {
  int filled = 0;
  if (progress_range_ > 0) {
    const int position = std::clamp(progress_position_, 0, progress_range_);
    filled = static_cast<int>(static_cast<long long>(position) * PROGRESS_WIDTH / progress_range_);
  }
  const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                          std::string(static_cast<std::size_t>(PROGRESS_WIDTH - filled), '-');
  if (output_is_terminal_) out_ << '\r';
  out_ << "Progress [" << bar << "] " << progress_position_ << '/' << progress_range_;
  if (output_is_terminal_) {
    progress_line_open_ = true;
  } else {
    out_ << '\n';
  }
  out_.flush();
}

bool TerminalView::read_line(std::string& line) {
  const bool got = static_cast<bool>(std::getline(in_, line));
  // A terminal echoes the line and its break; input from a pipe leaves the prompt open.
  if (!got || !input_is_terminal_) out_ << '\n';
  return got;
}

void TerminalView::end_progress_line() {
  if (!progress_line_open_) return;
  out_ << '\n';
  progress_line_open_ = false;
}

bool TerminalView::browse_install_dir(std::string& folder) {
  out_ << "Folder (empty line cancels): " << std::flush;
  std::string line;
  if (!read_line(line)) return false;
  line = trimmed(line);
  if (line.empty()) return false;
  auto system_path = platform::utf8_to_cp950(line);
  if (!system_path) {
    out_ << "That folder name cannot be written in code page 950; the folder stays as it was.\n";
    return false;
  }
  folder = *system_path;
  return true;
}

void TerminalView::message_box(std::string_view text, std::string_view caption) {
  ++messages_shown_;
  end_progress_line();
  out_ << "[" << shown(caption) << "]\n" << shown(text) << '\n';
  if (input_is_terminal_) {
    out_ << "Press Enter to continue." << std::flush;
    std::string line;
    std::getline(in_, line);
  }
  out_.flush();
  if (visible(IDC_PROGRESS) && output_is_terminal_) draw_progress();
}

void TerminalView::end_dialog(int result) {
  end_progress_line();
  ended_ = true;
  result_ = result;
}

void TerminalView::print_notes() {
  if (!visible(IDC_NOTES)) return;
  std::string notes = shown(texts_[IDC_NOTES]);
  notes.erase(std::remove(notes.begin(), notes.end(), '\r'), notes.end());
  while (!notes.empty() && notes.back() == '\n') notes.pop_back();
  out_ << "----------------------------------------\n" << notes << "\n----------------------------------------\n";
}

void TerminalView::print_state() {
  out_ << "Path: " << shown(texts_[IDC_PATH]) << '\n';
  out_ << "Buttons:";
  if (visible(IDOK)) out_ << " [OK]";
  if (visible(IDCANCEL)) out_ << " [Cancel]";
  if (visible(IDC_BROWSE)) out_ << " [瀏覽]";
  out_ << '\n';
}

int TerminalView::run(const DialogHost& host) {
  out_ << "Updata\n";
  open_update_dialog(*this, host);
  if (proposed_folder_) propose_folder(*this, *proposed_folder_);
  print_notes();
  print_state();
  while (!ended_) {
    out_ << (visible(IDOK) ? "Command (ok, cancel, browse): " : "Command (cancel, browse): ") << std::flush;
    std::string line;
    if (!read_line(line)) {
      update_dialog_command(*this, IDCANCEL);
      break;
    }
    const std::string command = lowered(trimmed(line));
    if (command.empty() || command == "ok") {
      if (!visible(IDOK)) {
        out_ << "OK is not offered until a folder is chosen with \"browse\".\n";
        continue;
      }
      update_dialog_command(*this, IDOK);
    } else if (command == "cancel") {
      update_dialog_command(*this, IDCANCEL);
    } else if (command == "browse") {
      update_dialog_command(*this, IDC_BROWSE);
      print_state();
    } else {
      out_ << "Unknown command \"" << line << "\": type ok, cancel or browse.\n";
    }
  }
  if (result_ != 0) {
    out_ << "Cancelled.\n";
  } else if (messages_shown_ == 0) {
    out_ << "Update finished.\n";
  } else {
    // Never reported as success: the messages above say what was not done.
    out_ << "Update ended with " << messages_shown_ << (messages_shown_ == 1 ? " problem" : " problems")
         << "; see the messages above.\n";
  }
  out_.flush();
  return result_;
}
