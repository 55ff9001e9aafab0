#pragma once
// The progress an update run shows: bytes of the whole run on the bar, and the file or
// pack being written on the status line.

#include <algorithm>
#include <cstdint>
#include <string>

#include "app/dialog_view.h"
#include "app/run_messages.h"
#include "pak/archive.h"

class RunProgress final : public ProgressListener {
 public:
  RunProgress(DialogView& view, std::uint64_t total) : view_(view), total_(total) {}
  void progress(std::uint64_t, std::uint64_t) override {}
  void item(const std::string& path) override {
    activity_ = prefix_ + path;
    show();
  }
  void wrote(std::uint64_t bytes) override {
    done_ += bytes;
    show();
  }
  // What the items from now on are: files written, or packs merged.
  void set_prefix(const char* prefix) { prefix_ = prefix; }
  // The end of the run: the bar full, and "done" only when nothing failed, else the
  // number of problems.
  void finish(int problems) {
    done_ = total_ = std::max(done_, total_);
    activity_ = problems == 0 ? std::string(RUN_DONE_TEXT) : RUN_INCOMPLETE_TEXT + std::to_string(problems);
    show();
  }

 private:
  void show() { view_.show_run_progress(std::min(done_, total_), total_, activity_); }

  DialogView& view_;
  std::uint64_t total_;
  std::uint64_t done_ = 0;
  std::string prefix_;
  std::string activity_;
};
