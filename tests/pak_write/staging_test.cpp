// Staging entries: states on an open pack, files written at once into a directory,
// and imports of whole packs.

#include <gtest/gtest.h>

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#endif

#include "pak/archive.h"
#include "pak/write_messages.h"
#include "pak_test_util.h"
#include "platform/files.h"
#include "platform/write_faults.h"

using namespace pak_test;
namespace fs = std::filesystem;

namespace {

class StagingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    write_bytes(dir / "data.pak", example_pack());
    target.reporter = &reporter;
  }
  // A target in loose mode on the directory out (no out.pak exists).
  void open_loose(int direct = 0) { ASSERT_EQ(target.open((dir / "out").c_str(), 5, direct), 1); }
  std::string out_file(const std::string& relative) const { return (dir.path() / "out" / relative).string(); }

  ScratchDir dir;
  PakArchive target;
  RecordingReporter reporter;
};

TEST_F(StagingTest, StatesOnAnOpenPackAndNothingWritten) {
  ASSERT_EQ(target.open((dir / "data").c_str(), 5, 0), 1);
  const Bytes bytes = bytes_of("new bytes");
  const struct {
    const char* name;
    const std::uint8_t* bytes;
    int state;
  } cases[] = {
      {"ALPHA.bin", bytes.data(), PENDING_REPLACE}, {"sub\\BETA.bin", nullptr, PENDING_REMOVE},
      {"sub\\", nullptr, PENDING_REMOVE},           {"gamma.bin", bytes.data(), PENDING_NEW},
      {"delta.bin", nullptr, PENDING_NEW},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(target.stage_entry(c.name, c.bytes, c.bytes ? std::uint32_t(bytes.size()) : 0), 1);
    std::string folded = c.name;
    fold_name(folded);
    ASSERT_NE(target.find_pending(folded.c_str()), nullptr);
    EXPECT_EQ(target.find_pending(folded.c_str())->state, c.state);
  }
  EXPECT_EQ(target.find_pending("ALPHA.bin"), nullptr);  // no folding on lookup
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"data.pak"});
}

TEST_F(StagingTest, StagingTwiceKeepsOneEntry) {
  ASSERT_EQ(target.open((dir / "data").c_str(), 5, 0), 1);
  const Bytes first = bytes_of("first"), second = bytes_of("second!");
  target.stage_entry("x.bin", first.data(), std::uint32_t(first.size()));
  target.stage_entry("X.BIN", second.data(), std::uint32_t(second.size()));
  target.stage_entry("x.bin", second.data(), 0);  // no length: bytes stay
  ASSERT_NE(target.pending, nullptr);
  EXPECT_EQ(target.pending->next, nullptr);
  EXPECT_EQ(target.pending->data, second);
  EXPECT_EQ(target.pending->size, second.size());
  EXPECT_EQ(target.pending->encoded, 0);
  // Staged with bytes of the pack's entry it becomes a replacement, then a removal.
  target.stage_entry("alpha.bin", first.data(), std::uint32_t(first.size()));
  EXPECT_EQ(target.find_pending("alpha.bin")->state, PENDING_REPLACE);
  target.stage_entry("alpha.bin", nullptr, 0);
  EXPECT_EQ(target.find_pending("alpha.bin")->state, PENDING_REMOVE);
  EXPECT_EQ(target.find_pending("alpha.bin")->data, first);
}

TEST_F(StagingTest, LooseTargetWritesFilesAtOnce) {
  open_loose();
  const Bytes raw = bytes_of("raw bytes"), decoded = filled(20, 0x41);
  const Bytes stream = literal_stream(decoded);
  target.stage_entry("SUB\\Beta.bin", raw.data(), std::uint32_t(raw.size()));
  target.stage_entry("sub\\deeper\\c.dat", stream.data(), std::uint32_t(stream.size()));
  target.stage_entry("empty\\", nullptr, 0);  // a directory is never written as a file
  EXPECT_EQ(read_bytes(out_file("sub/beta.bin")), raw);
  EXPECT_EQ(read_bytes(out_file("sub/deeper/c.dat")), decoded);
  EXPECT_FALSE(fs::is_regular_file(out_file("empty")));
  EXPECT_TRUE(reporter.problems.empty());
  EXPECT_EQ(target.find_pending("sub\\deeper\\c.dat")->encoded, 1);
}

TEST_F(StagingTest, ReadOnlyFileIsReplaced) {
  open_loose();
  fs::create_directories(dir.path() / "out");
  write_bytes(out_file("ro.txt"), bytes_of("old"));
  fs::permissions(out_file("ro.txt"), fs::perms::owner_read);
  const Bytes fresh = bytes_of("new content");
  target.stage_entry("ro.txt", fresh.data(), std::uint32_t(fresh.size()));
  EXPECT_EQ(read_bytes(out_file("ro.txt")), fresh);
  EXPECT_TRUE(reporter.problems.empty());
}

TEST_F(StagingTest, AFolderInAFilesPlaceGivesItsMessageAndTheRunGoesOn) {
  open_loose();
  // A directory where the file should go: nothing can replace it.
  fs::create_directories(dir.path() / "out" / "blocked.bin" / "inner");
  const Bytes bytes = bytes_of("data");
  target.stage_entry("blocked.bin", bytes.data(), std::uint32_t(bytes.size()));
  target.stage_entry("next.bin", bytes.data(), std::uint32_t(bytes.size()));
  ASSERT_EQ(reporter.problems.size(), 1u);
  // Named as what it is, not as a locked file.
  EXPECT_EQ(reporter.problems[0].text, pak::FOLDER_IN_WAY_TEXT);
  EXPECT_EQ(reporter.problems[0].path, (dir / "out") + "\\blocked.bin");
  EXPECT_EQ(read_bytes(out_file("next.bin")), bytes);
}

#ifdef _WIN32
TEST_F(StagingTest, FileHeldOpenWithoutSharingGivesTheMessage) {
  open_loose();
  fs::create_directories(dir.path() / "out");
  write_bytes(out_file("held.bin"), bytes_of("old"));
  HANDLE held = CreateFileA(out_file("held.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const Bytes bytes = bytes_of("data");
  target.stage_entry("held.bin", bytes.data(), std::uint32_t(bytes.size()));
  target.stage_entry("next.bin", bytes.data(), std::uint32_t(bytes.size()));
  CloseHandle(held);
  ASSERT_EQ(reporter.problems.size(), 1u);
  EXPECT_EQ(reporter.problems[0].text, pak::FILE_LOCKED_TEXT);
  EXPECT_EQ(reporter.problems[0].path, (dir / "out") + "\\held.bin");
  EXPECT_EQ(read_bytes(out_file("held.bin")), bytes_of("old"));
  EXPECT_EQ(read_bytes(out_file("next.bin")), bytes);
}
#endif

TEST_F(StagingTest, BrokenStreamLeavesTheOldFile) {
  open_loose();
  fs::create_directories(dir.path() / "out");
  write_bytes(out_file("f.bin"), bytes_of("old"));
  Bytes broken = literal_stream(filled(9, 1));
  broken.resize(broken.size() - 3);  // the last group is cut short
  store_u32(broken.data() + 10, std::uint32_t(broken.size()));
  target.stage_entry("f.bin", broken.data(), std::uint32_t(broken.size()));
  ASSERT_EQ(reporter.problems.size(), 1u);
  EXPECT_EQ(reporter.problems[0].text.rfind(pak::DECODE_FAILED_TEXT, 0), 0u);
  EXPECT_NE(reporter.problems[0].path.find("f.bin"), std::string::npos);
  EXPECT_EQ(read_bytes(out_file("f.bin")), bytes_of("old"));
}

TEST_F(StagingTest, UnsafeNamesWriteNothing) {
  open_loose();
  const Bytes bytes = bytes_of("x");
  for (const char* name : {"..\\escape.bin", "sub\\..\\..\\escape.bin", "c:\\escape.bin", "\\escape.bin", "aux.txt",
                           "nul", "sub\\trail.", "a/../../escape.bin"}) {
    SCOPED_TRACE(name);
    reporter.problems.clear();
    EXPECT_EQ(target.stage_entry(name, bytes.data(), 1), 0);
    EXPECT_EQ(reporter.problems.size(), 1u);
    // write_entry_file refuses the same names on its own.
    EXPECT_EQ(target.write_entry_file(name), 1);
    EXPECT_EQ(reporter.problems.size(), 2u);
  }
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"data.pak"});
}

TEST_F(StagingTest, FullDiskDuringExtractionKeepsOldFiles) {
  open_loose();
  fs::create_directories(dir.path() / "out");
  write_bytes(out_file("a.bin"), bytes_of("old a"));
  const Bytes fresh = filled(100, 1);
  platform::inject_write_failure_after(10);
  target.stage_entry("a.bin", fresh.data(), std::uint32_t(fresh.size()));
  platform::inject_write_failure_after(-1);
  ASSERT_EQ(reporter.problems.size(), 1u);
  EXPECT_EQ(reporter.problems[0].text, pak::FILE_LOCKED_TEXT);
  EXPECT_EQ(read_bytes(out_file("a.bin")), bytes_of("old a"));
  EXPECT_EQ(listing(dir.path() / "out"), std::vector<std::string>{"a.bin"});
}

TEST_F(StagingTest, CreateDirsMakesEveryLevelButTheFile) {
  open_loose();
  const std::string base = dir / "out";
  // The second level is named by one double-byte character whose trail byte is 0x5C.
  target.create_dirs((base + "\\a\\\xA6\x5C\\f.dat").c_str());
  EXPECT_TRUE(fs::is_directory(base));
  EXPECT_TRUE(fs::is_directory(dir.path() / "out" / "a"));
  EXPECT_EQ(listing(dir.path() / "out" / "a").size(), 1u);
  EXPECT_FALSE(fs::exists(dir.path() / "out" / "a" / "f.dat"));
}

TEST_F(StagingTest, ImportIntoDirectoryWritesEveryEntry) {
  PakArchive source((dir / "data").c_str(), 5);
  ASSERT_EQ(source.is_open, 1);
  open_loose(1);
  EXPECT_EQ(target.import_pack(source), 1);
  EXPECT_EQ(read_bytes(out_file("alpha.bin")), filled(10, 0x10));
  EXPECT_EQ(read_bytes(out_file("sub/beta.bin")), filled(5, 0x40));
  EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"data.pak", "out"}));
  // The entries stay listed, but their bytes, now in the files, are not held: memory
  // stays bounded by the largest entry, not by the source pack.
  int entries = 0;
  for (const PendingEntry* e = target.pending; e != nullptr; e = e->next, ++entries) {
    EXPECT_TRUE(e->data.empty()) << e->name;
    EXPECT_EQ(e->data.capacity(), 0u) << e->name;
  }
  EXPECT_EQ(entries, 2);
}

// Every write and every flush of an import into a folder fails in turn (and every one
// after it): each file that did not make it is reported and keeps its old bytes, the
// others are new, no temporary file is left; a run that meets no failure writes all.
TEST_F(StagingTest, ImportIntoDirectoryReportsEveryFailedWriteAndFlush) {
  const std::pair<std::string, Bytes> files[] = {{"alpha.bin", filled(10, 0x10)}, {"sub/beta.bin", filled(5, 0x40)}};
  for (const platform::FaultPoint kind : {platform::FaultPoint::write, platform::FaultPoint::flush}) {
    for (std::int64_t from = 0;; ++from) {
      SCOPED_TRACE(testing::Message() << (kind == platform::FaultPoint::write ? "writes" : "flushes")
                                      << " failing from " << from);
      fs::remove_all(dir.path() / "out");
      fs::create_directories(dir.path() / "out" / "sub");
      for (const auto& [name, bytes] : files) write_bytes(out_file(name), bytes_of("old"));
      reporter.problems.clear();
      PakArchive source((dir / "data").c_str(), 5);
      ASSERT_EQ(source.is_open, 1);
      open_loose(1);
      platform::inject_failure_from(kind, from);
      target.import_pack(source);
      const std::int64_t passed = platform::fault_points_passed(kind);
      platform::inject_failure_from(kind, -1);
      target.close();
      std::size_t old_files = 0;
      for (const auto& [name, bytes] : files) {
        const Bytes now = read_bytes(out_file(name));
        EXPECT_TRUE(now == bytes || now == bytes_of("old")) << name;
        old_files += now == bytes_of("old");
      }
      EXPECT_EQ(reporter.problems.size(), old_files);
      EXPECT_EQ(listing(dir.path() / "out"), (std::vector<std::string>{"alpha.bin", "sub"}));
      EXPECT_EQ(listing(dir.path() / "out" / "sub"), std::vector<std::string>{"beta.bin"});
      if (passed <= from) {
        EXPECT_EQ(old_files, 0u);
        EXPECT_GT(from, 0);
        break;
      }
      EXPECT_GT(old_files, 0u);
      if (HasFailure()) break;
    }
  }
}

TEST_F(StagingTest, DirectImportIntoOpenPackWritesFilesAndKeepsBytesForTheRebuild) {
  // The source: the fixture's pack, copied; the target: a pack of its own, direct.
  fs::copy_file(dir / "data.pak", dir / "source.pak");
  PakArchive source((dir / "source").c_str(), 5);
  ASSERT_EQ(source.is_open, 1);
  ASSERT_EQ(target.open((dir / "data").c_str(), 5, 1), 1);
  ASSERT_EQ(target.is_open, 1);
  EXPECT_EQ(target.import_pack(source), 1);
  EXPECT_TRUE(reporter.problems.empty());
  EXPECT_EQ(read_bytes((dir.path() / "data" / "alpha.bin").string()), filled(10, 0x10));  // files below the pack's base
  // The rebuilt pack holds the entries' bytes too (read with the loose files gone).
  target.close();
  fs::remove_all(dir.path() / "data");
  PakArchive rebuilt((dir / "data").c_str(), 5);
  for (const auto& [name, bytes] :
       {std::pair{"alpha.bin", filled(10, 0x10)}, std::pair{"sub\\beta.bin", filled(5, 0x40)}}) {
    EntrySlot* slot = rebuilt.load_entry(name);
    ASSERT_NE(slot, nullptr) << name;
    EXPECT_EQ(Bytes(slot->data, slot->data + slot->size), bytes) << name;
    rebuilt.release_entry(slot);
  }
}

TEST_F(StagingTest, ImportIntoOpenPackAddsNewDirectories) {
  // Source: sub\beta.bin (changed), more\deep\x.bin, more\y.bin, empty\.
  const Bytes beta = literal_stream(filled(6, 1)), x = literal_stream(filled(3, 2)), y = bytes_of("raw y");
  const std::uint32_t root = 4 + 4 * 36, empty = root, more = empty + 40, deep = more + 4 + 3 * 36,
                      x_at = deep + 4 + 2 * 36, y_at = x_at + std::uint32_t(x.size()),
                      sub = y_at + std::uint32_t(y.size()), beta_at = sub + 4 + 2 * 36,
                      end = beta_at + std::uint32_t(beta.size());
  const Bytes source_pack =
      concat({block({{empty, "empty\\"}, {more, "more\\"}, {sub, "sub\\"}, {end, ""}}), block({{more, ""}}),
              block({{deep, "deep\\"}, {y_at, "y.bin"}, {sub, ""}}), block({{x_at, "x.bin"}, {y_at, ""}}), x, y,
              block({{beta_at, "beta.bin"}, {end, ""}}), beta});
  write_bytes(dir / "source.pak", source_pack);
  PakArchive source((dir / "source").c_str(), 5);
  ASSERT_EQ(source.is_open, 1);
  ASSERT_EQ(target.open((dir / "data").c_str(), 5, 0), 1);
  EXPECT_EQ(target.import_pack(source), 1);
  EXPECT_TRUE(reporter.problems.empty());
  EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"data.pak", "source.pak"}));
  // Open again on the merged pack: old alpha.bin, new beta.bin, the new directories.
  EXPECT_EQ(target.is_open, 1);
  EXPECT_NE(target.find_record("alpha.bin"), nullptr);
  EXPECT_NE(target.find_record("empty\\"), nullptr);
  EXPECT_NE(target.find_record("more\\deep\\x.bin"), nullptr);
  EXPECT_NE(target.find_record("more\\y.bin"), nullptr);
  EntrySlot* slot = target.load_entry("sub\\beta.bin");
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(Bytes(slot->data, slot->data + slot->size), filled(6, 1));
  target.release_entry(slot);
  slot = target.load_entry("more\\y.bin");
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(Bytes(slot->data, slot->data + slot->size), y);
  target.release_entry(slot);
}

}  // namespace

namespace {

TEST(PendingLookup, FindsEntriesHowEverTheyWereQueued) {
  PakArchive archive;
  // Queued by hand, as a tool does for a pack built from scratch.
  auto* first = new PendingEntry("a\\b.bin", 0);
  auto* unnamed = new PendingEntry("", 0);
  unnamed->next = first;
  archive.pending = unnamed;
  EXPECT_EQ(archive.find_pending("a\\b.bin"), first);
  EXPECT_EQ(archive.find_pending(""), nullptr);
  // Queued by hand after the lookup built its index.
  auto* shadow = new PendingEntry("a\\b.bin", 0);
  shadow->next = archive.pending;
  archive.pending = shadow;
  EXPECT_EQ(archive.find_pending("a\\b.bin"), shadow);  // the first from the head
  archive.release_pending();
  EXPECT_EQ(archive.pending, nullptr);
  EXPECT_EQ(archive.find_pending("a\\b.bin"), nullptr);
}

}  // namespace
