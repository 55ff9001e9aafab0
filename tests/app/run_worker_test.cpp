// The run on a worker thread: every view call is handed over to the interface's
// thread, which keeps serving while the run works, and the result is the one a run on
// the interface's thread gives. Run under ThreadSanitizer in the tsan build.

#include "app/run_worker.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

#include "app/program.h"
#include "app/resource.h"
#include "app/update_dialog.h"
#include "app/update_run.h"
#include "tests/app/recording_view.h"
#include "tests/app/test_files.h"

namespace {

// The interface's thread, as a test runs it: calls handed over queue up and run when
// the thread serves them; the worker waits for each.
class InterfaceThread {
 public:
  UiCall caller() {
    return [this](const std::function<void()>& call) {
      if (std::this_thread::get_id() == owner_) return call();
      std::unique_lock lock(mutex_);
      bool done = false;
      queue_.push_back([&] {
        call();
        std::lock_guard done_lock(mutex_);
        done = true;
      });
      changed_.notify_all();
      changed_.wait(lock, [&] { return done; });
    };
  }
  // Serves handed-over calls until finished is set; counts the turns it was idle, in
  // which a real interface would repaint and take input.
  void serve_until(const std::atomic<bool>& finished) {
    std::unique_lock lock(mutex_);
    while (!finished) {
      if (queue_.empty()) {
        ++idle_turns;
        changed_.wait_for(lock, std::chrono::milliseconds(1));
        continue;
      }
      auto call = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      call();
      lock.lock();
      changed_.notify_all();
    }
  }
  int idle_turns = 0;

 private:
  std::thread::id owner_ = std::this_thread::get_id();
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> queue_;
};

class RunWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    game_still_running = [] { return false; };
    package.add("dll.pak",
                make_pack({{"a.txt", "payload a"}, {"sub\\b.bin", std::string(300000, 'b')}, {"blocked.txt", "x"}}));
    package.add("data.pak", make_pack({{"new.txt", "new"}}));
    update_ini.clear();
    const std::string config = "[pack0]\r\nname=data\r\n";
    update_ini.parse(config.data(), std::int32_t(config.size()));
  }
  void TearDown() override {
    game_still_running = [] { return false; };
    update_ini.clear();
    install_dir.clear();
    pack_path.clear();
  }
  // A game folder with a pack and a file that cannot be written (a folder in its place).
  std::filesystem::path make_game(const std::string& name) {
    const auto game = scratch.path() / name;
    write_bytes(game / "data.pak", make_pack({{"old.txt", "old"}}));
    std::filesystem::create_directories(game / "blocked.txt" / "inside");
    return game;
  }
  // Runs OK on the worker while this thread serves the interface; while_running runs
  // on a thread of its own meanwhile (a user's click).
  int run_on_worker(RecordingView& view, InterfaceThread& ui,
                    const std::function<void(RunWorker&)>& while_running = nullptr) {
    begin_update(view);
    std::atomic<bool> finished{false};
    int result = -2;
    RunWorker worker;
    worker.start(view, ui.caller(), [&](int run_result) {
      result = run_result;
      finished = true;
    });
    std::thread user;
    if (while_running) user = std::thread([&] { while_running(worker); });
    ui.serve_until(finished);
    if (user.joinable()) user.join();
    worker.join();
    finish_update(view, result);
    return result;
  }

  ScratchDir scratch;
  PackageStandIn package;
};

TEST_F(RunWorkerTest, TheWorkerGivesWhatTheInterfaceThreadGives) {
  const auto alone = make_game("alone");
  install_dir = alone.string() + "\\";
  RecordingView alone_view;
  update_dialog_command(alone_view, IDOK);

  const auto threaded = make_game("threaded");
  install_dir = threaded.string() + "\\";
  RecordingView threaded_view;
  InterfaceThread ui;
  EXPECT_EQ(run_on_worker(threaded_view, ui), RUN_DONE);

  // The same view calls in the same order; pauses happen on the worker instead.
  std::vector<std::string> expected = alone_view.events;
  std::erase(expected, "pause 100");
  EXPECT_EQ(threaded_view.events, expected);
  ASSERT_EQ(threaded_view.messages.size(), 1u);
  EXPECT_NE(threaded_view.messages[0].caption.find("blocked.txt"), std::string::npos);
  EXPECT_EQ(threaded_view.ended, 0);
  EXPECT_EQ(threaded_view.progress.back().done, threaded_view.progress.back().total);
  for (const char* file : {"a.txt", "sub/b.bin", "data.pak"})
    EXPECT_EQ(read_bytes(threaded / file), read_bytes(alone / file)) << file;
}

TEST_F(RunWorkerTest, CancelWhileTheRunWaitsForTheGameStopsItWithoutWriting) {
  const auto game = make_game("game");
  install_dir = game.string() + "\\";
  std::atomic<bool> asked{false};
  game_still_running = [&] {
    asked = true;
    return true;
  };
  RecordingView view;
  InterfaceThread ui;
  const int result = run_on_worker(view, ui, [&](RunWorker& worker) {
    while (!asked) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    worker.request_stop();
  });
  EXPECT_EQ(result, RUN_STOPPED);
  EXPECT_EQ(view.ended, -1);
  EXPECT_FALSE(std::filesystem::exists(game / "a.txt"));
}

}  // namespace
