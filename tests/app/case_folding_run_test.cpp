// The update run on a file system that tells case apart finds the game's files and
// packs as Windows does: a name that differs from one on disk only in the case of
// ASCII letters is that file or pack, replaced, rebuilt or removed under its own name.
// Nothing is written beside it. (Windows folds case in its file system; there two
// names that fold alike cannot be made side by side.)

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

#include "app/program.h"
#include "app/update_run.h"
#include "tests/app/recording_view.h"
#include "tests/app/test_files.h"

#ifndef _WIN32
namespace {

namespace fs = std::filesystem;

class CaseFoldingRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    game_still_running = [] { return false; };
    update_ini.clear();
    install_dir = (game()).string() + "\\";
    fs::create_directories(game());
  }
  void TearDown() override {
    update_ini.clear();
    install_dir.clear();
    pack_path.clear();
  }
  fs::path game() const { return scratch.path() / "game"; }
  void configure(const std::string& text) { update_ini.parse(text.data(), static_cast<std::int32_t>(text.size())); }
  // Every name below the game folder, "/" between levels.
  std::set<std::string> tree() const {
    std::set<std::string> names;
    for (const auto& item : fs::recursive_directory_iterator(game()))
      names.insert(item.path().lexically_relative(game()).generic_string());
    return names;
  }
  // An entry of a game pack (a file name below the game folder), read back.
  std::string entry_of(const std::string& pack, const std::string& name) {
    const std::string bytes = read_bytes(game() / pack);
    PakArchive archive;
    if (archive.open_memory(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 5) != 1)
      return "<no pack>";
    if (!archive.find_record(name.c_str())) return "<missing>";
    EntrySlot* slot = archive.load_entry(name.c_str());
    if (!slot) return "<unreadable>";
    std::string entry(reinterpret_cast<const char*>(slot->data), static_cast<std::size_t>(slot->size));
    archive.release_entry(slot);
    return entry;
  }

  ScratchDir scratch;
  RecordingView view;
  PackageStandIn package;
};

TEST_F(CaseFoldingRunTest, PayloadFilesReplaceTheFilesTheirNamesStandFor) {
  write_bytes(game() / "Data" / "Items.csv", "old items");
  write_bytes(game() / "Data" / "Monsters.csv", "old monsters");
  package.add("dll.pak", make_pack({{"data\\items.csv", "new items"}, {"data\\new.csv", "new file"}}));
  configure("[inst]\r\n");

  run_update(view);

  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(read_bytes(game() / "Data" / "Items.csv"), "new items");
  // A new file goes into the existing folder under the name the package gives.
  EXPECT_EQ(read_bytes(game() / "Data" / "new.csv"), "new file");
  EXPECT_EQ(tree(), (std::set<std::string>{"Data", "Data/Items.csv", "Data/Monsters.csv", "Data/new.csv"}));
}

TEST_F(CaseFoldingRunTest, AMergeRebuildsThePackItsNameStandsFor) {
  write_bytes(game() / "DATA.PAK", make_pack({{"a.txt", "old a"}, {"keep.txt", "kept"}}));
  package.add("data.pak", make_pack({{"a.txt", "new a"}}));
  configure("[inst]\r\n[pack0]\r\nname=data\r\n");

  run_update(view);

  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(tree(), (std::set<std::string>{"DATA.PAK"}));
  EXPECT_EQ(entry_of("DATA.PAK", "a.txt"), "new a");
  EXPECT_EQ(entry_of("DATA.PAK", "keep.txt"), "kept");
}

TEST_F(CaseFoldingRunTest, RemovalsFindThePackAndTheFilesTheirNamesStandFor) {
  write_bytes(game() / "DATA.PAK", make_pack({{"gone.txt", "g"}, {"keep.txt", "kept"}}));
  write_bytes(game() / "Old" / "Stale.txt", "s");
  configure(
      "[inst]\r\n[remove]\r\nfile=old\\stale.txt\r\ndir=old\r\n"
      "[remove_pack0]\r\nname=data\r\nentry=gone.txt\r\n");

  run_update(view);

  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(tree(), (std::set<std::string>{"DATA.PAK"}));
  EXPECT_EQ(entry_of("DATA.PAK", "gone.txt"), "<missing>");
  EXPECT_EQ(entry_of("DATA.PAK", "keep.txt"), "kept");
}

}  // namespace
#endif
