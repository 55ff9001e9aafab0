// The terminal front end driven through streams, as a script drives it.

#include "app/terminal_view.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/program.h"
#include "app/update_run.h"
#include "tests/app/test_files.h"

namespace {

class TerminalViewTest : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    system_archive.close();
    install_ini.clear();
    update_ini.clear();
    install_dir.clear();
  }

  // Runs the dialog on the configuration with the given input; returns its result.
  int run(const std::string& config, const std::string& input) {
    update_ini.parse(config.data(), static_cast<std::int32_t>(config.size()));
    DialogHost host;
    host.windows_directory = [this] { return scratch.system_path(); };
    host.find_resource = [this](std::string_view name) -> std::optional<platform::ByteView> {
      if (name != "NOTE.TXT" || notes.empty()) return std::nullopt;
      return platform::ByteView(reinterpret_cast<const std::uint8_t*>(notes.data()), notes.size());
    };
    std::istringstream in(input);
    TerminalView view(in, out, false, false);
    return view.run(host);
  }

  ScratchDir scratch;
  std::string notes;
  std::ostringstream out;
};

TEST_F(TerminalViewTest, ShowsTitlePathNotesAndButtons) {
  notes = "\xA7\xF3\xB7\x73\xB6\xB7\xAA\xBE\r\n1.03\r\n;\xA5\x5C\xAF\xE0\r\n\r\n\r\n";
  EXPECT_EQ(run("[inst]\r\ndir=C:\\Game\r\n", "cancel\n"), -1);
  const std::string text = out.str();
  EXPECT_EQ(text.rfind("Updata\n", 0), 0u);
  EXPECT_NE(text.find("\n更新須知\n1.03\n;功能\n---"), std::string::npos) << text;
  EXPECT_NE(text.find("Path: C:\\Game\nButtons: [OK] [Cancel] [瀏覽]\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Cancelled."), std::string::npos);
}

TEST_F(TerminalViewTest, EndOfInputCancels) {
  EXPECT_EQ(run("[inst]\r\ndir=C:\\Game\r\n", ""), -1);
  EXPECT_EQ(run("[inst]\r\ndir=C:\\Game\r\n", "browse\n"), -1);
}

TEST_F(TerminalViewTest, OkWhileHiddenIsRefusedUntilABrowse) {
  // The game INI is missing, so OK is hidden.
  EXPECT_EQ(run("[inst]\r\nwin_ini=QRM.ini\r\n", "ok\n\nbrowse\n\ncancel\n"), -1);
  const std::string text = out.str();
  EXPECT_NE(text.find("Path: QRM.ini\nButtons: [Cancel] [瀏覽]\n"), std::string::npos) << text;
  const auto first_refusal = text.find("OK is not offered");
  ASSERT_NE(first_refusal, std::string::npos);
  EXPECT_NE(text.find("OK is not offered", first_refusal + 1), std::string::npos);
  // The cancelled browse shows the separator the opening appended, and OK.
  EXPECT_NE(text.find("Path: QRM.ini\\\nButtons: [OK] [Cancel] [瀏覽]\n"), std::string::npos) << text;
  EXPECT_EQ(install_dir, "QRM.ini\\");
}

TEST_F(TerminalViewTest, BrowsedFolderIsConvertedToTheSystemCodePage) {
  EXPECT_EQ(run("[inst]\r\ndir=C:\\Game\r\n", "browse\n/games/遊戲\ncancel\n"), -1);
  EXPECT_EQ(install_dir, "/games/\xB9\x43\xC0\xB8");
  EXPECT_NE(out.str().find("Path: /games/遊戲\n"), std::string::npos);
}

TEST_F(TerminalViewTest, UnknownCommandsAskAgain) {
  EXPECT_EQ(run("[inst]\r\ndir=C:\\Game\r\n", "install\nCANCEL\n"), -1);
  EXPECT_NE(out.str().find("Unknown command \"install\""), std::string::npos);
}

TEST_F(TerminalViewTest, ARunWithProblemsIsNeverReportedAsFinished) {
  PackageStandIn package;
  std::filesystem::create_directories(scratch.path() / "game");
  const std::string game = (scratch.path() / "game").string();
  struct Case {
    const char* what;
    std::string dir;
    const char* closing;
  };
  const Case cases[] = {
      {"a sound folder", game, "Update finished.\n"},
      {"a folder that does not exist", game + "-missing", "Update ended with 1 problem; see the messages above.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reset();
    out.str("");
    EXPECT_EQ(run("[inst]\r\ndir=" + c.dir + "\r\n", "ok\n"), 0);
    EXPECT_TRUE(out.str().ends_with(c.closing)) << out.str();
  }
}

TEST_F(TerminalViewTest, ProgressIsPlainLinesByTenthsWhenNotATerminal) {
  PackageStandIn package;
  std::map<std::string, std::string> files;
  for (int i = 0; i < 200; ++i) {
    // Appended, not "f" + std::to_string(i): GCC 12 at -O3 warns of an overlapping
    // copy inside that operator+ (-Wrestrict, a false positive) and the build stops.
    std::string name = "f";
    name.append(std::to_string(i)).append(".txt");
    files[name] = std::string(1000, 'x');
  }
  package.add("dll.pak", make_pack(files));
  std::filesystem::create_directories(scratch.path() / "game");
  EXPECT_EQ(run("[inst]\r\ndir=" + (scratch.path() / "game").string() + "\r\n", "ok\n"), 0);
  const std::string text = out.str();
  int lines = 0;
  for (std::size_t at = text.find("Progress "); at != std::string::npos; at = text.find("Progress ", at + 1)) ++lines;
  EXPECT_GE(lines, 3);
  EXPECT_LE(lines, 13) << text;  // a line per tenth and the merge count, not one per file
  EXPECT_NE(text.find("Progress 100% (0.2 of 0.2 MB) \xE6\x9B\xB4\xE6\x96\xB0\xE5\xAE\x8C\xE6\x88\x90\n"),
            std::string::npos)
      << text;
  EXPECT_TRUE(text.ends_with("Update finished.\n"));
}

TEST_F(TerminalViewTest, WhileTheGameRunsTheEndOfInputOrCancelStopsTheWait) {
  PackageStandIn package;
  package.add("dll.pak", make_pack({{"a.txt", "new a"}}));
  std::filesystem::create_directories(scratch.path() / "game");
  const std::string config = "[inst]\r\ndir=" + (scratch.path() / "game").string() + "\r\n";
  game_still_running = [] { return true; };
  struct Case {
    const char* what;
    std::string input;
  };
  const Case cases[] = {{"end of input", "ok\n"}, {"cancel", "ok\nwait\ncancel\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reset();
    out.str("");
    EXPECT_EQ(run(config, c.input), -1);
    EXPECT_TRUE(out.str().ends_with("Cancelled.\n")) << out.str();
    EXPECT_FALSE(std::filesystem::exists(scratch.path() / "game" / "a.txt"));
  }
  game_still_running = [] { return false; };
}

}  // namespace
