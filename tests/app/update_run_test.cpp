// The update run: which merge packs are counted, what the progress bar shows, and
// what lands on disk with real packs.

#include "app/update_run.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/resource.h"
#include "app/run_messages.h"
#include "app/update_dialog.h"
#include "pak/write_messages.h"
#include "platform/files.h"
#include "tests/app/recording_view.h"
#include "tests/app/test_files.h"

namespace {

// Runs in a scratch folder with a stand-in for the update package. Packs of the same
// names in the current folder must never be taken for the package's.
class UpdateRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_dir = std::filesystem::current_path();
    std::filesystem::current_path(scratch.path());
    game_still_running = [] { return false; };
    update_ini.clear();
    install_dir = (scratch.path() / "game").string() + "\\";
    std::filesystem::create_directories(scratch.path() / "game");
  }
  void TearDown() override {
    game_still_running = [] { return false; };
    std::filesystem::current_path(previous_dir);
    update_ini.clear();
    install_dir.clear();
    pack_path.clear();
  }

  void configure(const std::string& text) { update_ini.parse(text.data(), static_cast<std::int32_t>(text.size())); }

  // Entries of the pack file, read back through a PakArchive.
  std::string entry_of(const std::filesystem::path& pack, const std::string& name) {
    std::string base = pack.string();
    base.resize(base.size() - 4);  // without ".pak"
    PakArchive archive;
    archive.open(base.c_str(), 5, 0);
    if (!archive.is_open) return "<no pack>";
    if (!archive.find_record(name.c_str())) return "<missing>";
    EntrySlot* slot = archive.load_entry(name.c_str());
    if (!slot) return "<unreadable>";
    std::string bytes(reinterpret_cast<const char*>(slot->data), static_cast<std::size_t>(slot->size));
    archive.release_entry(slot);
    return bytes;
  }

  ScratchDir scratch;
  std::filesystem::path previous_dir;
  RecordingView view;
  PackageStandIn package;
};

TEST_F(UpdateRunTest, CountsPackSectionsUpToTheFirstWithoutName) {
  struct Case {
    const char* what;
    std::string config;
    int count;
  };
  const Case cases[] = {
      {"no pack section", "[inst]\r\ndir=C:\\Game\r\n", 0},
      {"gap after pack0", "[pack0]\r\nname=a\r\n[pack2]\r\nname=c\r\n", 1},
      {"pack0 without name", "[pack0]\r\nfile=a\r\n[pack1]\r\nname=b\r\n", 0},
      {"three packs", "[pack0]\r\nname=a\r\n[pack1]\r\nname=b\r\n[pack2]\r\nname=c\r\n", 3},
      {"numbers are decimal without leading zeros", "[pack00]\r\nname=a\r\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    update_ini.clear();
    configure(c.config);
    EXPECT_EQ(merge_pack_names().size(), std::size_t(c.count));
    // Counting adds nothing to the store.
    EXPECT_EQ(update_ini.get("[pack0]", "name", nullptr) == nullptr, c.count == 0);
  }
}

TEST_F(UpdateRunTest, ProgressMovesOncePerMergeWithAPause) {
  for (const char* name : {"a.pak", "b.pak", "c.pak"}) package.add(name, make_pack({}));
  configure("[pack0]\r\nname=a\r\n[pack1]\r\nname=b\r\n[pack2]\r\nname=c\r\n");
  EXPECT_EQ(run_update(view), 0);
  const std::vector<std::string> expected = {"range 0..3", "position 1", "pause 100", "position 2",
                                             "pause 100",  "position 3", "pause 100"};
  EXPECT_EQ(view.events, expected);
}

TEST_F(UpdateRunTest, WithoutMergePacksOnlyTheRangeIsSet) {
  configure("[inst]\r\ndir=C:\\Game\r\n");
  run_update(view);
  EXPECT_EQ(view.events, std::vector<std::string>{"range 0..0"});
}

TEST_F(UpdateRunTest, OkRunsTheUpdateThenEndsWithZero) {
  package.add("a.pak", make_pack({}));
  configure("[inst]\r\ndir=C:\\Game\r\n[pack0]\r\nname=a\r\n");
  update_dialog_command(view, IDOK);
  const std::vector<std::string> expected = {"hide 1004",  "show 1001", "show 1002", "range 0..1",
                                             "position 1", "pause 100", "end 0"};
  EXPECT_EQ(view.events, expected);
}

TEST_F(UpdateRunTest, WritesThePayloadAndMergesIntoTheGamePack) {
  package.add("DLL.PAK", make_pack({{"readme.txt", "payload readme"}, {"bin\\tool.dat", "tool bytes"}}));
  package.add("data.pak", make_pack({{"a.txt", "new a"}, {"maps\\new.map", "new map"}}));
  write_bytes(scratch.path() / "game" / "data.pak", make_pack({{"a.txt", "old a"}, {"keep.txt", "kept"}}));
  configure("[inst]\r\ndir=C:\\Game\r\n[pack0]\r\nname=data\r\n");

  run_update(view);

  EXPECT_EQ(read_bytes(scratch.path() / "game" / "readme.txt"), "payload readme");
  EXPECT_EQ(read_bytes(scratch.path() / "game" / "bin" / "tool.dat"), "tool bytes");
  const auto game_pack = scratch.path() / "game" / "data.pak";
  EXPECT_EQ(entry_of(game_pack, "a.txt"), "new a");
  EXPECT_EQ(entry_of(game_pack, "keep.txt"), "kept");
  EXPECT_EQ(entry_of(game_pack, "maps\\new.map"), "new map");
  EXPECT_EQ(pack_path, (scratch.path() / "game").string() + "\\data");
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(UpdateRunTest, WithoutAGamePackTheMergeWritesLooseFiles) {
  package.add("data.pak", make_pack({{"a.txt", "new a"}, {"maps\\new.map", "new map"}}));
  configure("[pack0]\r\nname=data\r\n");

  run_update(view);

  EXPECT_EQ(read_bytes(scratch.path() / "game" / "data" / "a.txt"), "new a");
  EXPECT_EQ(read_bytes(scratch.path() / "game" / "data" / "maps" / "new.map"), "new map");
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "game" / "data.pak"));
}

TEST_F(UpdateRunTest, ThePayloadIsWrittenBeforeTheMergesOpenTheirTargets) {
  // The payload brings the game pack itself; the merge then finds it and rebuilds it.
  package.add("dll.pak", make_pack({{"data.pak", make_pack({{"old.txt", "old"}})}}));
  package.add("data.pak", make_pack({{"new.txt", "new"}}));
  configure("[pack0]\r\nname=data\r\n");

  run_update(view);

  const auto game_pack = scratch.path() / "game" / "data.pak";
  EXPECT_EQ(entry_of(game_pack, "old.txt"), "old");
  EXPECT_EQ(entry_of(game_pack, "new.txt"), "new");
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "game" / "data"));
}

TEST_F(UpdateRunTest, WhatStandsInAFilesWayIsNamedAsSuch) {
  const auto game = scratch.path() / "game";
  struct Case {
    const char* what;
    std::string entry;
    std::function<void()> plant;
    const char* text;
  };
  const Case cases[] = {
      {"a folder where the file should be", "blocked.txt",
       [&] { std::filesystem::create_directories(game / "blocked.txt" / "inside"); }, pak::FOLDER_IN_WAY_TEXT},
      {"a file where a folder should be", "bin\\tool.dat", [&] { write_bytes(game / "bin", "stray"); },
       pak::FILE_IN_WAY_TEXT},
#ifndef _WIN32
      {"a link where the file should be", "linked.txt",
       [&] { std::filesystem::create_symlink(scratch.path() / "elsewhere", game / "linked.txt"); },
       pak::LINK_IN_WAY_TEXT},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(game);
    std::filesystem::create_directories(game);
    c.plant();
    package.add("dll.pak", make_pack({{c.entry, "x"}}));
    RecordingView run;
    run_update(run);
    ASSERT_EQ(run.messages.size(), 1u);
    EXPECT_EQ(run.messages[0].text, c.text);
    EXPECT_EQ(run.messages[0].caption, game.string() + "\\" + c.entry);
  }
}

TEST_F(UpdateRunTest, AFileThatCannotBeWrittenGoesToTheMessageBoxAndTheRunGoesOn) {
  package.add("dll.pak", make_pack({{"blocked.txt", "x"}, {"free.txt", "written"}}));
  // A folder where the file should go: it can be neither created nor replaced.
  std::filesystem::create_directories(scratch.path() / "game" / "blocked.txt" / "inside");
  configure("[inst]\r\n");

  run_update(view);

  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].caption.find("blocked.txt"), std::string::npos);
  EXPECT_FALSE(view.messages[0].text.empty());
  EXPECT_EQ(read_bytes(scratch.path() / "game" / "free.txt"), "written");
}

// Every name below the folder, recursively, "/" between levels.
std::set<std::string> tree_of(const std::filesystem::path& folder) {
  std::set<std::string> names;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
    names.insert(it->path().lexically_relative(folder).generic_string());
  return names;
}

TEST_F(UpdateRunTest, RefusesAnInstallFolderItCannotTrustAndWritesNothing) {
  const std::string probe = "pakupdate-refusal-probe.txt";
  package.add("dll.pak", make_pack({{probe, "x"}}));
  write_bytes(scratch.path() / "a-file", "not a folder");
  const std::string root = scratch.path().root_path().string();
  struct Case {
    const char* what;
    std::string dir;
    const char* text;
  };
  const Case cases[] = {
      {"empty, as the opening leaves it", "\\", FOLDER_REFUSED_TEXT},
      {"empty", "", FOLDER_REFUSED_TEXT},
      {"the file system root", root, FOLDER_REFUSED_TEXT},
      {"a drive root", "C:\\", FOLDER_REFUSED_TEXT},
      {"a drive root without separator", "d:", FOLDER_REFUSED_TEXT},
      {"a folder that does not exist", (scratch.path() / "none").string() + "\\", FOLDER_MISSING_TEXT},
      {"a file", (scratch.path() / "a-file").string(), FOLDER_MISSING_TEXT},
      {"a path too long for the files below it", (scratch.path() / std::string(250, 'x')).string(),
       FOLDER_TOO_LONG_TEXT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingView refused;
    install_dir = c.dir;
    configure("[inst]\r\n");
    EXPECT_EQ(run_update(refused), 0);
    ASSERT_EQ(refused.messages.size(), 1u);
    EXPECT_EQ(refused.messages[0].text, c.text);
    EXPECT_EQ(refused.messages[0].caption, c.dir);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(root) / probe));
    EXPECT_FALSE(std::filesystem::exists(scratch.path() / probe));
  }
  EXPECT_EQ(tree_of(scratch.path()), (std::set<std::string>{"a-file", "game"}));
}

TEST_F(UpdateRunTest, AMergePackNameIsOnePlainFileName) {
  package.add("dll.pak", make_pack({{"probe.txt", "x"}}));
  const std::string victim = make_pack({{"v.txt", "victim"}});
  write_bytes(scratch.path() / "victim.pak", victim);
  const std::string names[] = {"..\\..\\escaped", "..\\victim", "sub\\data", "x/y", "CON", "", "a:b", "data "};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    package.add(name + ".pak", make_pack({{"e.txt", "merged"}}));
    RecordingView refused;
    update_ini.clear();
    configure("[pack0]\r\nname=" + name + "\r\n");
    run_update(refused);
    ASSERT_EQ(refused.messages.size(), 1u);
    EXPECT_EQ(refused.messages[0].text, PACKAGE_DAMAGED_TEXT);
    EXPECT_NE(refused.messages[0].caption.find("[pack0]"), std::string::npos);
  }
  EXPECT_EQ(read_bytes(scratch.path() / "victim.pak"), victim);
  EXPECT_EQ(tree_of(scratch.path()), (std::set<std::string>{"game", "victim.pak"}));
}

TEST_F(UpdateRunTest, PacksComeFromThePackageOnly) {
  // Packs of the package's names in the current folder are strangers.
  write_bytes(scratch.path() / "dll.pak", make_pack({{"stray.txt", "x"}}));
  write_bytes(scratch.path() / "data.pak", make_pack({{"stray.txt", "x"}}));
  configure("[pack0]\r\nname=data\r\n");
  run_update(view);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, PACKAGE_DAMAGED_TEXT);
  EXPECT_EQ(view.messages[0].caption, "data.pak");
  EXPECT_TRUE(tree_of(scratch.path() / "game").empty());

  package.add("data.pak", make_pack({{"e.txt", "merged"}}));
  RecordingView second;
  run_update(second);
  EXPECT_TRUE(second.messages.empty());
  EXPECT_EQ(tree_of(scratch.path() / "game"), (std::set<std::string>{"data", "data/e.txt"}));
}

TEST_F(UpdateRunTest, DamagedPacksAreReportedNotTakenForEmpty) {
  std::string damaged = make_pack({{"a.txt", "a"}});
  damaged[0] = '\x7F';  // a root table far past the end
  {
    SCOPED_TRACE("the payload");
    package.add("dll.pak", damaged);
    run_update(view);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, PACKAGE_DAMAGED_TEXT);
    EXPECT_TRUE(tree_of(scratch.path() / "game").empty());
  }
  {
    SCOPED_TRACE("the game's pack");
    package.add("dll.pak", make_pack({{"p.txt", "payload"}}));
    package.add("data.pak", make_pack({{"e.txt", "merged"}}));
    write_bytes(scratch.path() / "game" / "data.pak", damaged);
    configure("[pack0]\r\nname=data\r\n");
    RecordingView run;
    run_update(run);
    ASSERT_EQ(run.messages.size(), 1u);
    EXPECT_EQ(run.messages[0].text, GAME_PACK_UNREADABLE_TEXT);
    EXPECT_EQ(run.messages[0].caption, pack_path + ".pak");
    // Not written as loose files instead, and the pack left as it was.
    EXPECT_EQ(tree_of(scratch.path() / "game"), (std::set<std::string>{"data.pak", "p.txt"}));
    EXPECT_EQ(read_bytes(scratch.path() / "game" / "data.pak"), damaged);
  }
}

TEST_F(UpdateRunTest, AGamePackPathTooLongStopsThatMergeOnly) {
  // The folder fits, the pack's base path does not.
  const std::string long_name(220 - scratch.path().string().size(), 'g');
  std::filesystem::create_directories(scratch.path() / long_name);
  install_dir = (scratch.path() / long_name).string() + "\\";
  const std::string pack_name = "data_long_name_" + std::string(25, 'x');
  package.add("dll.pak", make_pack({{"p.txt", "payload"}}));
  package.add(pack_name + ".pak", make_pack({{"e.txt", "merged"}}));
  configure("[pack0]\r\nname=" + pack_name + "\r\n");
  run_update(view);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, GAME_PACK_UNREADABLE_TEXT);
  EXPECT_EQ(tree_of(scratch.path() / long_name), (std::set<std::string>{"p.txt"}));
  EXPECT_FALSE(std::filesystem::exists(scratch.path().root_path() / "e.txt"));
}

TEST_F(UpdateRunTest, ASiblingPackNamedAfterTheFolderIsLeftAlone) {
  // As the folder browser leaves it: no trailing separator.
  install_dir = (scratch.path() / "game").string();
  const std::string sibling = make_pack({{"x.txt", "sibling"}});
  write_bytes(scratch.path() / "game.pak", sibling);
  package.add("dll.pak", make_pack({{"p.txt", "payload"}}));
  run_update(view);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(read_bytes(scratch.path() / "game.pak"), sibling);
  EXPECT_EQ(read_bytes(scratch.path() / "game" / "p.txt"), "payload");
}

#ifndef _WIN32
TEST_F(UpdateRunTest, AFolderEndingInATrailByteIsTheFolderItself) {
  // 許 is B3 5C: its trail byte is no separator.
  const auto folder = scratch.path() / "out\xE8\xA8\xB1";
  const std::string old_pack = make_pack({{"old.txt", "old"}});
  write_bytes(folder / "data.pak", old_pack);
  install_dir = scratch.path().string() + "/out\xB3\x5C";
  package.add("dll.pak", make_pack({{"p.txt", "payload"}}));
  package.add("data.pak", make_pack({{"new.txt", "new"}}));
  configure("[pack0]\r\nname=data\r\n");
  run_update(view);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(entry_of(folder / "data.pak", "new.txt"), "new");
  EXPECT_EQ(entry_of(folder / "data.pak", "old.txt"), "old");
  EXPECT_EQ(read_bytes(folder / "p.txt"), "payload");
  EXPECT_EQ(tree_of(scratch.path()),
            (std::set<std::string>{"game", "out\xE8\xA8\xB1", "out\xE8\xA8\xB1/data.pak", "out\xE8\xA8\xB1/p.txt"}));
}

mode_t mode_of(const std::filesystem::path& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST_F(UpdateRunTest, NothingIsWrittenThroughALink) {
  namespace fs = std::filesystem;
  const fs::path outside = scratch.path() / "outside";
  const fs::path game = scratch.path() / "game";
  const std::string outside_pack = make_pack({{"old.txt", "old"}});
  write_bytes(outside / "data.pak", outside_pack);
  write_bytes(outside / "target.txt", "outside");
  ::chmod((outside / "target.txt").c_str(), 0640);
  fs::create_directory_symlink(outside, game / "sub");
  fs::create_symlink(outside / "target.txt", game / "readme.txt");
  fs::create_symlink(outside / "data.pak", game / "data.pak");
  package.add("dll.pak", make_pack({{"sub\\new.txt", "x"}, {"readme.txt", "y"}, {"free.txt", "z"}}));
  package.add("data.pak", make_pack({{"e.txt", "merged"}}));
  configure("[pack0]\r\nname=data\r\n");

  run_update(view);

  ASSERT_EQ(view.messages.size(), 3u);
  std::set<std::string> refused;
  for (const auto& message : view.messages) refused.insert(message.caption);
  EXPECT_EQ(view.messages[0].text, pak::LINK_IN_WAY_TEXT);
  EXPECT_EQ(view.messages[1].text, pak::LINK_IN_WAY_TEXT);
  EXPECT_EQ(view.messages[2].text, GAME_PACK_UNREADABLE_TEXT);
  EXPECT_EQ(tree_of(outside), (std::set<std::string>{"data.pak", "target.txt"}));
  EXPECT_EQ(read_bytes(outside / "data.pak"), outside_pack);
  EXPECT_EQ(read_bytes(outside / "target.txt"), "outside");
  EXPECT_EQ(mode_of(outside / "target.txt"), 0640u);
  EXPECT_EQ(read_bytes(game / "free.txt"), "z");
  EXPECT_TRUE(fs::is_symlink(game / "readme.txt"));
}

TEST_F(UpdateRunTest, ReplacedFilesKeepTheirPermissionsWithoutSetIds) {
  const auto game = scratch.path() / "game";
  write_bytes(game / "tool", "old tool");
  ::chmod((game / "tool").c_str(), 04755);
  write_bytes(game / "data.pak", make_pack({{"old.txt", "old"}}));
  ::chmod((game / "data.pak").c_str(), 0600);
  package.add("dll.pak", make_pack({{"tool", "new tool"}, {"fresh", "new file"}}));
  package.add("data.pak", make_pack({{"new.txt", "new"}}));
  configure("[pack0]\r\nname=data\r\n");
  run_update(view);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(read_bytes(game / "tool"), "new tool");
  EXPECT_EQ(mode_of(game / "tool"), 0755u);
  EXPECT_EQ(entry_of(game / "data.pak", "new.txt"), "new");
  EXPECT_EQ(mode_of(game / "data.pak"), 0600u);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(mode_of(game / "fresh"), 0666u & ~mask);
}
#endif

TEST_F(UpdateRunTest, ProgressCountsBytesToTheEndAndSaysWhatIsWritten) {
  const std::string big(200000, 'b');
  package.add("dll.pak", make_pack({{"a.txt", "payload a"}, {"sub\\big.bin", big}}));
  package.add("data.pak", make_pack({{"new.txt", "new"}}));
  write_bytes(scratch.path() / "game" / "data.pak", make_pack({{"old.txt", std::string(5000, 'o')}}));
  configure("[pack0]\r\nname=data\r\n");
  run_update(view);
  EXPECT_TRUE(view.messages.empty());
  ASSERT_FALSE(view.progress.empty());
  std::uint64_t last = 0;
  std::set<std::string> activities;
  for (const auto& step : view.progress) {
    EXPECT_GE(step.done, last);
    EXPECT_LE(step.done, step.total);
    last = step.done;
    activities.insert(step.activity);
  }
  EXPECT_EQ(view.progress.back().done, view.progress.back().total);
  EXPECT_GE(view.progress.back().total, big.size() + 5000);
  EXPECT_EQ(view.progress.back().activity, RUN_DONE_TEXT);
  const std::string game = (scratch.path() / "game").string();
  // One separator between the folder and the file, as on disk.
  EXPECT_EQ(activities.count(std::string(WRITING_TEXT) + game + "\\sub\\big.bin"), 1u);
  EXPECT_EQ(activities.count(std::string(MERGING_TEXT) + game + "\\data.pak"), 1u);
}

// A stand-in for the game's window that goes away after some looks.
struct GameWindow {
  int looks_left;
  std::filesystem::path game;
  bool wrote_while_running = false;
  bool operator()() {
    if (looks_left == 0) return false;
    --looks_left;
    if (!tree_of(game).empty()) wrote_while_running = true;
    return true;
  }
};

TEST_F(UpdateRunTest, WaitsForTheGameToCloseBeforeWritingAnything) {
  package.add("dll.pak", make_pack({{"a.txt", "payload a"}}));
  GameWindow window{3, scratch.path() / "game"};
  game_still_running = std::ref(window);
  EXPECT_EQ(run_update(view), RUN_DONE);
  game_still_running = [] { return false; };
  EXPECT_FALSE(window.wrote_while_running);
  EXPECT_EQ(window.looks_left, 0);
  EXPECT_EQ(view.events, (std::vector<std::string>{"range 0..0", "pause 250", "pause 250", "pause 250"}));
  ASSERT_FALSE(view.progress.empty());
  EXPECT_EQ(view.progress.front().activity, GAME_RUNNING_TEXT);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(read_bytes(scratch.path() / "game" / "a.txt"), "payload a");
}

TEST_F(UpdateRunTest, CancelWhileWaitingForTheGameWritesNothing) {
  package.add("dll.pak", make_pack({{"a.txt", "payload a"}}));
  game_still_running = [] { return true; };
  view.stop = true;
  update_dialog_command(view, IDOK);
  game_still_running = [] { return false; };
  EXPECT_EQ(view.ended, -1);
  EXPECT_TRUE(tree_of(scratch.path() / "game").empty());
}

TEST(PackHelper, LaysOutThePackAsThePackWriterDoes) {
  const std::string pack = make_pack({{"alpha.bin", std::string(10, 'a')}, {"sub\\beta.bin", std::string(5, 'b')}});
  ASSERT_EQ(pack.size(), 203u);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(pack.data());
  EXPECT_EQ(load_u32(bytes), 3u);
  EXPECT_EQ(load_u32(bytes + 4), 112u);
  EXPECT_EQ(load_u32(bytes + 40), 122u);
  EXPECT_EQ(load_u32(bytes + 76), 203u);
  EXPECT_EQ(load_u32(bytes + 126), 198u);
  EXPECT_EQ(pack.substr(130, 9), std::string("beta.bin\0", 9));
}

}  // namespace

namespace {

class RemovalRunTest : public UpdateRunTest {};

TEST_F(RemovalRunTest, EntriesLeaveInTheMergeRebuildAndLooseFilesAfterThePayload) {
  const auto game = scratch.path() / "game";
  package.add("dll.pak", make_pack({{"new.txt", "new"}}));
  package.add("data.pak", make_pack({{"a.txt", "new a"}}));
  write_bytes(game / "data.pak", make_pack({{"a.txt", "old a"}, {"gone.txt", "g"}, {"old\\x.txt", "x"}}));
  write_bytes(game / "sound.pak", make_pack({{"s1", "1"}, {"s2", "2"}}));
  write_bytes(game / "gone.txt", "g");
  write_bytes(game / "olddir" / "f.txt", "f");
  write_bytes(game / "kept" / "mine.txt", "the user's");
  configure(
      "[inst]\r\n[pack0]\r\nname=data\r\n"
      "[remove]\r\nfile=gone.txt\r\nfile=olddir\\f.txt\r\nfile=missing.txt\r\ndir=olddir\r\ndir=kept\r\n"
      "[remove_pack0]\r\nname=data\r\nentry=gone.txt\r\nentry=old\\\r\nentry=not_there.txt\r\n"
      "[remove_pack1]\r\nname=sound\r\nentry=s1\r\n");

  run_update(view);

  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(read_bytes(game / "new.txt"), "new");
  EXPECT_EQ(entry_of(game / "data.pak", "a.txt"), "new a");
  EXPECT_EQ(entry_of(game / "data.pak", "gone.txt"), "<missing>");
  EXPECT_EQ(entry_of(game / "data.pak", "old\\x.txt"), "<missing>");
  EXPECT_EQ(entry_of(game / "data.pak", "old\\"), "<missing>");
  // A pack with removals only is rebuilt too, and counts on the progress bar.
  EXPECT_EQ(entry_of(game / "sound.pak", "s1"), "<missing>");
  EXPECT_EQ(entry_of(game / "sound.pak", "s2"), "2");
  ASSERT_FALSE(view.events.empty());
  EXPECT_EQ(view.events.front(), "range 0..2");
  EXPECT_FALSE(std::filesystem::exists(game / "gone.txt"));
  EXPECT_FALSE(std::filesystem::exists(game / "olddir"));
  // A listed folder that still holds something stays, with what it holds.
  EXPECT_EQ(read_bytes(game / "kept" / "mine.txt"), "the user's");
  EXPECT_EQ(tree_of(game), (std::set<std::string>{"new.txt", "data.pak", "sound.pak", "kept", "kept/mine.txt"}));
}

TEST_F(RemovalRunTest, AFolderWhereAFileIsToBeDeletedIsNamedAsSuch) {
  const auto game = scratch.path() / "game";
  std::filesystem::create_directories(game / "stuck.txt" / "inside");  // a folder: no file to delete
  write_bytes(game / "free.txt", "f");
  configure("[inst]\r\n[remove]\r\nfile=stuck.txt\r\nfile=free.txt\r\n");

  run_update(view);

  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, pak::FOLDER_IN_WAY_TEXT);
  EXPECT_EQ(view.messages[0].caption, game.string() + "\\stuck.txt");
  EXPECT_FALSE(std::filesystem::exists(game / "free.txt"));
}

TEST_F(RemovalRunTest, AnUnsafeRecordRefusesThePackageBeforeAnythingIsWritten) {
  const auto game = scratch.path() / "game";
  package.add("dll.pak", make_pack({{"new.txt", "new"}}));
  write_bytes(scratch.path() / "outside.txt", "o");
  configure("[inst]\r\n[remove]\r\nfile=..\\outside.txt\r\n");

  run_update(view);

  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, PACKAGE_DAMAGED_TEXT);
  EXPECT_TRUE(tree_of(game).empty());
  EXPECT_EQ(read_bytes(scratch.path() / "outside.txt"), "o");
}

// Seconds that a run takes on a configuration of sections [remove_pack0] to
// [remove_pack{count - 1}], each naming its own pack, none of them present.
double seconds_for_removal_packs(RecordingView& view, int count) {
  std::string text = "[inst]\r\n";
  for (int n = 0; n < count; ++n)
    text += "[remove_pack" + std::to_string(n) + "]\r\nname=p" + std::to_string(n) + "\r\nentry=e.txt\r\n";
  update_ini.clear();
  update_ini.parse(text.data(), std::int32_t(text.size()));
  const auto start = std::chrono::steady_clock::now();
  run_update(view);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(RemovalRunTest, ManyRemovalPacksTakeTimeInProportionToTheirNumber) {
  RecordingView small, large;
  const double small_seconds = seconds_for_removal_packs(small, 10000);
  const double large_seconds = seconds_for_removal_packs(large, 80000);
  EXPECT_TRUE(small.messages.empty());
  EXPECT_TRUE(large.messages.empty());
  std::printf("removal packs: 10,000 in %.2f s, 80,000 in %.2f s\n", small_seconds, large_seconds);
  // Eight times the sections: about eight times the time, not sixty-four.
  EXPECT_LT(large_seconds, 20 * small_seconds + 0.5);
}

TEST_F(RemovalRunTest, RemovalSectionsAreNoMergePacks) {
  configure("[remove_pack0]\r\nname=data\r\n[pack1]\r\nname=x\r\n");
  EXPECT_TRUE(merge_pack_names().empty());
}

}  // namespace

namespace {

// A package that turns the game pack "old" into loose files and moves the loose file
// "loose.txt" into the game pack "data", on a game folder that has both.
class RemovalAfterFailureTest : public UpdateRunTest {
 protected:
  void SetUp() override {
    UpdateRunTest::SetUp();
    package.add("dll.pak", make_pack({{"old\\a.txt", "a from the old pack"}, {"bin\\tool.dat", "tool"}}));
    package.add("data.pak", make_pack({{"loose.txt", "now in the pack"}}));
    write_bytes(game() / "old.pak", old_pack);
    write_bytes(game() / "loose.txt", "loose");
    write_bytes(game() / "data.pak", data_pack);
    configure(
        "[pack0]\r\nname=data\r\n"
        "[remove]\r\nfile=old.pak\r\nfile=loose.txt\r\n"
        "[remove_pack0]\r\nname=data\r\nentry=gone.txt\r\n");
  }
  std::filesystem::path game() const { return scratch.path() / "game"; }

  const std::string old_pack = make_pack({{"a.txt", "a"}});
  const std::string data_pack = make_pack({{"gone.txt", "g"}, {"kept.txt", "k"}});
};

TEST_F(RemovalAfterFailureTest, RemovalsWaitForEveryWriteBeforeThem) {
  struct Case {
    const char* what;
    std::function<void()> fault;
    std::function<void()> repair;
  };
  const Case cases[] = {
      {"a payload file on a full disk", [] { platform::inject_write_failure_after(5); },
       [] { platform::inject_write_failure_after(-1); }},
      {"a stray file where the payload expects a folder", [&] { write_bytes(game() / "bin", "stray"); },
       [&] { std::filesystem::remove(game() / "bin"); }},
      {"the merge's rebuild on a full disk",
       // The payload's files are written whole, then the rebuilt pack runs out of room.
       [] { platform::inject_write_failure_after(std::int64_t(std::string("a from the old pack").size() + 4 + 20)); },
       [] { platform::inject_write_failure_after(-1); }},
      {"a damaged game pack", [&] { write_bytes(game() / "data.pak", "\x7F damaged"); },
       [&] { write_bytes(game() / "data.pak", data_pack); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(game() / "old");
    std::filesystem::remove_all(game() / "bin");
    write_bytes(game() / "old.pak", old_pack);
    write_bytes(game() / "loose.txt", "loose");
    write_bytes(game() / "data.pak", data_pack);
    RecordingView failed;
    c.fault();
    run_update(failed);
    c.repair();
    ASSERT_GE(failed.messages.size(), 2u);
    EXPECT_EQ(failed.messages.back().text, REMOVALS_NOT_DONE_TEXT);
    // The old files and entries stay.
    EXPECT_EQ(read_bytes(game() / "old.pak"), old_pack);
    EXPECT_EQ(read_bytes(game() / "loose.txt"), "loose");
    EXPECT_NE(entry_of(game() / "data.pak", "gone.txt"), "<missing>");
    ASSERT_FALSE(failed.progress.empty());
    EXPECT_EQ(failed.progress.back().activity, RUN_INCOMPLETE_TEXT + std::to_string(failed.messages.size()));

    // Run again once the cause is gone: everything is written, then removed.
    RecordingView again;
    run_update(again);
    EXPECT_TRUE(again.messages.empty());
    EXPECT_FALSE(std::filesystem::exists(game() / "old.pak"));
    EXPECT_FALSE(std::filesystem::exists(game() / "loose.txt"));
    EXPECT_EQ(read_bytes(game() / "old" / "a.txt"), "a from the old pack");
    EXPECT_EQ(entry_of(game() / "data.pak", "loose.txt"), "now in the pack");
    EXPECT_EQ(entry_of(game() / "data.pak", "gone.txt"), "<missing>");
    EXPECT_EQ(entry_of(game() / "data.pak", "kept.txt"), "k");
    ASSERT_FALSE(again.progress.empty());
    EXPECT_EQ(again.progress.back().activity, RUN_DONE_TEXT);
  }
}

}  // namespace
