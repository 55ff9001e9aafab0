#include "platform/files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <random>
#include <string>

#include "platform/write_folder.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

// A fresh folder per test, as a system path (backslashes on Windows).
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    folder_ = fs::temp_directory_path() / ("pakupdate-files-" + std::to_string(random()));
    fs::create_directories(folder_);
  }
  void TearDown() override {
    platform::inject_write_failure_after(-1);
    std::error_code error;
    fs::remove_all(folder_, error);
  }
  std::string path(const std::string& name) const { return (folder_ / name).string(); }
  std::size_t entries() const { return std::size_t(std::distance(fs::directory_iterator(folder_), {})); }

  fs::path folder_;
};

platform::ByteView view(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string text_of(const std::string& path) {
  auto bytes = platform::read_file(path);
  return bytes ? std::string(bytes->begin(), bytes->end()) : "<missing>";
}

TEST_F(FilesTest, ReplacingWritesWholeContentAndLeavesNoTemporary) {
  const auto target = path("a.dat");
  EXPECT_EQ(platform::write_file_replacing(target, view("first")), platform::WriteStatus::ok);
  EXPECT_EQ(platform::write_file_replacing(target, view("second version")), platform::WriteStatus::ok);
  EXPECT_EQ(text_of(target), "second version");
  EXPECT_EQ(entries(), 1u);
}

TEST_F(FilesTest, FailedWriteKeepsTheOldFile) {
  const auto target = path("a.dat");
  ASSERT_EQ(platform::write_file_replacing(target, view("old content")), platform::WriteStatus::ok);
  platform::inject_write_failure_after(3);
  EXPECT_EQ(platform::write_file_replacing(target, view("new content that does not fit")),
            platform::WriteStatus::write_failed);
  platform::inject_write_failure_after(-1);
  EXPECT_EQ(text_of(target), "old content");
  EXPECT_EQ(entries(), 1u);
}

TEST_F(FilesTest, ReadOnlyFileIsReplaced) {
  const auto target = path("ro.dat");
  ASSERT_EQ(platform::write_file_replacing(target, view("old")), platform::WriteStatus::ok);
  fs::permissions(target, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(platform::write_file_replacing(target, view("new")), platform::WriteStatus::ok);
  EXPECT_EQ(text_of(target), "new");
}

TEST_F(FilesTest, WritingIntoAMissingFolderFailsCleanly) {
  EXPECT_EQ(platform::write_file_replacing(path("no-such-folder/a.dat"), view("x")),
            platform::WriteStatus::cannot_open);
}

TEST_F(FilesTest, OutputFileIsCreatedExclusivelyAndPatchedInPlace) {
  const auto target = path("out.pak");
  platform::WriteFolder folder;
  ASSERT_EQ(folder.open(folder_.string()), platform::WriteFolder::Status::ok);
  platform::OutputFile file;
  ASSERT_EQ(folder.create_new("out.pak", file), platform::OutputFile::Status::ok);
  ASSERT_TRUE(file.write("aaaa", 4));
  ASSERT_TRUE(file.write("bbbb", 4));
  ASSERT_TRUE(file.seek(2));
  ASSERT_TRUE(file.write("XY", 2));
  EXPECT_EQ(file.position(), 4u);
  ASSERT_TRUE(file.seek_to_end());
  EXPECT_EQ(file.position(), 8u);
  ASSERT_TRUE(file.sync());
  ASSERT_TRUE(file.close());
  EXPECT_EQ(text_of(target), "aaXYbbbb");

  platform::OutputFile again;
  EXPECT_EQ(folder.create_new("out.pak", again), platform::OutputFile::Status::exists);
  EXPECT_EQ(text_of(target), "aaXYbbbb");
}

TEST_F(FilesTest, InjectedFailureStopsOutputFileWrites) {
  platform::WriteFolder folder;
  ASSERT_EQ(folder.open(folder_.string()), platform::WriteFolder::Status::ok);
  platform::OutputFile file;
  ASSERT_EQ(folder.create_new("out.pak", file), platform::OutputFile::Status::ok);
  platform::inject_write_failure_after(5);
  EXPECT_TRUE(file.write("abc", 3));
  EXPECT_FALSE(file.write("def", 3));
}

TEST_F(FilesTest, MappingTellsMissingFromPresent) {
  platform::MappedFile mapped;
  EXPECT_EQ(mapped.open(path("none.pak")), platform::MappedFile::Status::missing);
  EXPECT_FALSE(mapped.is_open());
  ASSERT_EQ(platform::write_file_replacing(path("p.pak"), view("pack bytes")), platform::WriteStatus::ok);
  ASSERT_EQ(mapped.open(path("p.pak")), platform::MappedFile::Status::ok);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapped.data()), mapped.size()), "pack bytes");
  ASSERT_EQ(platform::write_file_replacing(path("empty.pak"), view("")), platform::WriteStatus::ok);
  ASSERT_EQ(mapped.open(path("empty.pak")), platform::MappedFile::Status::ok);
  EXPECT_EQ(mapped.size(), 0u);
}

#ifndef _WIN32
// Runs open_or_read, which must not wait for a writer of the FIFO at fifo. If it is
// still blocked after a few seconds the test fails, and a writer that opens and closes
// the FIFO at once releases the call so that the test ends.
template <typename Call>
auto without_waiting_for_a_writer(const std::string& fifo, Call open_or_read) {
  auto result = std::async(std::launch::async, open_or_read);
  if (result.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    ADD_FAILURE() << "blocked in open() on the FIFO " << fifo;
    const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
  }
  return result.get();
}

TEST_F(FilesTest, OnlyRegularFilesAreMappedOrReadAndAFifoNeverBlocks) {
  const std::string fifo = path("game.pak");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directories(path("folder.pak"));

  platform::MappedFile mapped;
  EXPECT_EQ(without_waiting_for_a_writer(fifo, [&] { return mapped.open(fifo); }),
            platform::MappedFile::Status::failed);
  EXPECT_FALSE(mapped.is_open());
  EXPECT_EQ(without_waiting_for_a_writer(fifo, [&] { return platform::read_file(fifo); }), std::nullopt);

  // A directory is no file: missing for a mapping, as a pack that is not there.
  EXPECT_EQ(mapped.open(path("folder.pak")), platform::MappedFile::Status::missing);
  EXPECT_EQ(platform::read_file(path("folder.pak")), std::nullopt);

  // A regular file opened the same way reads completely (blocking mode restored).
  ASSERT_EQ(platform::write_file_replacing(path("real.pak"), view("pack bytes")), platform::WriteStatus::ok);
  ASSERT_EQ(mapped.open(path("real.pak")), platform::MappedFile::Status::ok);
  EXPECT_EQ(mapped.size(), 10u);
  EXPECT_EQ(text_of(path("real.pak")), "pack bytes");
}

TEST(NativePath, ConvertsSeparatorsCodePageAndDriveLetters) {
  setenv("WINEPREFIX", "/prefix", 1);
  struct Case {
    std::string system, native;
  } cases[] = {
      {"a\\b\\c.dat", "a/b/c.dat"},
      {"/home/x/game\\data.pak", "/home/x/game/data.pak"},
      {"C:\\Game\\QRM.ini", "/prefix/dosdevices/c:/Game/QRM.ini"},
      {"d:rel", "/prefix/dosdevices/d:/rel"},
      {"\xB3\x5C\\x", "\xE8\xA8\xB1/x"},                 // 許 stays one character, its trail byte is no separator
      {"a\xFF", "a\xFF"},                                // bytes that are not code page 950 pass through
      {"\xC2\x73\xC4\xFD", "\xE7\x80\x8F\xE8\xA6\xBD"},  // 瀏覽
  };
  for (const auto& c : cases) EXPECT_EQ(platform::native_path(c.system), c.native) << c.system;
  unsetenv("WINEPREFIX");
}
#endif

}  // namespace

namespace {

TEST(AbsolutePath, OnlyAPathThatDoesNotDependOnTheCurrentFolder) {
  struct Case {
    const char* path;
    bool absolute;
  };
  const Case cases[] = {
      {"", false},
      {".", false},
      {"..", false},
      {"game", false},
      {"..\\game", false},
      {"C:\\Games\\QRM", true},
      {"c:/Games", true},
#ifdef _WIN32
      {"\\\\server\\share\\QRM", true},
      {"\\Games", false},  // the current drive's root
      {"C:Games", false},  // the current folder of drive C:
#else
      {"/opt/qrm", true}, {"\\opt\\qrm", true},  // backslashes are separators here
#endif
  };
  for (const Case& c : cases) EXPECT_EQ(platform::is_absolute_path(c.path), c.absolute) << c.path;
}

TEST_F(FilesTest, PathKindTellsWhatStandsThereWithoutFollowingLinks) {
  platform::write_file_replacing(path("file"), platform::ByteView());
  fs::create_directories(folder_ / "folder");
  EXPECT_EQ(platform::path_kind(path("file")), platform::PathKind::file);
  EXPECT_EQ(platform::path_kind(path("folder")), platform::PathKind::folder);
  EXPECT_EQ(platform::path_kind(path("missing")), platform::PathKind::missing);
  EXPECT_EQ(platform::path_kind(path("file") + "/below"), platform::PathKind::missing);
#ifndef _WIN32
  fs::create_symlink(folder_ / "folder", folder_ / "link");
  EXPECT_EQ(platform::path_kind(path("link")), platform::PathKind::link);
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(platform::path_kind(path("fifo")), platform::PathKind::other);
#endif
}

}  // namespace
