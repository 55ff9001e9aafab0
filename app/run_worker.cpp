#include "app/run_worker.h"

#include <memory>
#include <string>

#include "app/update_run.h"
#include "platform/system.h"

void HandoverView::center_on_screen() {
  call_([&] { ui_.center_on_screen(); });
}
void HandoverView::show_control(int id, bool visible) {
  call_([&] { ui_.show_control(id, visible); });
}
void HandoverView::set_text(int id, std::string_view text) {
  call_([&] { ui_.set_text(id, text); });
}
void HandoverView::set_progress_range(int count) {
  call_([&] { ui_.set_progress_range(count); });
}
void HandoverView::set_progress_position(int position) {
  call_([&] { ui_.set_progress_position(position); });
}
void HandoverView::pause(unsigned milliseconds) { platform::sleep_milliseconds(milliseconds); }
bool HandoverView::browse_install_dir(std::string& folder) {
  bool picked = false;
  call_([&] { picked = ui_.browse_install_dir(folder); });
  return picked;
}
void HandoverView::message_box(std::string_view text, std::string_view caption) {
  call_([&] { ui_.message_box(text, caption); });
}
void HandoverView::end_dialog(int result) {
  call_([&] { ui_.end_dialog(result); });
}
void HandoverView::enable_control(int id, bool enabled) {
  call_([&] { ui_.enable_control(id, enabled); });
}

void HandoverView::show_run_progress(std::uint64_t done, std::uint64_t total, std::string_view activity) {
  const auto now = std::chrono::steady_clock::now();
  if (progress_shown_ && done != total && now - last_progress_ < PROGRESS_INTERVAL) return;
  progress_shown_ = true;
  last_progress_ = now;
  call_([&] { ui_.show_run_progress(done, total, activity); });
}

void RunWorker::start(DialogView& ui, UiCall call_on_ui, std::function<void(int)> finished) {
  join();
  view_ = std::make_unique<HandoverView>(ui, std::move(call_on_ui));
  thread_ = std::thread([this, finished = std::move(finished)] { finished(run_update(*view_)); });
}

void RunWorker::request_stop() {
  if (view_) view_->request_stop();
}

void RunWorker::join() {
  if (thread_.joinable()) thread_.join();
}
