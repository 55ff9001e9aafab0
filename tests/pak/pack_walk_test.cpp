// Walking and checking whole packs, sound and damaged.

#include "pak/pack_walk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pak/pack_checks.h"
#include "tests/pak/pack_builder.h"

namespace {

using pak_test::Bytes;
using pak_test::bytes_of;
using pak_test::PackBuilder;
using pak_test::put_u32;

struct Walked {
  std::vector<std::string> entries;  // "path size"
  std::vector<std::string> problems;
  bool sound;
};

Walked walk(const Bytes& pack) {
  Walked walked;
  pak::WalkCallbacks callbacks;
  callbacks.on_entry = [&](const pak::WalkEntry& entry) {
    walked.entries.push_back(std::string(entry.path) + " " + std::to_string(entry.bytes.size()));
  };
  callbacks.on_problem = [&](const pak::WalkProblem& problem) {
    walked.problems.push_back(problem.path + " @" + std::to_string(problem.offset) + ": " + problem.text);
  };
  walked.sound = pak::walk_pack(pack.data(), pack.size(), callbacks);
  return walked;
}

std::vector<std::string> check(const Bytes& pack, pak::PackCheckSummary* summary = nullptr) {
  std::vector<std::string> problems;
  const auto result = pak::check_pack(pack.data(), pack.size(), [&](const pak::WalkProblem& problem) {
    problems.push_back(problem.path + " @" + std::to_string(problem.offset) + ": " + problem.text);
  });
  if (summary) *summary = result;
  return problems;
}

TEST(PackWalk, VisitsEntriesDepthFirstInTableOrder) {
  const Bytes pack = PackBuilder::build({{"z.bin", bytes_of("zz")},
                                         {"sub\\beta.bin", bytes_of("BETA!")},
                                         {"sub\\deeper\\c", {}},
                                         {"alpha.bin", bytes_of("0123456789")},
                                         {"empty\\", {}}});
  const Walked walked = walk(pack);
  EXPECT_TRUE(walked.sound);
  EXPECT_EQ(walked.entries,
            (std::vector<std::string>{"alpha.bin 10", "sub\\beta.bin 5", "sub\\deeper\\c 0", "z.bin 2"}));
  EXPECT_TRUE(walked.problems.empty());

  pak::PackCheckSummary summary;
  EXPECT_EQ(check(pack, &summary), std::vector<std::string>{});
  EXPECT_EQ(summary.files, 4u);
  EXPECT_EQ(summary.directories, 4u);  // root, sub, sub\deeper, empty
  EXPECT_EQ(summary.stored_bytes, 17u);
}

TEST(PackWalk, DamageIsReportedAndSkipped) {
  // Root: records at 4 (a\), 40 (b.bin), 76 (end); a\ holds x.bin.
  const Bytes base = PackBuilder::build({{"a\\x.bin", bytes_of("x")}, {"b.bin", bytes_of("bb")}});
  ASSERT_EQ(load_u32(base.data() + 4), 112u);  // a\ block
  struct Case {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    std::vector<std::string> entries;
    std::string problem;  // start of the one problem line
  } cases[] = {
      {"directory loops to the root", 4, 0, {"b.bin 2"}, "a\\ @4: directory block at 0 overlaps"},
      {"file past the end", 40, 999, {"a\\x.bin 1"}, "b.bin @40: entry bytes [999, "},
      {"nested table too long", 112, 9, {"b.bin 2"}, "a\\ @4: directory block at 112 does not fit"},
  };
  for (const auto& c : cases) {
    Bytes pack = base;
    put_u32(pack, c.at, c.value);
    const Walked walked = walk(pack);
    EXPECT_FALSE(walked.sound) << c.what;
    EXPECT_EQ(walked.entries, c.entries) << c.what;
    ASSERT_EQ(walked.problems.size(), 1u) << c.what;
    EXPECT_EQ(walked.problems[0].substr(0, c.problem.size()), c.problem) << c.what;
  }
}

TEST(PackWalk, SharedBlocksStopTheWalk) {
  // Forty levels; in each, a\ and c\ point at the same next block, with positive spans
  // because b\ between them points further on (and so is an empty directory). Without a
  // guard that makes 2^40 paths.
  const int levels = 40;
  const std::size_t block_size = 4 + 4 * PAK_RECORD_SIZE;
  Bytes pack((levels + 1) * block_size, 0);
  for (int level = 0; level <= levels; ++level) {
    const std::size_t block = std::size_t(level) * block_size;
    const std::size_t next = block + block_size;
    put_u32(pack, block, level == levels ? 1 : 4);
    if (level == levels) {
      put_u32(pack, block + 4, std::uint32_t(pack.size()));
      continue;
    }
    for (std::size_t i = 0; i < 3; ++i) {
      const std::size_t record = pak_test::record_at(block, i);
      put_u32(pack, record, std::uint32_t(i == 1 ? next + 1 : next));
      pack[record + 4] = std::uint8_t('a' + i);
      pack[record + 5] = '\\';
    }
    put_u32(pack, pak_test::record_at(block, 3), std::uint32_t(pack.size()));
  }
  const Walked walked = walk(pack);
  EXPECT_FALSE(walked.sound);
  ASSERT_FALSE(walked.problems.empty());
  EXPECT_NE(walked.problems.back().find("shared"), std::string::npos) << walked.problems.back();
}

TEST(PackWalk, RootThatDoesNotFit) {
  const Walked walked = walk({5, 0, 0, 0});
  EXPECT_FALSE(walked.sound);
  EXPECT_EQ(walked.problems, std::vector<std::string>{" @0: root directory table does not fit in the pack"});
}

TEST(PackCheck, ReportsOrderFoldingEndRecordsAndStreams) {
  Bytes bad_stream = pak_test::stream_of(9, {0x07, 'a', 'b', 'c', 0xF0, 0xF3});
  store_u32(bad_stream.data() + 6, 8);  // decodes to nine bytes, not eight
  Bytes odd_magic = pak_test::literal_stream(bytes_of("hi"));
  odd_magic[5] = 'X';
  Bytes pack = PackBuilder::build({{"Upper", bytes_of("u")},
                                   {"b", bytes_of("b")},
                                   {"c", bytes_of("c")},
                                   {"d\\e", bytes_of("e")},
                                   {"s", bad_stream},
                                   {"t", odd_magic},
                                   {"x\\y", bytes_of("y")}});
  // Root records: Upper 4, b 40, c 76, d\ 112, s 148, t 184, x\ 220, end 256.
  std::memcpy(pack.data() + 76 + 4, "b", 1);    // c renamed to b: stored twice
  std::memcpy(pack.data() + 184 + 4, "a", 1);   // t renamed to a: out of order
  std::memcpy(pack.data() + 256 + 4, "zz", 2);  // end record with a name
  const std::uint32_t d_block = load_u32(pack.data() + 112);
  put_u32(pack, d_block + 4 + 36, load_u32(pack.data() + d_block + 4 + 36) - 1);  // d\'s end record
  pak::PackCheckSummary summary;
  const auto problems = check(pack, &summary);
  const std::string s_offset = std::to_string(load_u32(pack.data() + 148));
  const std::string t_offset = std::to_string(load_u32(pack.data() + 184));
  const std::string d_end = std::to_string(d_block + 4 + 36);
  // Each problem line begins with these (the decoder words its own text).
  const std::vector<std::string> expected = {
      " @4: name \"Upper\" is not folded",
      " @76: name \"b\" is stored twice",
      " @184: name \"a\" is out of order",
      " @256: end record has a name",
      std::string("d\\ @") + d_end + ": end record offset " + std::to_string(load_u32(pack.data() + d_block + 4 + 36)) +
          " is not the end of the directory (" + std::to_string(load_u32(pack.data() + 148)) + ")",
      std::string("s @") + s_offset + ": EnCode stream: ",
      std::string("a @") + t_offset +
          ": begins with \"EnCo\" but not \"EnCode\": loaded as a stream, extracted as raw bytes",
  };
  ASSERT_EQ(problems.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(problems[i].substr(0, expected[i].size()), expected[i]) << problems[i];
  EXPECT_EQ(summary.problems, 7u);
  EXPECT_EQ(summary.encoded, 2u);
}

TEST(PackCheck, BackslashInsideANameAndTableOutsideItsStretch) {
  Bytes pack = PackBuilder::build({{"a\\b", bytes_of("b")}, {"c", bytes_of("c")}});
  std::memcpy(pack.data() + 40 + 4, "c\\d", 4);  // file "c\d": never found by a lookup
  // a\'s stretch now ends inside its table.
  put_u32(pack, 40, load_u32(pack.data() + 4) + 20);
  const auto problems = check(pack);
  auto reported = [&](const char* text) {
    for (const auto& problem : problems)
      if (problem.find(text) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(reported("past its stretch"));
  EXPECT_TRUE(reported("holds a backslash"));
}

}  // namespace
