#include "app/run_report.h"

#include <algorithm>
#include <cstring>

#include "app/run_messages.h"
#include "pak/write_messages.h"
#include "platform/text.h"

namespace {

RunReport* current_report = nullptr;

std::string utf8(std::string_view system_text) { return *platform::cp950_to_utf8(system_text, true); }

bool is(std::string_view text, const char* message) { return text == std::string_view(message); }

// The log's English for the run's own Big5 messages; other texts are shown as they are.
struct KnownMessage {
  const char* text;
  const char* word;
  const char* reason;
  int code;
};
const KnownMessage KNOWN_MESSAGES[] = {
    {FOLDER_REFUSED_TEXT, "refused", "not an install folder (empty, or the root of a drive)", EXIT_FOLDER_NOT_SETTLED},
    {FOLDER_MISSING_TEXT, "refused", "the install folder does not exist", EXIT_FOLDER_NOT_SETTLED},
    {FOLDER_TOO_LONG_TEXT, "refused", "the install folder's path is too long", EXIT_FOLDER_NOT_SETTLED},
    {PACKAGE_DAMAGED_TEXT, "refused", "the update package is damaged", EXIT_PACKAGE_DAMAGED},
    {GAME_PACK_UNREADABLE_TEXT, "failed", "the game's pack cannot be opened; its merge was skipped",
     EXIT_FILES_NOT_WRITTEN},
    {pak::FILE_LOCKED_TEXT, "failed", "cannot be written (locked by a running program, no access or disk full)",
     EXIT_FILES_NOT_WRITTEN},
    {pak::LINK_IN_WAY_TEXT, "refused", "a link stands in the way; nothing is written through a link",
     EXIT_FILES_NOT_WRITTEN},
};

// Worse outcomes win: a damaged package over an unsettled folder over files not written.
int worse(int a, int b) {
  auto rank = [](int code) {
    switch (code) {
      case EXIT_PACKAGE_DAMAGED:
        return 3;
      case EXIT_FOLDER_NOT_SETTLED:
      case EXIT_GAME_RUNNING:
        return 2;
      case EXIT_FILES_NOT_WRITTEN:
        return 1;
      default:
        return 0;
    }
  };
  return rank(a) >= rank(b) ? a : b;
}

}  // namespace

RunReport* active_run_report() { return current_report; }
void set_active_run_report(RunReport* report) { current_report = report; }

void RunReport::add(std::string_view word, std::string_view path, std::string_view reason, int code) {
  std::string line = std::string(word) + " " + utf8(path);
  if (!reason.empty()) line += ": " + std::string(reason);
  // A line never breaks, whatever a path holds.
  std::replace(line.begin(), line.end(), '\n', ' ');
  std::replace(line.begin(), line.end(), '\r', ' ');
  lines_.push_back(line);
  if (code != EXIT_DONE) problem_lines_.push_back(line);
  exit_code_ = worse(exit_code_, code);
}

void RunReport::written(std::string_view path) { add("written", path, {}, EXIT_DONE); }
void RunReport::merged(std::string_view pack_path) { add("merged", pack_path, {}, EXIT_DONE); }
void RunReport::removed(std::string_view path) { add("removed", path, {}, EXIT_DONE); }

void RunReport::problem(std::string_view text, std::string_view caption) {
  for (const KnownMessage& known : KNOWN_MESSAGES)
    if (is(text, known.text)) return add(known.word, caption, known.reason, known.code);
  add("failed", caption, utf8(text), EXIT_FILES_NOT_WRITTEN);
}

void RunReport::folder_not_settled(std::string_view path_text, std::string_view reason) {
  add("refused", path_text, reason, EXIT_FOLDER_NOT_SETTLED);
}

void RunReport::package_damaged(std::string_view file, std::string_view reason) {
  add("refused", file, "the update package is damaged: " + std::string(reason), EXIT_PACKAGE_DAMAGED);
}

void RunReport::game_running(std::string_view reason) { add("refused", "", reason, EXIT_GAME_RUNNING); }

std::string RunReport::log_text() const {
  std::string text;
  for (const auto& line : lines_) text += line + "\n";
  text += "result " + std::to_string(exit_code_) + "\n";
  return text;
}
