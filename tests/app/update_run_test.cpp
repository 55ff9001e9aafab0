// The update run: which merge packs are counted, what the progress bar shows, and
// what lands on disk with real packs.

#include "app/update_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/resource.h"
#include "app/update_dialog.h"
#include "tests/app/recording_view.h"
#include "tests/app/test_files.h"

namespace {

// Runs in a scratch folder, which is also where the packs named by the run are
// looked for when the test program carries none.
class UpdateRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_dir = std::filesystem::current_path();
    std::filesystem::current_path(scratch.path());
    update_ini.clear();
    install_dir = (scratch.path() / "game").string() + "\\";
    std::filesystem::create_directories(scratch.path() / "game");
  }
  void TearDown() override {
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
    EXPECT_EQ(count_merge_packs(), c.count);
    // Counting adds nothing to the store.
    EXPECT_EQ(update_ini.get("[pack0]", "name", nullptr) == nullptr, c.count == 0);
  }
}

TEST_F(UpdateRunTest, ProgressMovesOncePerMergeWithAPause) {
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
  configure("[inst]\r\ndir=C:\\Game\r\n[pack0]\r\nname=a\r\n");
  update_dialog_command(view, IDOK);
  const std::vector<std::string> expected = {"hide 1004",  "show 1001", "show 1002", "range 0..1",
                                             "position 1", "pause 100", "end 0"};
  EXPECT_EQ(view.events, expected);
}

TEST_F(UpdateRunTest, WritesThePayloadAndMergesIntoTheGamePack) {
  write_bytes(scratch.path() / "dll.pak",
              make_pack({{"readme.txt", "payload readme"}, {"bin\\tool.dat", "tool bytes"}}));
  write_bytes(scratch.path() / "data.pak", make_pack({{"a.txt", "new a"}, {"maps\\new.map", "new map"}}));
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
  write_bytes(scratch.path() / "data.pak", make_pack({{"a.txt", "new a"}, {"maps\\new.map", "new map"}}));
  configure("[pack0]\r\nname=data\r\n");

  run_update(view);

  EXPECT_EQ(read_bytes(scratch.path() / "game" / "data" / "a.txt"), "new a");
  EXPECT_EQ(read_bytes(scratch.path() / "game" / "data" / "maps" / "new.map"), "new map");
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "game" / "data.pak"));
}

TEST_F(UpdateRunTest, ThePayloadIsWrittenBeforeTheMergesOpenTheirTargets) {
  // The payload brings the game pack itself; the merge then finds it and rebuilds it.
  write_bytes(scratch.path() / "dll.pak", make_pack({{"data.pak", make_pack({{"old.txt", "old"}})}}));
  write_bytes(scratch.path() / "data.pak", make_pack({{"new.txt", "new"}}));
  configure("[pack0]\r\nname=data\r\n");

  run_update(view);

  const auto game_pack = scratch.path() / "game" / "data.pak";
  EXPECT_EQ(entry_of(game_pack, "old.txt"), "old");
  EXPECT_EQ(entry_of(game_pack, "new.txt"), "new");
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "game" / "data"));
}

TEST_F(UpdateRunTest, AFileThatCannotBeWrittenGoesToTheMessageBoxAndTheRunGoesOn) {
  write_bytes(scratch.path() / "dll.pak", make_pack({{"blocked.txt", "x"}, {"free.txt", "written"}}));
  // A folder where the file should go: it can be neither created nor replaced.
  std::filesystem::create_directories(scratch.path() / "game" / "blocked.txt" / "inside");
  configure("[inst]\r\n");

  run_update(view);

  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].caption.find("blocked.txt"), std::string::npos);
  EXPECT_FALSE(view.messages[0].text.empty());
  EXPECT_EQ(read_bytes(scratch.path() / "game" / "free.txt"), "written");
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
