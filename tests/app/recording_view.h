#pragma once
// A DialogView that records what the logic asks of it, for tests.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog_view.h"
#include "app/resource.h"

class RecordingView : public DialogView {
 public:
  RecordingView() {
    // The controls that the dialog template shows at first.
    for (int id : {IDOK, IDCANCEL, IDC_PATH, IDC_NOTES, IDC_BROWSE}) visible[id] = true;
    for (int id : {IDC_PROGRESS, IDC_STATUS}) visible[id] = false;
    texts[IDC_PATH] = "PATH";
  }

  void center_on_screen() override { events.push_back("center"); }
  void show_control(int id, bool shown) override {
    visible[id] = shown;
    events.push_back((shown ? "show " : "hide ") + std::to_string(id));
  }
  void set_text(int id, std::string_view text) override {
    texts[id] = std::string(text);
    events.push_back("text " + std::to_string(id));
  }
  void set_progress_range(int count) override { events.push_back("range 0.." + std::to_string(count)); }
  void set_progress_position(int position) override { events.push_back("position " + std::to_string(position)); }
  void pause(unsigned milliseconds) override { events.push_back("pause " + std::to_string(milliseconds)); }
  bool browse_install_dir(std::string& folder) override {
    events.push_back("browse");
    if (!browse_result) return false;
    folder = *browse_result;
    return true;
  }
  void message_box(std::string_view text, std::string_view caption) override {
    messages.push_back({std::string(text), std::string(caption)});
    events.push_back("message");
  }
  void end_dialog(int result) override {
    ended = result;
    events.push_back("end " + std::to_string(result));
  }
  // Kept apart from events: a run reports progress many times.
  void show_run_progress(std::uint64_t done, std::uint64_t total, std::string_view activity) override {
    progress.push_back({done, total, std::string(activity)});
  }
  bool stop_requested() override { return stop; }

  struct Message {
    std::string text;
    std::string caption;
  };
  struct Progress {
    std::uint64_t done;
    std::uint64_t total;
    std::string activity;
  };

  std::map<int, bool> visible;
  std::map<int, std::string> texts;
  std::vector<std::string> events;
  std::vector<Message> messages;
  std::vector<Progress> progress;
  bool stop = false;                         // what stop_requested answers
  std::optional<std::string> browse_result;  // what the next browse picks; nothing: cancelled
  std::optional<int> ended;
};
