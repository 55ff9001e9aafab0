#pragma once
// The update run on a worker thread, while the thread of the user interface keeps
// serving the window: every call the run makes on its view is handed over to the
// interface's thread and waited for, so a message box still holds the run until the
// user answers it; pauses happen on the worker.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "app/dialog_view.h"

// Runs a call on the user interface's thread and returns once it has run there.
using UiCall = std::function<void(const std::function<void()>&)>;

// The view the worker's run talks to: forwards each call to the interface's view
// through a UiCall. Progress is forwarded at most every PROGRESS_INTERVAL (and always
// when a run step ends), so that thousands of tiny files cost no repainting.
class HandoverView final : public DialogView {
 public:
  static constexpr std::chrono::milliseconds PROGRESS_INTERVAL{50};

  HandoverView(DialogView& ui, UiCall call_on_ui) : ui_(ui), call_(std::move(call_on_ui)) {}

  void center_on_screen() override;
  void show_control(int id, bool visible) override;
  void set_text(int id, std::string_view text) override;
  void set_progress_range(int count) override;
  void set_progress_position(int position) override;
  void pause(unsigned milliseconds) override;
  bool browse_install_dir(std::string& folder) override;
  void message_box(std::string_view text, std::string_view caption) override;
  void end_dialog(int result) override;
  void show_run_progress(std::uint64_t done, std::uint64_t total, std::string_view activity) override;
  void enable_control(int id, bool enabled) override;
  bool stop_requested() override { return stop_.load(); }

  // Called from the interface's thread.
  void request_stop() { stop_ = true; }

 private:
  DialogView& ui_;
  UiCall call_;
  std::atomic<bool> stop_{false};
  std::chrono::steady_clock::time_point last_progress_{};
  bool progress_shown_ = false;
};

// One run of run_update on its own thread.
class RunWorker {
 public:
  RunWorker() = default;
  RunWorker(const RunWorker&) = delete;
  RunWorker& operator=(const RunWorker&) = delete;
  ~RunWorker() { join(); }

  // Starts the run; finished(result) is called on the worker thread when it ends (a
  // front end posts it to its own thread). The view must outlive the run.
  void start(DialogView& ui, UiCall call_on_ui, std::function<void(int)> finished);
  bool running() const { return thread_.joinable(); }
  // Asks the run to stop while it waits for the game; harmless otherwise.
  void request_stop();
  // Waits for the worker thread to end.
  void join();

 private:
  std::unique_ptr<HandoverView> view_;
  std::thread thread_;
};
