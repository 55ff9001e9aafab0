// Reading packs: layout, lookups, slots, EnCode entries, loose files and damage.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pak/archive.h"
#include "tests/pak/pack_builder.h"

namespace {

using pak_test::Bytes;
using pak_test::bytes_of;
using pak_test::PackBuilder;
using pak_test::put_u32;
using pak_test::record_at;

// The three-entry example pack, written out field by field.
Bytes example_pack() {
  Bytes pack(203, 0);
  auto name = [&](std::size_t at, const char* text) { std::memcpy(pack.data() + at + 4, text, std::strlen(text)); };
  put_u32(pack, 0, 3);
  put_u32(pack, 4, 112);
  name(4, "alpha.bin");
  put_u32(pack, 40, 122);
  name(40, "sub\\");
  put_u32(pack, 76, 203);
  for (int i = 0; i < 10; ++i) pack[112 + i] = std::uint8_t('0' + i);
  put_u32(pack, 122, 2);
  put_u32(pack, 126, 198);
  name(126, "beta.bin");
  put_u32(pack, 162, 203);
  std::memcpy(pack.data() + 198, "BETA!", 5);
  return pack;
}

std::uint32_t record_offset(const std::uint8_t* record) { return load_u32(record); }

TEST(PackLayout, ExamplePackMatchesTheBuilderAndIsFound) {
  const Bytes pack = example_pack();
  ASSERT_EQ(pack, PackBuilder::build({{"sub\\beta.bin", bytes_of("BETA!")}, {"alpha.bin", bytes_of("0123456789")}}));

  PakArchive archive;
  ASSERT_EQ(archive.open_memory(pack.data(), pack.size(), 5), 1);
  EXPECT_EQ(archive.is_open, 1);
  EXPECT_EQ(archive.root_count, 3u);
  EXPECT_EQ(archive.root_records, pack.data() + 4);

  const std::uint8_t* alpha = archive.find_record("alpha.bin");
  const std::uint8_t* sub = archive.find_record("sub\\");
  const std::uint8_t* beta = archive.find_record("SUB\\Beta.bin");
  ASSERT_TRUE(alpha && sub && beta);
  EXPECT_EQ(alpha, pack.data() + 4);
  EXPECT_EQ(sub, pack.data() + 40);
  EXPECT_EQ(beta, pack.data() + 126);
  EXPECT_EQ(record_offset(beta), 198u);

  // Spans: 10, 81 and 5.
  EXPECT_EQ(record_offset(sub) - record_offset(alpha), 10u);
  EXPECT_EQ(203u - record_offset(sub), 81u);

  EntrySlot* slot = archive.load_entry("Sub\\BETA.BIN");
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot->owns_data, 0);
  EXPECT_EQ(slot->size, 5);
  EXPECT_EQ(slot->data, pack.data() + 198);
  EXPECT_EQ(archive.release_entry(slot), 1);
}

TEST(PackLayout, EmptyPackHoldsNothing) {
  const Bytes pack = PackBuilder::build({});
  ASSERT_EQ(pack.size(), 40u);
  EXPECT_EQ(load_u32(pack.data()), 1u);
  EXPECT_EQ(load_u32(pack.data() + 4), 40u);
  EXPECT_EQ(std::vector<std::uint8_t>(pack.begin() + 8, pack.end()), std::vector<std::uint8_t>(32, 0));

  PakArchive archive;
  ASSERT_EQ(archive.open_memory(pack.data(), pack.size(), 5), 1);
  EXPECT_EQ(archive.root_count, 1u);
  EXPECT_EQ(archive.find_record("a"), nullptr);
  EXPECT_EQ(archive.load_entry("a"), nullptr);
}

TEST(PackLayout, EmptyEntryAndEmptyDirectory) {
  const Bytes pack = PackBuilder::build({{"empty.bin", {}}, {"nothing\\", {}}, {"z.bin", bytes_of("z")}});
  PakArchive archive;
  ASSERT_EQ(archive.open_memory(pack.data(), pack.size(), 5), 1);
  const std::uint8_t* empty = archive.find_record("empty.bin");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(record_offset(empty), record_offset(empty + PAK_RECORD_SIZE));
  EntrySlot* slot = archive.load_entry("empty.bin");
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot->size, 0);

  const std::uint8_t* nothing = archive.find_record("nothing\\");
  ASSERT_NE(nothing, nullptr);
  EXPECT_EQ(load_u32(pack.data() + record_offset(nothing)), 1u);  // a 40-byte block
  EXPECT_EQ(archive.find_record("nothing\\z.bin"), nullptr);
  EXPECT_NE(archive.find_record("z.bin"), nullptr);
}

TEST(PackLayout, NameLengthLimit) {
  const std::string longest(31, 'n');
  const Bytes pack = PackBuilder::build({{longest, bytes_of("x")}});
  EXPECT_EQ(pack[4 + 4 + 30], 'n');
  EXPECT_EQ(pack[4 + 4 + 31], 0);  // the NUL fills the last byte of the field
  PakArchive archive;
  ASSERT_EQ(archive.open_memory(pack.data(), pack.size(), 5), 1);
  EXPECT_NE(archive.find_record(longest.c_str()), nullptr);
  EXPECT_EQ(archive.find_record((longest + "n").c_str()), nullptr);
}

TEST(PackLayout, UnfoldedStoredNameIsNeverFound) {
  const Bytes pack = PackBuilder::build({{"Alpha.bin", bytes_of("a")}, {"beta.bin", bytes_of("b")}});
  PakArchive archive;
  ASSERT_EQ(archive.open_memory(pack.data(), pack.size(), 5), 1);
  EXPECT_EQ(archive.find_record("Alpha.bin"), nullptr);
  EXPECT_EQ(archive.find_record("alpha.bin"), nullptr);
  EXPECT_NE(archive.find_record("BETA.BIN"), nullptr);
}

TEST(FoldName, FoldsAsciiCapitalsAndKeepsDoubleByteCharacters) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"SUB\\Beta.BIN", "sub\\beta.bin"},
      {"", ""},
      {"@[`{", "@[`{"},  // neighbours of the A-Z range stay
      {"\xA4"
       "A"
       "B",
       "\xA4"
       "A"
       "b"},                   // the byte after a lead byte is kept
      {"\xB3\\X", "\xB3\\x"},  // 0x5C trail byte, then a letter
      {"\x81"
       "A",
       "\x81"
       "a"},               // below 0xA0: no lead byte for folding
      {"X\xFF", "x\xFF"},  // a lead byte at the very end
      {"\xA4\xA4"
       "A",
       "\xA4\xA4"
       "a"},  // a lead byte as trail byte is kept
  };
  for (const auto& c : cases) {
    std::string text = c.in;
    fold_name(text);
    EXPECT_EQ(text, c.out) << c.in;
    std::vector<char> buffer(c.in.begin(), c.in.end());
    buffer.push_back(0);
    fold_name(buffer.data());
    EXPECT_STREQ(buffer.data(), c.out.c_str()) << c.in;
  }
}

// Every stored name is found at every depth and table size; names between, before and
// after them are not.
TEST(PackLookup, FindsEntryIfAndOnlyIfPresent) {
  for (int n = 1; n <= 9; ++n) {
    std::vector<pak_test::Entry> entries;
    for (int i = 0; i < n; ++i) {
      entries.push_back({std::string("f") + std::to_string(i * 2 + 1), bytes_of("x")});
      entries.push_back({std::string("d\\e\\f") + std::to_string(i * 2 + 1), bytes_of("y")});
    }
    const Bytes pack = PackBuilder::build(entries);
    PakArchive archive;
    ASSERT_EQ(archive.open_memory(pack.data(), pack.size(), 5), 1);
    for (int i = 0; i <= 2 * n; ++i) {
      const bool present = i % 2 == 1;
      std::string name = "f";
      name += std::to_string(i);
      EXPECT_EQ(archive.find_record(name.c_str()) != nullptr, present) << n << " " << name;
      EXPECT_EQ(archive.find_record((std::string("D\\E\\") + name).c_str()) != nullptr, present) << n << " " << name;
    }
    EXPECT_EQ(archive.find_record("f"), nullptr);
    EXPECT_EQ(archive.find_record("g"), nullptr);
    EXPECT_EQ(archive.find_record("d"), nullptr);
    EXPECT_EQ(archive.find_record("d\\e"), nullptr);
    EXPECT_EQ(archive.find_record("f1\\"), nullptr);
  }
}

TEST(PackLookup, PathEndingInBackslashGivesTheDirectoryRecord) {
  const Bytes pack = PackBuilder::build({{"a\\b\\c\\f.bin", bytes_of("f")}});
  PakArchive archive;
  ASSERT_EQ(archive.open_memory(pack.data(), pack.size(), 5), 1);
  for (const char* path : {"a\\", "A\\B\\", "a\\b\\c\\"}) {
    const std::uint8_t* record = archive.find_record(path);
    ASSERT_NE(record, nullptr) << path;
    const std::string name(reinterpret_cast<const char*>(record + 4));
    EXPECT_EQ(name.back(), '\\');
  }
  EXPECT_EQ(archive.find_record(""), nullptr);
  EXPECT_EQ(archive.find_record(nullptr), nullptr);
  EXPECT_EQ(archive.find_record("a\\b\\c\\f.bin\\"), nullptr);
  EXPECT_EQ(archive.load_entry("a\\b\\"), nullptr);  // a directory is no entry
}

TEST(PackLookup, TrailByteBackslashDoesNotSplit) {
  // B3 5C is one double-byte character: a file of that name, and a directory whose
  // name holds it.
  const std::string character = "\xB3\\";
  const Bytes pack = PackBuilder::build({{character, bytes_of("one")},
                                         {character + ".txt", bytes_of("two")},
                                         {std::string("d") + character + "\\x.bin", bytes_of("three")}});
  PakArchive archive;
  ASSERT_EQ(archive.open_memory(pack.data(), pack.size(), 5), 1);
  for (const auto& [path, content] : {std::pair{character, "one"}, std::pair{character + ".TXT", "two"},
                                      std::pair{std::string("D") + character + "\\X.bin", "three"}}) {
    EntrySlot* slot = archive.load_entry(path.c_str());
    ASSERT_NE(slot, nullptr) << path;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(slot->data), slot->size), content);
    archive.release_entry(slot);
  }
  EXPECT_EQ(archive.find_record((std::string("d") + character).c_str()), nullptr);
}

TEST(PackLookup, OverLongPathsAreRefused) {
  const Bytes pack = PackBuilder::build({{"a", bytes_of("a")}});
  PakArchive archive;
  ASSERT_EQ(archive.open_memory(pack.data(), pack.size(), 5), 1);
  const std::string deep = std::string(258, '\\') + "a";  // 259 bytes: long, but fine
  EXPECT_EQ(archive.find_record(deep.c_str()), nullptr);
  const std::string too_long = std::string(PAK_MAX_PATH_LENGTH + 1, 'a');
  EXPECT_EQ(archive.find_record(too_long.c_str()), nullptr);
  EXPECT_EQ(archive.load_entry(too_long.c_str()), nullptr);
}

TEST(PackSlots, SlotsRunOutAndComeBack) {
  const Bytes pack = PackBuilder::build({{"a", bytes_of("a")}});
  PakArchive archive;
  ASSERT_EQ(archive.open_memory(pack.data(), pack.size(), 2), 1);
  EntrySlot* first = archive.load_entry("a");
  EntrySlot* second = archive.load_entry("a");
  ASSERT_TRUE(first && second);
  EXPECT_NE(first, second);
  EXPECT_EQ(archive.load_entry("a"), nullptr);
  EXPECT_EQ(archive.release_entry(first), 1);
  EXPECT_EQ(archive.release_entry(first), 0);  // not in use any more: nothing changes
  EXPECT_EQ(archive.release_entry(nullptr), 0);
  EXPECT_EQ(archive.load_entry("a"), first);
  EXPECT_EQ(archive.load_entry(""), nullptr);
  EXPECT_EQ(archive.load_entry(nullptr), nullptr);
}

TEST(PackEntries, EnCodeEntriesComeBackDecoded) {
  // "abcabcabc": three literals and a reference that copies six bytes from slot 0.
  const Bytes abc = pak_test::stream_of(9, {0x07, 'a', 'b', 'c', 0xF0, 0xF3});
  Bytes odd_magic = abc;
  odd_magic[4] = 'X';
  odd_magic[5] = 'Y';
  const Bytes pack = PackBuilder::build({{"abc", abc},
                                         {"odd", odd_magic},
                                         {"lit", pak_test::literal_stream(bytes_of("literal bytes!"))},
                                         {"short", bytes_of("EnCode\x01")},
                                         {"empty", pak_test::stream_of(0, {})}});
  PakArchive archive;
  ASSERT_EQ(archive.open_memory(pack.data(), pack.size(), 5), 1);
  struct Case {
    const char* path;
    std::string content;
    int owns;
  } cases[] = {
      {"abc", "abcabcabc", 1},
      {"odd", "abcabcabc", 1},  // the loader looks at four bytes only
      {"lit", "literal bytes!", 1},
      {"short", "EnCode\x01", 0},  // under ten bytes: raw
      {"empty", "", 1},
  };
  for (const auto& c : cases) {
    EntrySlot* slot = archive.load_entry(c.path);
    ASSERT_NE(slot, nullptr) << c.path;
    EXPECT_EQ(slot->owns_data, c.owns) << c.path;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(slot->data), slot->size), c.content) << c.path;
    EXPECT_EQ(archive.release_entry(slot), 1);
    EXPECT_EQ(slot->data, nullptr);
  }
}

// Damaged packs: each case is a sound pack with one field overwritten. Lookups of the
// damaged part find nothing; nothing is read outside the pack (checked by ASan).
TEST(PackDamage, DamagedPacksGiveNotFound) {
  const Bytes base = example_pack();  // records: root 4, 40, 76; sub block 122: 126, 162
  struct Case {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    std::vector<const char*> missing;
    std::vector<const char*> present;
  } cases[] = {
      {"file offset past the end", 4, 1000, {"alpha.bin"}, {"sub\\beta.bin"}},
      {"negative span", 4, 150, {"alpha.bin"}, {"sub\\beta.bin"}},
      {"end record past the end", 162, 204, {"sub\\beta.bin"}, {"alpha.bin"}},
      {"subdirectory block past the end", 40, 202, {"sub\\beta.bin", "sub\\"}, {"alpha.bin"}},
      {"nested count runs past the end", 122, 3, {"sub\\beta.bin", "sub\\"}, {"alpha.bin"}},
      {"nested count zero", 122, 0, {"sub\\beta.bin"}, {"alpha.bin"}},
      {"nested count huge", 122, 0xFFFFFFFF, {"sub\\beta.bin"}, {"alpha.bin"}},
      // These two also give alpha.bin a negative span.
      {"subdirectory is the root", 40, 0, {"sub\\sub\\beta.bin", "sub\\beta.bin", "sub\\", "alpha.bin"}, {}},
      {"subdirectory inside the root table", 40, 40, {"sub\\beta.bin", "alpha.bin"}, {}},
      {"empty subdirectory by its span", 76, 122, {"sub\\beta.bin"}, {"alpha.bin", "sub\\"}},
      {"name without NUL", 4 + 4 + 28, 0x41414141, {"alpha.bin"}, {"sub\\beta.bin"}},
  };
  for (const auto& c : cases) {
    Bytes pack = base;
    put_u32(pack, c.at, c.value);
    if (std::string(c.what) == "name without NUL") std::memset(pack.data() + 8, 'a', 32);
    PakArchive archive;
    ASSERT_EQ(archive.open_memory(pack.data(), pack.size(), 5), 1) << c.what;
    for (const char* path : c.missing) {
      EXPECT_EQ(archive.find_record(path), nullptr) << c.what << ": " << path;
      EXPECT_EQ(archive.load_entry(path), nullptr) << c.what << ": " << path;
    }
    for (const char* path : c.present) EXPECT_NE(archive.find_record(path), nullptr) << c.what << ": " << path;
  }
}

TEST(PackDamage, SubdirectoryLoopsAreNotFollowed) {
  // A chain of directories whose deepest one points back at its parent's block.
  Bytes pack = PackBuilder::build({{"a\\b\\c\\f", bytes_of("f")}});
  PakArchive archive;
  ASSERT_EQ(archive.open_memory(pack.data(), pack.size(), 5), 1);
  const std::uint8_t* b = archive.find_record("a\\b\\");
  const std::uint8_t* c = archive.find_record("a\\b\\c\\");
  ASSERT_TRUE(b && c);
  put_u32(pack, std::size_t(c - pack.data()), record_offset(archive.find_record("a\\")));
  EXPECT_EQ(archive.find_record("a\\b\\c\\b\\c\\f"), nullptr);
  EXPECT_EQ(archive.find_record("a\\b\\c\\b\\"), nullptr);
}

TEST(PackDamage, DamagedRootTableIsNotOpened) {
  Bytes huge = example_pack();
  put_u32(huge, 0, 6);  // 4 + 6 * 36 > 203
  Bytes zero = example_pack();
  put_u32(zero, 0, 0);
  const Bytes tiny = {1, 0, 0};
  for (const Bytes* pack : std::vector<const Bytes*>{&huge, &zero, &tiny}) {
    PakArchive archive;
    EXPECT_EQ(archive.open_memory(pack->data(), pack->size(), 5), 0);
    EXPECT_EQ(archive.is_open, 0);
    EXPECT_EQ(archive.slots.size(), 0u);
    EXPECT_EQ(archive.find_record("alpha.bin"), nullptr);
    EXPECT_EQ(archive.load_entry("alpha.bin"), nullptr);
  }
}

TEST(PackDamage, MalformedEnCodeEntriesAreNotHandedOut) {
  const Bytes abc = pak_test::stream_of(9, {0x07, 'a', 'b', 'c', 0xF0, 0xF3});
  Bytes wrong_size = abc;
  store_u32(wrong_size.data() + 6, 10);
  Bytes truncated = abc;
  truncated.pop_back();  // stream_size still counts the missing byte
  Bytes unwritten_slot = abc;
  unwritten_slot[18] = 0x10;  // copies from slot 32, not yet written
  Bytes implausible = abc;
  store_u32(implausible.data() + 6, 0xFFFFFFF0);
  const Bytes pack = PackBuilder::build({{"wrong_size", wrong_size},
                                         {"truncated", truncated},
                                         {"unwritten", unwritten_slot},
                                         {"implausible", implausible},
                                         {"zz", abc}});
  PakArchive archive;
  ASSERT_EQ(archive.open_memory(pack.data(), pack.size(), 1), 1);
  for (const char* path : {"wrong_size", "truncated", "unwritten", "implausible"})
    EXPECT_EQ(archive.load_entry(path), nullptr) << path;
  EXPECT_NE(archive.load_entry("zz"), nullptr);  // the one slot was never taken
}

// Packs and loose files on disk under a fresh directory.
class PackFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = std::filesystem::temp_directory_path() /
                 (std::string("pak_read_test_") + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                  "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(directory_);
    std::filesystem::create_directories(directory_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
  void write(const std::string& relative, const Bytes& bytes) {
    const auto path = directory_ / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  // The system path of a file or directory under the test directory.
  std::string system_path(const std::string& relative) const {
    std::string path = (directory_ / relative).string();
    for (char& c : path)
      if (c == '/') c = '\\';
    return path;
  }
  static std::string text_of(const EntrySlot* slot) {
    return std::string(reinterpret_cast<const char*>(slot->data), std::size_t(slot->size));
  }
  std::filesystem::path directory_;
};

TEST_F(PackFiles, MappedPackWithLooseFallback) {
  write("game.pak", example_pack());
  write("game/extra.txt", bytes_of("loose bytes"));
  write("game/alpha.bin", bytes_of("loose alpha"));
  PakArchive archive(system_path("game").c_str(), 5);
  ASSERT_EQ(archive.is_open, 1);
  EXPECT_EQ(archive.view_size, 203u);

  EntrySlot* alpha = archive.load_entry("alpha.bin");  // from the pack, not the loose file
  ASSERT_NE(alpha, nullptr);
  EXPECT_EQ(alpha->owns_data, 0);
  EXPECT_EQ(text_of(alpha), "0123456789");

  EntrySlot* extra = archive.load_entry("extra.txt");  // only a loose file
  ASSERT_NE(extra, nullptr);
  EXPECT_EQ(extra->owns_data, 1);
  EXPECT_EQ(text_of(extra), "loose bytes");
  EXPECT_EQ(archive.load_entry("missing.txt"), nullptr);

  // Opening again closes first: new slot table, nothing in use.
  ASSERT_EQ(archive.open(system_path("game").c_str(), 3, 1), 1);
  EXPECT_EQ(archive.slots.size(), 3u);
  EXPECT_EQ(archive.slot_count, 3u);
  EXPECT_NE(archive.find_record("alpha.bin"), nullptr);  // direct mode still searches the pack
  EntrySlot* direct = archive.load_entry("alpha.bin");   // but reads loose files
  ASSERT_NE(direct, nullptr);
  EXPECT_EQ(text_of(direct), "loose alpha");
  // Reopening on its own base path, as after a rebuild.
  ASSERT_EQ(archive.open(archive.base_path.c_str(), 5, 0), 1);
  EXPECT_EQ(archive.base_path, system_path("game"));
  EXPECT_EQ(archive.is_open, 1);
  archive.close();
  EXPECT_EQ(archive.is_open, 0);
  EXPECT_EQ(archive.view, nullptr);
  EXPECT_EQ(archive.slots.size(), 0u);
  EXPECT_EQ(archive.load_entry("extra.txt"), nullptr);
}

TEST_F(PackFiles, MissingPackMeansLooseMode) {
  write("dir/sub/f.txt", bytes_of("loose"));
  PakArchive archive;
  ASSERT_EQ(archive.open(system_path("dir").c_str(), 5, 0), 1);
  EXPECT_EQ(archive.is_open, 0);
  EXPECT_EQ(archive.view, nullptr);
  EXPECT_EQ(archive.find_record("sub\\f.txt"), nullptr);
  EntrySlot* slot = archive.load_entry("sub\\f.txt");
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(text_of(slot), "loose");
}

TEST_F(PackFiles, DamagedPackFileFailsToOpen) {
  write("bad.pak", {9, 0, 0, 0, 1, 2, 3});
  PakArchive archive;
  EXPECT_EQ(archive.open(system_path("bad").c_str(), 5, 0), 0);
  EXPECT_EQ(archive.is_open, 0);
  EXPECT_EQ(archive.slots.size(), 0u);
}

TEST(PackOpen, OverLongBasePathIsRefused) {
  PakArchive archive;
  EXPECT_EQ(archive.open(std::string(PAK_MAX_BASE_PATH_LENGTH + 1, 'b').c_str(), 5, 0), 0);
  EXPECT_EQ(archive.is_open, 0);
  EXPECT_EQ(archive.load_entry("x"), nullptr);
  EXPECT_EQ(archive.open(nullptr, 5, 0), 0);
}

}  // namespace
