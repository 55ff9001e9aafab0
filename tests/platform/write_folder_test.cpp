// The write folder: what it writes lands below the folder and nowhere else, a path
// that is not a plain relative path is refused, a link in the way is refused, and a
// failed write leaves the old file and no temporary file. Its batches: nothing takes
// its final name before commit, each file fails on its own, no temporary file stays.

#include "platform/write_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>

#include "platform/codepage.h"
#include "platform/write_batch.h"
#include "platform/write_faults.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

platform::ByteView view(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

class WriteFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ = fs::temp_directory_path() / ("pakupdate-folder-" + std::to_string(random()));
    fs::create_directories(root_ / "game");
    fs::create_directories(root_ / "outside");
    ASSERT_EQ(folder.open((root_ / "game").string()), platform::WriteFolder::Status::ok);
  }
  void TearDown() override {
    platform::inject_write_failure_after(-1);
    platform::inject_failure_from(platform::FaultPoint::write, -1);
    platform::inject_failure_from(platform::FaultPoint::flush, -1);
    platform::inject_failure_from(platform::FaultPoint::directory_flush, -1);
    platform::set_path_code_page(platform::PathCodePage::system_ansi);
    folder.close();
    std::error_code error;
    fs::remove_all(root_, error);
  }
  // Every name below root, "/" between levels.
  std::set<std::string> tree() const {
    std::set<std::string> names;
    for (const auto& item : fs::recursive_directory_iterator(root_))
      names.insert(item.path().lexically_relative(root_).generic_string());
    return names;
  }
  std::string text_of(const fs::path& path) const {
    auto bytes = platform::read_file(path.string());
    return bytes ? std::string(bytes->begin(), bytes->end()) : "<missing>";
  }

  fs::path root_;
  platform::WriteFolder folder;
};

TEST_F(WriteFolderTest, OpensOnlyAnExistingFolder) {
  platform::WriteFolder other;
  EXPECT_EQ(other.open((root_ / "none").string()), platform::WriteFolder::Status::missing);
  std::FILE* file = std::fopen((root_ / "file").string().c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  EXPECT_EQ(other.open((root_ / "file").string()), platform::WriteFolder::Status::not_a_folder);
  EXPECT_FALSE(other.is_open());
  EXPECT_EQ(other.write_file("x", view("x")), platform::WriteStatus::cannot_open);
}

TEST_F(WriteFolderTest, WritesReplacesMapsAndRemovesBelowTheFolder) {
  ASSERT_EQ(folder.make_directories("a\\b"), platform::WriteStatus::ok);
  ASSERT_EQ(folder.write_file("a\\b\\f.dat", view("first")), platform::WriteStatus::ok);
  ASSERT_EQ(folder.write_file("a\\b\\f.dat", view("second")), platform::WriteStatus::ok);
  EXPECT_EQ(text_of(root_ / "game" / "a" / "b" / "f.dat"), "second");

  platform::OutputFile out;
  ASSERT_EQ(folder.create_new("a\\new.tmp", out), platform::OutputFile::Status::ok);
  ASSERT_TRUE(out.write("fresh", 5) && out.close());
  EXPECT_EQ(folder.create_new("a\\new.tmp", out), platform::OutputFile::Status::exists);
  ASSERT_EQ(folder.replace("a\\new.tmp", "a\\b\\f.dat"), platform::WriteStatus::ok);

  platform::MappedFile mapped;
  ASSERT_EQ(folder.map("a\\b\\f.dat", mapped), platform::MappedFile::Status::ok);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapped.data()), mapped.size()), "fresh");
  mapped.close();
  EXPECT_EQ(folder.map("a\\none.dat", mapped), platform::MappedFile::Status::missing);
  EXPECT_EQ(folder.map("none\\none.dat", mapped), platform::MappedFile::Status::missing);
  EXPECT_EQ(folder.map("a", mapped), platform::MappedFile::Status::missing);  // a folder is no file

  EXPECT_EQ(folder.names("a"), (std::vector<std::string>{"b"}));
  EXPECT_TRUE(folder.remove("a\\b\\f.dat"));
  EXPECT_FALSE(folder.remove("a\\b\\f.dat"));
  EXPECT_EQ(tree(), (std::set<std::string>{"game", "game/a", "game/a/b", "outside"}));
}

TEST_F(WriteFolderTest, RefusesPathsThatAreNotPlainRelativePaths) {
  const char* refused[] = {"", "..", "..\\outside\\x", "a\\..\\..\\x", ".", "a\\\\b", "a\\", "\\x", "a/../../x"};
  for (const char* path : refused) {
    SCOPED_TRACE(path);
    EXPECT_EQ(folder.write_file(path, view("x")), platform::WriteStatus::bad_path);
    EXPECT_EQ(folder.make_directories(path), platform::WriteStatus::bad_path);
  }
  EXPECT_EQ(tree(), (std::set<std::string>{"game", "outside"}));
}

TEST_F(WriteFolderTest, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  ASSERT_EQ(folder.write_file("f.dat", view("old")), platform::WriteStatus::ok);
  platform::inject_write_failure_after(2);
  EXPECT_EQ(folder.write_file("f.dat", view("new content")), platform::WriteStatus::write_failed);
  platform::inject_write_failure_after(-1);
  EXPECT_EQ(text_of(root_ / "game" / "f.dat"), "old");
  EXPECT_EQ(tree(), (std::set<std::string>{"game", "game/f.dat", "outside"}));
}

// A flush that fails before the move: the write fails, names the file, and the old
// bytes stay; no temporary file is left.
TEST_F(WriteFolderTest, AFailedFlushLeavesTheOldFile) {
  ASSERT_EQ(folder.write_file("f.dat", view("old")), platform::WriteStatus::ok);
  platform::inject_failure_from(platform::FaultPoint::flush, 0);
  EXPECT_EQ(folder.write_file("f.dat", view("new content")), platform::WriteStatus::write_failed);
  EXPECT_EQ(platform::write_file_replacing((root_ / "game" / "f.dat").string(), view("new")),
            platform::WriteStatus::write_failed);
  EXPECT_EQ(platform::fault_points_passed(platform::FaultPoint::flush), 2);
  platform::inject_failure_from(platform::FaultPoint::flush, -1);
  EXPECT_EQ(text_of(root_ / "game" / "f.dat"), "old");
  EXPECT_EQ(tree(), (std::set<std::string>{"game", "game/f.dat", "outside"}));
}

// A batch of a few files (one flush each) and one of many (one flush of the whole file
// system, then one of each file when it fails): from each flush on, the flushes fail.
// Commit reports exactly the files not flushed, each keeps its old bytes, the others
// land; no temporary file is left.
TEST_F(WriteFolderTest, ABatchReportsEveryFileWhoseFlushFailed) {
  for (const std::size_t count : {std::size_t(3), std::size_t(20)}) {
    for (std::int64_t from = 0;; ++from) {
      SCOPED_TRACE(testing::Message() << count << " files, flushes failing from " << from);
      std::vector<std::string> names;
      for (std::size_t i = 0; i < count; ++i) {
        names.push_back(std::to_string(i));
        ASSERT_EQ(folder.write_file(names.back(), view("old")), platform::WriteStatus::ok);
      }
      platform::WriteBatch batch(folder);
      for (const std::string& name : names)
        ASSERT_EQ(batch.write_file(name, view("new"), name), platform::WriteStatus::ok);
      platform::inject_failure_from(platform::FaultPoint::flush, from);
      const bool committed = batch.commit();
      const std::int64_t passed = platform::fault_points_passed(platform::FaultPoint::flush);
      platform::inject_failure_from(platform::FaultPoint::flush, -1);
      std::set<std::string> failed;
      for (const auto& failure : batch.take_failures()) {
        EXPECT_EQ(failure.status, platform::WriteStatus::write_failed);
        failed.insert(failure.label);
      }
      EXPECT_EQ(committed, failed.empty());
      for (const std::string& name : names)
        EXPECT_EQ(text_of(root_ / "game" / name), failed.count(name) ? "old" : "new") << name;
      EXPECT_EQ(tree().size(), count + 2);
      if (passed <= from) {
        EXPECT_TRUE(committed);  // no flush failed
        break;
      }
      EXPECT_FALSE(committed);
    }
  }
}

// 許 B3 5C, 功 A5 5C and 蓋 BB 5C end in 0x5C, no separator inside them. In code page
// 950 a system path lands on disk as its characters (UTF-8 on POSIX, UTF-16 on Windows
// whatever the ANSI code page), and the files layer and names() give the same bytes.
TEST_F(WriteFolderTest, Big5PathsInCodePage950AreTheirCharactersOnDisk) {
  platform::set_path_code_page(platform::PathCodePage::cp950);
  struct Case {
    const char* system;      // relative system path
    const char8_t* on_disk;  // the same as UTF-8, "/" between levels
  };
  const Case files[] = {
      {"\xB3\x5C\xA5\x5C\xBB\x5C.txt", u8"許功蓋.txt"},
      {"\xA6\x61\xB9\xCF\\\xB3\x5C\xA5\x5C\xBB\x5C.txt", u8"地圖/許功蓋.txt"},
      {"\xA6\x61\xB9\xCF\\\xB3\x5C\\\xBB\x5C", u8"地圖/許/蓋"},
  };
  const std::string folder_path = (root_ / "game").string();
  for (const Case& file : files) {
    const std::string system = file.system;
    SCOPED_TRACE(system);
    const std::size_t last = platform::find_last_separator(system);
    if (last != std::string::npos) {
      ASSERT_EQ(folder.make_directories(system.substr(0, last)), platform::WriteStatus::ok);
    }
    ASSERT_EQ(folder.write_file(system, view(system)), platform::WriteStatus::ok);
    std::ifstream in(root_ / "game" / fs::path(std::u8string(file.on_disk)), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), system);
    const std::string full = folder_path + "\\" + system;
    EXPECT_TRUE(platform::file_exists(full));
    const auto bytes = platform::read_file(full);
    EXPECT_EQ(bytes ? std::string(bytes->begin(), bytes->end()) : "<missing>", system);
    platform::MappedFile mapped;
    ASSERT_EQ(mapped.open(full), platform::MappedFile::Status::ok);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapped.data()), mapped.size()), system);
  }
  std::vector<std::string> names = folder.names("\xA6\x61\xB9\xCF");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"\xB3\x5C", "\xB3\x5C\xA5\x5C\xBB\x5C.txt"}));
#ifdef _WIN32
  // A lead byte without its trail byte is no character of code page 950: no file of a
  // mangled name is made.
  EXPECT_EQ(folder.write_file("\x81 x", view("x")), platform::WriteStatus::cannot_open);
  EXPECT_FALSE(platform::file_exists(folder_path + "\\\x81 x"));
  EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "game"), {}), 2);
#endif
}

TEST(WriteFolderNames, TemporaryNamesAreRecognisablyOurs) {
  const std::string name = platform::temp_file_name("data.");
  EXPECT_TRUE(name.starts_with("data."));
  EXPECT_TRUE(name.ends_with(platform::TEMP_FILE_SUFFIX));
  EXPECT_EQ(name.size(), 5 + 16 + platform::TEMP_FILE_SUFFIX.size());
  EXPECT_NE(platform::temp_file_name("data."), name);
  EXPECT_TRUE(platform::is_own_temp_name(name));
  // The check covers the prefix and the random digits: any change of either, or of the
  // check itself, makes a name that is not ours.
  for (std::size_t i = 0; i < 5 + 16; ++i) {
    std::string changed = name;
    changed[i] = changed[i] == '0' ? '1' : '0';
    EXPECT_FALSE(platform::is_own_temp_name(changed)) << changed;
  }
  EXPECT_FALSE(platform::is_own_temp_name("data" + name.substr(5)));
  EXPECT_TRUE(platform::is_legacy_temp_name(".f.0123abcd.pakupdate-temp", ".f."));
  EXPECT_FALSE(platform::is_legacy_temp_name(".f.0123abcd.pakupdate-temp", ".g."));
  EXPECT_FALSE(platform::is_legacy_temp_name(".f.0123ABCD.pakupdate-temp", ".f."));
  EXPECT_EQ(platform::join_relative("", "a"), "a");
  EXPECT_EQ(platform::join_relative("a", ""), "a");
  EXPECT_EQ(platform::join_relative("a", "b\\c"), "a\\b\\c");
}

TEST_F(WriteFolderTest, ABatchPutsItsFilesInPlaceOnlyAtCommit) {
  ASSERT_EQ(folder.write_file("old.dat", view("old")), platform::WriteStatus::ok);
  platform::WriteBatch batch(folder);
  ASSERT_EQ(batch.make_directories("a\\b"), platform::WriteStatus::ok);
  ASSERT_EQ(batch.make_directories("a\\b"), platform::WriteStatus::ok);
  ASSERT_EQ(batch.make_directories("a\\c"), platform::WriteStatus::ok);
  const std::pair<const char*, const char*> files[] = {
      {"old.dat", "new"}, {"a\\b\\one", "1"}, {"a\\c\\two", "2"}, {"a\\b\\three", "3"}, {"top", "t"}};
  for (const auto& [name, text] : files) ASSERT_EQ(batch.write_file(name, view(text), name), platform::WriteStatus::ok);
  EXPECT_EQ(batch.size(), 5u);
  EXPECT_EQ(text_of(root_ / "game" / "old.dat"), "old");
  EXPECT_EQ(text_of(root_ / "game" / "top"), "<missing>");
  ASSERT_TRUE(batch.commit());
  EXPECT_TRUE(batch.take_failures().empty());
  for (const auto& [name, text] : files) {
    std::string native = name;
    std::replace(native.begin(), native.end(), '\\', '/');
    EXPECT_EQ(text_of(root_ / "game" / native), text) << name;
  }
  EXPECT_EQ(tree(), (std::set<std::string>{"game", "game/old.dat", "game/top", "game/a", "game/a/b", "game/a/c",
                                           "game/a/b/one", "game/a/b/three", "game/a/c/two", "outside"}));
}

TEST_F(WriteFolderTest, ABatchNotCommittedLeavesTheOldFilesAndNoTemporaryFile) {
  ASSERT_EQ(folder.write_file("f.dat", view("old")), platform::WriteStatus::ok);
  {
    platform::WriteBatch batch(folder);
    ASSERT_EQ(batch.write_file("f.dat", view("new")), platform::WriteStatus::ok);
    ASSERT_EQ(batch.write_file("g.dat", view("new")), platform::WriteStatus::ok);
  }
  EXPECT_EQ(text_of(root_ / "game" / "f.dat"), "old");
  EXPECT_EQ(tree(), (std::set<std::string>{"game", "game/f.dat", "outside"}));
}

TEST_F(WriteFolderTest, ABatchFileThatFailsLeavesItsOldFileAndTheOthersLand) {
  ASSERT_EQ(folder.write_file("a.dat", view("old a")), platform::WriteStatus::ok);
  ASSERT_EQ(folder.write_file("b.dat", view("old b")), platform::WriteStatus::ok);
  platform::WriteBatch batch(folder);
  // While it is written: a full disk.
  platform::inject_write_failure_after(2);
  EXPECT_EQ(batch.write_file("a.dat", view("new a")), platform::WriteStatus::write_failed);
  platform::inject_write_failure_after(-1);
  // At commit: a folder has taken the file's name in the meantime.
  ASSERT_EQ(batch.write_file("c.dat", view("new c"), "shown c"), platform::WriteStatus::ok);
  fs::create_directories(root_ / "game" / "c.dat" / "inside");
  ASSERT_EQ(batch.write_file("b.dat", view("new b")), platform::WriteStatus::ok);
  EXPECT_FALSE(batch.commit());
  const auto failures = batch.take_failures();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].relative, "c.dat");
  EXPECT_EQ(failures[0].label, "shown c");
  EXPECT_NE(failures[0].status, platform::WriteStatus::ok);
  EXPECT_EQ(text_of(root_ / "game" / "a.dat"), "old a");
  EXPECT_EQ(text_of(root_ / "game" / "b.dat"), "new b");
  EXPECT_EQ(tree(),
            (std::set<std::string>{"game", "game/a.dat", "game/b.dat", "game/c.dat", "game/c.dat/inside", "outside"}));
}

TEST_F(WriteFolderTest, ABatchCommitsByItselfWhenItHoldsItsLimitOfFiles) {
  platform::WriteBatch batch(folder);
  for (std::size_t i = 0; i < platform::WriteBatch::MAX_FILES; ++i) {
    // Appended, not "f" + ...: MinGW's -O3 gives a false restrict warning on that.
    std::string name = std::to_string(i);
    name.insert(name.begin(), 'f');
    ASSERT_EQ(batch.write_file(name, view("x")), platform::WriteStatus::ok);
  }
  EXPECT_EQ(batch.size(), 0u);
  EXPECT_EQ(text_of(root_ / "game" / "f0"), "x");
  ASSERT_EQ(batch.write_file("last", view("y")), platform::WriteStatus::ok);
  EXPECT_EQ(text_of(root_ / "game" / "last"), "<missing>");
  ASSERT_TRUE(batch.commit());
  EXPECT_EQ(tree().size(), platform::WriteBatch::MAX_FILES + 3);
}

// What a killed run left goes, when asked: names this program made, and those of the
// earlier scheme where they are surely ours (the fixed "~" form, or named after a file
// the batch writes). A user's file whose name merely ends like a temporary one stays.
TEST_F(WriteFolderTest, ABatchRemovesOnlyTheTemporaryFilesAKilledRunLeft) {
  fs::create_directories(root_ / "game" / "d");
  const std::string left[] = {"d/" + platform::temp_file_name(".f."), "d/" + platform::temp_file_name("~"),
                              "d/" + platform::temp_file_name("datatemp."), "d/~89abcdef.pakupdate-temp",
                              "d/.new.0123abcd.pakupdate-temp"};
  const std::string kept[] = {"d/notes.pakupdate-temp",
                              "d/x.0123ABCD.pakupdate-temp",
                              "d/save.0123abcd.pakupdate-temp",
                              "d/.other.0123abcd.pakupdate-temp",  // earlier form, of a file not written
                              "d/datatemp.00000000.pakupdate-temp",
                              "d/save.0123abcd89abcdef.pakupdate-temp",  // the check does not match
                              "d/keep.txt"};
  for (const std::string& name : left) std::fclose(std::fopen((root_ / "game" / name).string().c_str(), "wb"));
  for (const std::string& name : kept) std::fclose(std::fopen((root_ / "game" / name).string().c_str(), "wb"));
  for (bool on : {false, true}) {
    SCOPED_TRACE(on);
    platform::WriteBatch batch(folder);
    batch.remove_stale_temporaries(on);
    ASSERT_EQ(batch.write_file("d\\new", view("n")), platform::WriteStatus::ok);
    ASSERT_TRUE(batch.commit());
    for (const std::string& name : left) {
#ifdef _WIN32
      if (name.starts_with("d/.")) continue;  // the earlier POSIX form was never made on Windows
#endif
      EXPECT_EQ(fs::exists(root_ / "game" / name), !on) << name;
    }
    for (const std::string& name : kept) EXPECT_TRUE(fs::exists(root_ / "game" / name)) << name;
  }
}

#ifndef _WIN32
// The flush of a directory after its files moved in: until it is done a crash could
// take the new names back, so commit reports every file of that directory (its new
// bytes are in place). Directories flush in the order the batch first wrote to them.
TEST_F(WriteFolderTest, ABatchReportsTheFilesOfADirectoryWhoseFlushFailed) {
  ASSERT_EQ(folder.make_directories("a"), platform::WriteStatus::ok);
  const std::set<std::string> expected[] = {{"top", "a\\one", "a\\two"}, {"a\\one", "a\\two"}, {}};
  for (std::int64_t from = 0; from < 3; ++from) {
    SCOPED_TRACE(from);
    platform::WriteBatch batch(folder);
    for (const char* name : {"top", "a\\one", "a\\two"})
      ASSERT_EQ(batch.write_file(name, view("new"), name), platform::WriteStatus::ok);
    platform::inject_failure_from(platform::FaultPoint::directory_flush, from);
    EXPECT_EQ(batch.commit(), expected[from].empty());
    EXPECT_EQ(platform::fault_points_passed(platform::FaultPoint::directory_flush), 2);
    platform::inject_failure_from(platform::FaultPoint::directory_flush, -1);
    std::set<std::string> failed;
    for (const auto& failure : batch.take_failures()) failed.insert(failure.label);
    EXPECT_EQ(failed, expected[from]);
    for (const char* name : {"top", "a/one", "a/two"}) EXPECT_EQ(text_of(root_ / "game" / name), "new") << name;
    EXPECT_EQ(tree(), (std::set<std::string>{"game", "game/top", "game/a", "game/a/one", "game/a/two", "outside"}));
  }
}

TEST_F(WriteFolderTest, NeverWritesThroughALink) {
  fs::create_directory_symlink(root_ / "outside", root_ / "game" / "dir");
  std::FILE* target = std::fopen((root_ / "outside" / "target").c_str(), "wb");
  ASSERT_NE(target, nullptr);
  std::fputs("outside", target);
  std::fclose(target);
  ::chmod((root_ / "outside" / "target").c_str(), 04750);
  fs::create_symlink(root_ / "outside" / "target", root_ / "game" / "file");
  fs::create_symlink(root_ / "outside" / "missing", root_ / "game" / "dangling");

  EXPECT_EQ(folder.make_directories("dir\\sub"), platform::WriteStatus::link_in_way);
  {
    platform::WriteBatch batch(folder);
    EXPECT_EQ(batch.make_directories("dir\\sub"), platform::WriteStatus::link_in_way);
    EXPECT_EQ(batch.write_file("dir\\x", view("x")), platform::WriteStatus::link_in_way);
    EXPECT_EQ(batch.write_file("file", view("x")), platform::WriteStatus::link_in_way);
    EXPECT_EQ(batch.write_file("dangling", view("x")), platform::WriteStatus::link_in_way);
    EXPECT_TRUE(batch.commit());
  }
  EXPECT_EQ(folder.write_file("dir\\x", view("x")), platform::WriteStatus::link_in_way);
  EXPECT_EQ(folder.write_file("file", view("x")), platform::WriteStatus::link_in_way);
  EXPECT_EQ(folder.write_file("dangling", view("x")), platform::WriteStatus::link_in_way);
  platform::OutputFile out;
  EXPECT_EQ(folder.create_new("dir\\x", out), platform::OutputFile::Status::failed);
  ASSERT_EQ(folder.write_file("real", view("r")), platform::WriteStatus::ok);
  EXPECT_EQ(folder.replace("real", "file"), platform::WriteStatus::link_in_way);
  platform::MappedFile mapped;
  EXPECT_EQ(folder.map("file", mapped), platform::MappedFile::Status::failed);
  EXPECT_EQ(folder.map("dir\\target", mapped), platform::MappedFile::Status::failed);

  EXPECT_EQ(text_of(root_ / "outside" / "target"), "outside");
  struct stat info;
  ASSERT_EQ(::stat((root_ / "outside" / "target").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 04750u);
  EXPECT_EQ(tree(), (std::set<std::string>{"game", "game/dir", "game/file", "game/dangling", "game/real", "outside",
                                           "outside/target"}));
  // Removing a link removes the link, not what it points at.
  EXPECT_TRUE(folder.remove("file"));
  EXPECT_EQ(text_of(root_ / "outside" / "target"), "outside");
}

TEST_F(WriteFolderTest, FoldersAndFilesWithBig5NamesAreNativeUtf8) {
  // 許 is B3 5C: its trail byte is no separator.
  ASSERT_EQ(folder.make_directories("\xB3\x5C"), platform::WriteStatus::ok);
  ASSERT_EQ(folder.write_file("\xB3\x5C\\\xA5\x5C.txt", view("x")), platform::WriteStatus::ok);
  EXPECT_EQ(text_of(root_ / "game" / "\xE8\xA8\xB1" / "\xE5\x8A\x9F.txt"), "x");
  EXPECT_EQ(folder.names("\xB3\x5C"), (std::vector<std::string>{"\xA5\x5C.txt"}));
}
#endif

#ifdef _WIN32
// Run by links_under_wine.sh, which prepares a folder whose "dir" is a link to a folder
// outside it: no level may pass the reparse point.
TEST(WriteFolderLinks, NeverPassesAReparsePoint) {
  const char* fixture = std::getenv("PAKUPDATE_LINK_FIXTURE");
  if (fixture == nullptr) GTEST_SKIP() << "needs the folder that links_under_wine.sh prepares";
  platform::WriteFolder folder;
  ASSERT_EQ(folder.open(std::string(fixture) + "\\game"), platform::WriteFolder::Status::ok);
  EXPECT_EQ(folder.make_directories("dir\\sub"), platform::WriteStatus::link_in_way);
  {
    platform::WriteBatch batch(folder);
    EXPECT_EQ(batch.make_directories("dir\\sub"), platform::WriteStatus::link_in_way);
    EXPECT_EQ(batch.write_file("dir\\x", view("x")), platform::WriteStatus::link_in_way);
    EXPECT_EQ(batch.write_file("dir\\target", view("x")), platform::WriteStatus::link_in_way);
    EXPECT_TRUE(batch.commit());
  }
  EXPECT_EQ(folder.write_file("dir\\x", view("x")), platform::WriteStatus::link_in_way);
  EXPECT_EQ(folder.write_file("dir\\target", view("x")), platform::WriteStatus::link_in_way);
  platform::OutputFile out;
  EXPECT_EQ(folder.create_new("dir\\x", out), platform::OutputFile::Status::failed);
  platform::MappedFile mapped;
  EXPECT_EQ(folder.map("dir\\target", mapped), platform::MappedFile::Status::failed);
  EXPECT_FALSE(folder.remove("dir\\target"));
  EXPECT_EQ(folder.make_directories("dir"), platform::WriteStatus::link_in_way);
}
#endif

}  // namespace
