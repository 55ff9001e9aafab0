// Rebuilding packs: exact bytes of merged packs, refusals before anything is written,
// and failures that leave the old pack as it was.

#include <gtest/gtest.h>

#include "encode/encoder.h"
#include "pak/archive.h"
#include "pak_test_util.h"
#include "platform/files.h"
#include "platform/write_faults.h"

using namespace pak_test;

namespace {

class RebuildTest : public ::testing::Test {
 protected:
  // Writes bytes as data.pak in the scratch directory and opens the archive on it.
  void open_pack(const Bytes& bytes) {
    old_bytes = bytes;
    archive.close();  // a mapped file cannot be rewritten on Windows
    write_bytes(pack_path(), bytes);
    ASSERT_EQ(archive.open(base().c_str(), 5, 0), 1);
    ASSERT_EQ(archive.is_open, 1);
    archive.reporter = &reporter;
  }
  std::string base() const { return dir / "data"; }
  std::string pack_path() const { return base() + ".pak"; }
  int rebuild() { return archive.rebuild((base() + "temp").c_str(), 1); }
  void stage(const std::string& name, const Bytes& bytes) {
    ASSERT_EQ(archive.stage_entry(name.c_str(), bytes.data(), std::uint32_t(bytes.size())), 1) << name;
  }
  void stage_without_bytes(const std::string& name) {
    ASSERT_EQ(archive.stage_entry(name.c_str(), nullptr, 0), 1) << name;
  }
  // The archive failed its rebuild: the old pack is untouched and open, no temporary
  // file is left, the staged entries are still there.
  void expect_unchanged() {
    EXPECT_EQ(read_bytes(pack_path()), old_bytes);
    EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"data.pak"});
    EXPECT_EQ(archive.is_open, 1);
    EXPECT_NE(archive.pending, nullptr);
    EXPECT_TRUE(archive.build_dirs.empty());
  }

  ScratchDir dir;
  PakArchive archive;
  RecordingReporter reporter;
  Bytes old_bytes;
};

TEST_F(RebuildTest, WorkedExampleMergesRemoveReplaceAndNew) {
  open_pack(example_pack());
  const Bytes beta = literal_stream(filled(14, 0x61));  // 30 bytes
  const Bytes gamma = literal_stream(filled(9, 0x30));  // 25 bytes
  ASSERT_EQ(beta.size(), 30u);
  ASSERT_EQ(gamma.size(), 25u);
  stage_without_bytes("alpha.bin");
  stage("sub\\beta.bin", beta);
  stage("gamma.bin", gamma);
  EXPECT_EQ(archive.find_pending("alpha.bin")->state, PENDING_REMOVE);
  EXPECT_EQ(archive.find_pending("sub\\beta.bin")->state, PENDING_REPLACE);
  EXPECT_EQ(archive.find_pending("gamma.bin")->state, PENDING_NEW);

  ASSERT_EQ(rebuild(), 1);
  const Bytes expected = concat(
      {block({{112, "gamma.bin"}, {137, "sub\\"}, {243, ""}}), gamma, block({{213, "beta.bin"}, {243, ""}}), beta});
  ASSERT_EQ(expected.size(), 243u);
  EXPECT_EQ(read_bytes(pack_path()), expected);
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"data.pak"});
  // Reopened on the new pack, nothing staged any more.
  EXPECT_EQ(archive.is_open, 1);
  EXPECT_EQ(archive.slot_count, 5u);
  EXPECT_EQ(archive.pending, nullptr);
  EXPECT_EQ(archive.find_record("alpha.bin"), nullptr);
  EXPECT_NE(archive.find_record("GAMMA.BIN"), nullptr);
  EXPECT_TRUE(reporter.problems.empty());
}

TEST_F(RebuildTest, NothingStagedReproducesThePack) {
  // The example pack, plus an empty directory, an empty file and a 31-byte name.
  const std::string long_name(31, 'n');
  const std::uint32_t alpha = 4 + 5 * 36, empty = alpha + 10, named = empty + 40, sub = named + 3;
  const std::uint32_t beta = sub + 4 + 3 * 36, end = beta + 5;
  const Bytes pack = concat(
      {block({{alpha, "alpha.bin"}, {empty, "empty\\"}, {named, long_name}, {sub, "sub\\"}, {end, ""}}), filled(10, 1),
       block({{named, ""}}), filled(3, 9), block({{beta, "beta.bin"}, {end, "zero"}, {end, ""}}), filled(5, 7)});
  open_pack(pack);
  ASSERT_EQ(rebuild(), 1);
  EXPECT_EQ(read_bytes(pack_path()), pack);
  // A second round gives the same bytes again.
  ASSERT_EQ(rebuild(), 1);
  EXPECT_EQ(read_bytes(pack_path()), pack);
}

TEST_F(RebuildTest, RawEntryIsEncodedAndOldRawEntryStaysRaw) {
  open_pack(example_pack());
  const Bytes raw = bytes_of("hello hello hello hello, raw data");
  stage("sub\\new.txt", raw);
  ASSERT_EQ(rebuild(), 1);
  MemorySink sink;
  const std::uint32_t length = encode_stream(sink, raw.data(), std::int32_t(raw.size()));
  const Bytes stream = sink.take();
  ASSERT_EQ(stream.size(), length);
  // sub\ now holds beta.bin and new.txt, sorted.
  const std::uint32_t sub = 112 + 10, beta = sub + 4 + 3 * 36, fresh = beta + 5, end = fresh + length;
  const Bytes expected = concat({block({{112, "alpha.bin"}, {sub, "sub\\"}, {end, ""}}), filled(10, 0x10),
                                 block({{beta, "beta.bin"}, {fresh, "new.txt"}, {end, ""}}), filled(5, 0x40), stream});
  EXPECT_EQ(read_bytes(pack_path()), expected);
}

TEST_F(RebuildTest, NewDirectoriesNeedADirectoryEntry) {
  open_pack(example_pack());
  stage("lost\\file.bin", bytes_of("raw bytes"));  // no directory entry: left out, reported
  stage_without_bytes("new\\");
  stage_without_bytes("new\\deeper\\");
  stage("new\\deeper\\f.bin", literal_stream(filled(3, 1)));
  stage_without_bytes("bare\\");
  ASSERT_EQ(rebuild(), 1);
  ASSERT_EQ(reporter.problems.size(), 1u);
  EXPECT_NE(reporter.problems[0].path.find("lost\\file.bin"), std::string::npos);

  PakArchive check((base()).c_str(), 5);
  ASSERT_EQ(check.is_open, 1);
  EXPECT_EQ(check.find_record("lost\\file.bin"), nullptr);
  EXPECT_EQ(check.find_record("lost\\"), nullptr);
  EXPECT_NE(check.find_record("new\\deeper\\f.bin"), nullptr);
  // An empty staged directory is a 40-byte block: count 1, end record at its end.
  const std::uint8_t* bare = check.find_record("bare\\");
  ASSERT_NE(bare, nullptr);
  const std::uint32_t at = load_u32(bare);
  EXPECT_EQ(load_u32(check.view + at), 1u);
  EXPECT_EQ(load_u32(check.view + at + 4), at + 40);
  // The root table is sorted: alpha.bin, bare\, new\, sub\.
  const std::vector<std::string> names = {"alpha.bin", "bare\\", "new\\", "sub\\"};
  ASSERT_EQ(check.root_count, 5u);
  for (std::size_t i = 0; i < names.size(); ++i)
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(check.root_records + i * 36 + 4)), names[i]);
}

TEST_F(RebuildTest, RemovedDirectoryTakesItsContents) {
  open_pack(example_pack());
  stage_without_bytes("sub\\");
  ASSERT_EQ(rebuild(), 1);
  EXPECT_EQ(read_bytes(pack_path()), concat({block({{76, "alpha.bin"}, {86, ""}}), filled(10, 0x10)}));
}

TEST_F(RebuildTest, DirectorySortsByItsBackslash) {
  open_pack(example_pack());
  stage("sub.txt", literal_stream({1}));
  stage("sub_txt", literal_stream({2}));
  ASSERT_EQ(rebuild(), 1);
  const std::vector<std::string> names = {"alpha.bin", "sub.txt", "sub\\", "sub_txt"};
  for (std::size_t i = 0; i < names.size(); ++i)
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(archive.root_records + i * 36 + 4)), names[i]);
}

TEST_F(RebuildTest, DoubleByteNamesSplitOnlyAtRealSeparators) {
  // B3 5C and A6 5C are characters whose second byte is 0x5C.
  open_pack(example_pack());
  const std::string dir_name = "\xA6\x5C\\";  // a directory named by one character
  const std::string file_name =
      "\xB3\x5C"
      "x.bin";  // a file whose name holds a 0x5C trail byte
  stage_without_bytes(dir_name);
  stage(dir_name + "\xB3\x5C", literal_stream({7}));  // a file whose name ends in a trail byte
  stage(file_name, literal_stream({8}));
  ASSERT_EQ(rebuild(), 1);
  EXPECT_TRUE(reporter.problems.empty());
  PakArchive check(base().c_str(), 5);
  EXPECT_NE(check.find_record(file_name.c_str()), nullptr);
  const std::uint8_t* inner = check.find_record((dir_name + "\xB3\x5C").c_str());
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(inner + 4)), "\xB3\x5C");
}

TEST_F(RebuildTest, WithoutReplaceTheNewPackStandsBeside) {
  open_pack(example_pack());
  stage("gamma.bin", literal_stream({1, 2}));
  ASSERT_EQ(archive.rebuild((base() + "temp").c_str(), 0), 1);
  EXPECT_EQ(read_bytes(pack_path()), old_bytes);
  EXPECT_EQ(archive.rebuilt_path, base() + "temp.pak");
  EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"data.pak", "datatemp.pak"}));
  EXPECT_EQ(archive.pending, nullptr);
  EXPECT_EQ(archive.is_open, 1);
  EXPECT_NE(archive.find_record("alpha.bin"), nullptr);
}

TEST_F(RebuildTest, TakenTemporaryNameIsLeftAlone) {
  const Bytes bystander = bytes_of("a pack of the game that happens to be called datatemp.pak");
  write_bytes(dir / "datatemp.pak", bystander);
  open_pack(example_pack());
  stage_without_bytes("alpha.bin");
  ASSERT_EQ(rebuild(), 1);
  EXPECT_EQ(read_bytes(dir / "datatemp.pak"), bystander);
  EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"data.pak", "datatemp.pak"}));
  EXPECT_EQ(archive.find_record("alpha.bin"), nullptr);
}

TEST_F(RebuildTest, TemporaryPackThatCannotBeCreatedKeepsEverything) {
  open_pack(example_pack());
  stage("gamma.bin", literal_stream({1}));
  EXPECT_EQ(archive.rebuild(((dir.path() / "no-such-dir" / "datatemp").string()).c_str(), 1), 0);
  EXPECT_EQ(reporter.problems.size(), 1u);
  expect_unchanged();
  ASSERT_EQ(rebuild(), 1);  // a second call can try again
  EXPECT_NE(archive.find_record("gamma.bin"), nullptr);
}

TEST_F(RebuildTest, NamesThatDoNotFitRefuseTheWholeRebuild) {
  const std::string cases[] = {
      std::string(32, 'x'),            // 32-byte file name
      std::string(31, 'y') + "\\",     // 32-byte directory name with its backslash
      "sub\\" + std::string(32, 'z'),  // too long below a directory
  };
  for (const std::string& name : cases) {
    SCOPED_TRACE(name);
    open_pack(example_pack());
    stage("gamma.bin", literal_stream({1}));
    stage(name, literal_stream({2}));
    reporter.problems.clear();
    EXPECT_EQ(rebuild(), 0);
    ASSERT_EQ(reporter.problems.size(), 1u);
    EXPECT_NE(reporter.problems[0].text.find("31 bytes"), std::string::npos);
    expect_unchanged();
    archive.release_pending();
  }
}

TEST_F(RebuildTest, UnsafeStagedNamesAreRefused) {
  open_pack(example_pack());
  const char* names[] = {"",     "\\lead.bin", "..\\up.bin", "a\\..\\b", "c:\\x",  "sub\\con.txt",
                         "LPT1", "dot.",       "space \\f",  "a\\\\b",   "sl/ash", "com9.log"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    const Bytes bytes = literal_stream({1});
    EXPECT_EQ(archive.stage_entry(name, bytes.data(), std::uint32_t(bytes.size())), 0);
  }
  EXPECT_EQ(archive.pending, nullptr);
  EXPECT_EQ(reporter.problems.size(), std::size(names));
}

TEST_F(RebuildTest, BrokenStreamIsNotStaged) {
  open_pack(example_pack());
  Bytes broken = literal_stream(filled(12, 1));
  store_u32(broken.data() + 6, 40);  // claims more than its items give
  EXPECT_EQ(archive.stage_entry("sub\\beta.bin", broken.data(), std::uint32_t(broken.size())), 0);
  EXPECT_EQ(archive.pending, nullptr);
  ASSERT_EQ(reporter.problems.size(), 1u);
  EXPECT_NE(reporter.problems[0].path.find("sub\\beta.bin"), std::string::npos);
}

TEST_F(RebuildTest, UnsortedOldTableGivesNoDuplicateRecord) {
  // zeta.bin before alpha.bin: a binary search misses one of them, a walk does not.
  open_pack(concat({block({{148, "zeta.bin"}, {150, "alpha.bin"}, {152, "beta.bin"}, {154, ""}}), bytes_of("zzaabb")}));
  // Whatever staging made of the names, each ends up in the new pack once.
  stage("zeta.bin", literal_stream({1}));
  stage("alpha.bin", literal_stream({2}));
  ASSERT_EQ(rebuild(), 1);
  ASSERT_EQ(archive.root_count, 4u);
  const std::vector<std::string> names = {"alpha.bin", "beta.bin", "zeta.bin"};
  for (std::size_t i = 0; i < names.size(); ++i)
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(archive.root_records + i * 36 + 4)), names[i]);
}

TEST_F(RebuildTest, FullDiskKeepsTheOldPack) {
  // Large enough that the failure can hit the table, the data and the patching.
  auto prepare = [&] {
    open_pack(example_pack());
    Bytes payload(3000);
    std::uint32_t noise = 1;
    for (auto& byte : payload) byte = std::uint8_t((noise = noise * 1103515245 + 12345) >> 24);  // incompressible
    stage("big.bin", payload);
    stage("sub\\beta.bin", literal_stream(filled(20, 5)));
  };
  prepare();
  for (std::int64_t limit : {0, 1, 4, 100, 150, 300, 1000, 2000}) {
    SCOPED_TRACE(limit);
    reporter.problems.clear();
    platform::inject_write_failure_after(limit);
    const int result = rebuild();
    platform::inject_write_failure_after(-1);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(reporter.problems.size(), 1u);
    expect_unchanged();
    EXPECT_NE(archive.find_record("alpha.bin"), nullptr);
  }
  // The staged entries survived, so a second attempt succeeds.
  ASSERT_EQ(rebuild(), 1);
  EXPECT_NE(archive.find_record("big.bin"), nullptr);

  // Every write of the rebuild, and the flush of the temporary pack, fails in turn (and
  // every one after it): each is reported and keeps the old pack, until a rebuild that
  // meets no failure succeeds.
  for (const platform::FaultPoint kind : {platform::FaultPoint::write, platform::FaultPoint::flush}) {
    prepare();
    for (std::int64_t from = 0;; ++from) {
      SCOPED_TRACE(testing::Message() << (kind == platform::FaultPoint::write ? "writes" : "flushes")
                                      << " failing from " << from);
      reporter.problems.clear();
      platform::inject_failure_from(kind, from);
      const int result = rebuild();
      const std::int64_t passed = platform::fault_points_passed(kind);
      platform::inject_failure_from(kind, -1);
      if (passed <= from) {
        EXPECT_EQ(result, 1);
        EXPECT_NE(archive.find_record("big.bin"), nullptr);
        EXPECT_GT(from, 0);
        break;
      }
      EXPECT_EQ(result, 0);
      EXPECT_EQ(reporter.problems.size(), 1u);
      expect_unchanged();
      if (HasFailure()) break;
    }
  }
}

// Staged raw entries of many sizes, some as bytes and some as files to be read when
// written, on 1 and 3 encoding threads: one pack, the same as with every entry given
// as bytes.
TEST_F(RebuildTest, EntriesReadFromFilesAndEncodedOnThreadsGiveTheSamePack) {
  ScratchDir sources;
  std::vector<std::pair<std::string, Bytes>> entries;
  std::uint32_t noise = 3;
  // Names appended, not "f" + ...: MinGW's -O3 gives a false restrict warning on that.
  auto source = [&](std::size_t i) {
    std::string name = std::to_string(i);
    name.insert(name.begin(), 'f');
    return sources / name;
  };
  for (int i = 0; i < 12; ++i) {
    Bytes bytes(std::size_t(i * 997 % 9000));
    for (std::size_t k = 0; k < bytes.size(); ++k)
      bytes[k] = std::uint8_t(((noise = noise * 1103515245 + 12345) >> 28) + k / 50);
    std::string name = i % 2 ? "sub\\f" : "g";
    name += std::to_string(i);
    entries.emplace_back(name, bytes);
    write_bytes(source(std::size_t(i)), bytes);
  }
  auto build = [&](bool from_files, unsigned threads) {
    open_pack(example_pack());
    archive.encode_threads = threads;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      stage(entries[i].first, from_files && i % 3 != 0 ? Bytes{} : entries[i].second);
      if (!from_files || i % 3 == 0) continue;
      PendingEntry* entry = archive.find_pending(entries[i].first.c_str());
      entry->data_path = source(i);
      entry->size = std::uint32_t(entries[i].second.size());
    }
    EXPECT_EQ(rebuild(), 1);
    EXPECT_TRUE(reporter.problems.empty());
    return read_bytes(pack_path());
  };
  const Bytes expected = build(false, 1);
  EXPECT_EQ(build(true, 1), expected);
  EXPECT_EQ(build(true, 3), expected);
  EXPECT_EQ(build(false, 3), expected);
}

TEST_F(RebuildTest, AnEntryFileThatCannotBeReadKeepsTheOldPack) {
  ScratchDir sources;
  for (unsigned threads : {1u, 2u}) {
    SCOPED_TRACE(threads);
    open_pack(example_pack());
    archive.encode_threads = threads;
    reporter.problems.clear();
    for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
      stage(name, bytes_of(name));
      archive.find_pending(name)->data_path = sources / name;  // none of them exists
    }
    EXPECT_EQ(rebuild(), 0);
    ASSERT_EQ(reporter.problems.size(), 1u);
    EXPECT_NE(reporter.problems[0].text.find("cannot read"), std::string::npos);
    expect_unchanged();
    archive.release_pending();
  }
}

TEST_F(RebuildTest, DamagedOldPackIsRefused) {
  const Bytes cases[] = {
      concat({block({{400, "far.bin"}, {500, ""}})}),                                   // entry outside the pack
      concat({block({{76, "big\\"}, {200, ""}}), Bytes{100, 0, 0, 0}, Bytes(120, 0)}),  // table past the end
      concat({block({{0, "self\\"}, {100, ""}}), Bytes(24, 0)}),  // directory pointing at the root
  };
  for (const Bytes& pack : cases) {
    open_pack(pack);
    stage("x.bin", literal_stream({1}));
    reporter.problems.clear();
    EXPECT_EQ(rebuild(), 0);
    EXPECT_EQ(reporter.problems.size(), 1u);
    expect_unchanged();
    archive.release_pending();
  }
}

}  // namespace
