// The game window query on POSIX, against a stand-in wmctrl on the PATH: its listing
// is read, and a query that never answers is given up in bounded time.

#include "platform/system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

class WindowQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() / ("pakupdate-wmctrl-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(folder_);
    const char* path = std::getenv("PATH");
    const char* display = std::getenv("DISPLAY");
    saved_path_ = path ? path : "";
    saved_display_ = display ? std::optional<std::string>(display) : std::nullopt;
    ::setenv("PATH", (folder_.string() + ":" + saved_path_).c_str(), 1);
    ::setenv("DISPLAY", ":97", 1);
  }
  void TearDown() override {
    ::setenv("PATH", saved_path_.c_str(), 1);
    if (saved_display_)
      ::setenv("DISPLAY", saved_display_->c_str(), 1);
    else
      ::unsetenv("DISPLAY");
    std::filesystem::remove_all(folder_);
  }
  // A wmctrl that runs this shell script.
  void stand_in(const std::string& script) {
    const auto file = folder_ / "wmctrl";
    std::ofstream(file) << "#!/bin/sh\n" << script << "\n";
    ::chmod(file.c_str(), 0755);
  }

  std::filesystem::path folder_;
  std::string saved_path_;
  std::optional<std::string> saved_display_;
};

TEST_F(WindowQueryTest, FindsTheGameByItsWindowClass) {
  struct Case {
    const char* what;
    std::string listing;
    bool found;
  };
  const Case cases[] = {
      {"the game's window", "0x01 0 game.TOVENCLASS host Game\n", true},
      {"other windows", "0x01 0 xterm.XTerm host term\n0x02 0 a.TOVENCLASSX host x\n", false},
      {"no windows", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    stand_in("printf '" + c.listing + "'");
    EXPECT_EQ(platform::game_window_exists("TOVENCLASS"), c.found);
  }
}

TEST_F(WindowQueryTest, AQueryThatNeverAnswersIsGivenUpAndCountsAsTheGameRunning) {
  stand_in("exec sleep 60");
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(platform::game_window_exists("TOVENCLASS"));
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_LT(took, std::chrono::milliseconds(platform::WINDOW_QUERY_LIMIT_MS + 1000));
  EXPECT_GE(took, std::chrono::milliseconds(platform::WINDOW_QUERY_LIMIT_MS - 100));
}

}  // namespace
