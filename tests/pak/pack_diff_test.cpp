// The difference of two packs: which entries are new, changed, removed, decided by
// decoded bytes, and what is left out of the removals.

#include "patch/pack_diff.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/pak/pack_builder.h"

namespace {

using pak_test::Bytes;
using pak_test::bytes_of;
using pak_test::literal_stream;
using pak_test::PackBuilder;

// A stream of runs of 'a' (long runs of 69,649 bytes each) ending in one literal.
Bytes runs_then_literal(int runs, char last) {
  std::vector<Bytes> items;
  std::vector<bool> literal;
  for (int i = 0; i < runs; ++i) {
    items.push_back({0xFF, 0xFF, 'a', 0xFF, 0xFF});
    literal.push_back(false);
  }
  items.push_back({std::uint8_t(last)});
  literal.push_back(true);
  Bytes groups;
  for (std::size_t i = 0; i < items.size(); i += 8) {
    std::uint8_t flags = 0;
    for (std::size_t j = i; j < items.size() && j < i + 8; ++j)
      if (literal[j]) flags |= std::uint8_t(1u << (j - i));
    groups.push_back(flags);
    for (std::size_t j = i; j < items.size() && j < i + 8; ++j)
      groups.insert(groups.end(), items[j].begin(), items[j].end());
  }
  return pak_test::stream_of(std::uint32_t(runs) * 69649u + 1, groups);
}

struct Outcome {
  std::vector<std::string> changed;  // "+path" added, "*path" changed
  std::vector<std::string> added_directories;
  std::vector<std::string> removed;
  bool new_sound = true;
};

Outcome diff(const std::vector<pak_test::Entry>& old_entries, const std::vector<pak_test::Entry>& new_entries) {
  const Bytes old_pack = PackBuilder::build(old_entries);
  const Bytes new_pack = PackBuilder::build(new_entries);
  const patch::PackDifference difference = patch::diff_packs(old_pack, new_pack);
  Outcome outcome;
  for (const auto& entry : difference.changed) outcome.changed.push_back((entry.added ? "+" : "*") + entry.path);
  outcome.added_directories = difference.added_directories;
  outcome.removed = difference.removed;
  outcome.new_sound = difference.new_pack_sound();
  return outcome;
}

using Paths = std::vector<std::string>;

TEST(PackDiff, EntriesAreComparedByDecodedBytes) {
  const Bytes text = bytes_of("the same decoded bytes");
  struct Case {
    const char* name;
    Bytes old_bytes, new_bytes;
    bool changed;
  } cases[] = {
      {"equal raw", text, text, false},
      {"raw to EnCode, same bytes", text, literal_stream(text), false},
      {"EnCode to raw, same bytes", literal_stream(text), text, false},
      {"two streams of the same bytes", runs_then_literal(1, 'z'), literal_stream([] {
         Bytes b(69649, 'a');
         b.push_back('z');
         return b;
       }()),
       false},
      {"raw, other bytes", text, bytes_of("other bytes"), true},
      {"raw, one byte more", text, bytes_of("the same decoded bytes!"), true},
      {"EnCode, other decoded size", literal_stream(text), literal_stream(bytes_of("x")), true},
      {"EnCode to raw, other bytes", literal_stream(text), bytes_of("the same decoded byteZ"), true},
      {"empty to empty stream", Bytes{}, literal_stream(Bytes{}), false},
      {"old stream broken", pak_test::stream_of(5, {0x00, 0x00}), bytes_of("abcde"), true},
  };
  for (const Case& c : cases) {
    const Outcome outcome = diff({{"f.bin", c.old_bytes}}, {{"f.bin", c.new_bytes}});
    EXPECT_EQ(outcome.changed, c.changed ? Paths{"*f.bin"} : Paths{}) << c.name;
    EXPECT_TRUE(outcome.removed.empty()) << c.name;
  }
}

TEST(PackDiff, HugeEntriesAreComparedWindowByWindow) {
  // Over 20 MiB decoded each: more than one comparison window; only the last byte differs.
  const Bytes a = runs_then_literal(300, 'x');
  const Bytes b = runs_then_literal(300, 'y');
  EXPECT_TRUE(patch::same_decoded_bytes(a, a));
  EXPECT_FALSE(patch::same_decoded_bytes(a, b));
}

TEST(PackDiff, AddedRemovedAndMovedEntries) {
  const Bytes x = bytes_of("x");
  const Outcome outcome =
      diff({{"keep.txt", x},
            {"gone.txt", x},
            {"old\\a.txt", x},
            {"old\\deep\\b.txt", x},
            {"flip", x},
            {"dir\\sub\\", {}},
            {"\xB3\x5C.txt", x}},
           {{"keep.txt", x}, {"new\\n.txt", x}, {"flip\\inside.txt", x}, {"dir\\sub\\", {}}, {"dir\\fresh\\", {}}});
  EXPECT_EQ(outcome.changed, (Paths{"+flip\\inside.txt", "+new\\n.txt"}));
  EXPECT_EQ(outcome.added_directories, (Paths{"dir\\fresh\\", "flip\\", "new\\"}));
  // A removed directory stands for all below it; the Big5 name whose trail byte is a
  // backslash is a file, not a directory.
  EXPECT_EQ(outcome.removed, (Paths{"flip", "gone.txt", "old\\", "\xB3\x5C.txt"}));
  EXPECT_TRUE(outcome.new_sound);
}

TEST(PackDiff, EqualPacksAreTheSame) {
  const std::vector<pak_test::Entry> entries = {
      {"a\\b\\c.txt", bytes_of("c")}, {"e\\", {}}, {"z", literal_stream(bytes_of("z"))}};
  const Bytes pack = PackBuilder::build(entries);
  const patch::PackDifference difference = patch::diff_packs(pack, pack);
  EXPECT_TRUE(difference.same());
  EXPECT_EQ(difference.entries_compared, 2u);
}

TEST(PackDiff, ABrokenStreamInTheNewPackIsAProblem) {
  const Outcome outcome = diff({{"f.bin", bytes_of("abcde")}}, {{"f.bin", pak_test::stream_of(5, {0x00, 0x00})}});
  EXPECT_FALSE(outcome.new_sound);
}

TEST(PackDiff, DamageIsReportedAndNeverReadPast) {
  Bytes damaged = PackBuilder::build({{"a.txt", bytes_of("aaaa")}, {"b.txt", bytes_of("b")}});
  damaged.resize(damaged.size() - 3);  // the last entry runs past the end
  const Bytes sound = PackBuilder::build({{"a.txt", bytes_of("aaaa")}});
  const patch::PackDifference as_old = patch::diff_packs(damaged, sound);
  EXPECT_TRUE(as_old.new_pack_sound());
  EXPECT_FALSE(as_old.problems.empty());
  EXPECT_TRUE(as_old.removed.empty());  // nothing of a damaged record is removed
  EXPECT_FALSE(patch::diff_packs(sound, damaged).new_pack_sound());
}

}  // namespace
