// Removal records of UPDATA.INI: what is read, what is refused before anything is
// removed, and what the writer refuses to put into a line.

#include "pak/removal_records.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool read(const std::string& text, pak::RemovalPlan& plan, std::string& problem) {
  IniStore store;
  store.parse(text.data(), std::int32_t(text.size()));
  return pak::read_removals(store, plan, problem);
}

TEST(RemovalRecords, WrittenRecordsReadBackInOrder) {
  pak::RemovalPlan plan;
  plan.files = {"old\\readme.txt", "\xB3\x5C.txt", "Gone.PAK"};
  plan.directories = {"old\\deep", "old", "\xB3\x5C"};  // 許: its 0x5C is no trailing separator
  plan.packs = {{"data", {"sub\\old.bin", "olddir\\"}}, {"Sound", {"a.wav"}}};
  std::string text = "[inst]\r\ndir=C:\\Game\r\n";
  std::string problem;
  ASSERT_TRUE(pak::write_removals(plan, text, problem)) << problem;
  pak::RemovalPlan back;
  ASSERT_TRUE(read(text, back, problem)) << problem;
  EXPECT_EQ(back.files, plan.files);  // loose names keep their letter case
  EXPECT_EQ(back.directories, plan.directories);
  ASSERT_EQ(back.packs.size(), 2u);
  EXPECT_EQ(back.packs[0].name, "data");
  EXPECT_EQ(back.packs[0].entries, plan.packs[0].entries);
  EXPECT_EQ(back.packs[1].name, "Sound");
}

TEST(RemovalRecords, PackSectionsEndAtTheFirstGapAndEntriesAreFolded) {
  pak::RemovalPlan plan;
  std::string problem;
  ASSERT_TRUE(
      read("[remove_pack0]\r\nname=data\r\nentry=SUB\\Old.BIN\r\nentry=dir\\\r\nother=x\r\n"
           "[remove_pack2]\r\nname=late\r\nentry=x\r\n[remove]\r\ndir=folder\\\r\n",
           plan, problem));
  ASSERT_EQ(plan.packs.size(), 1u);
  EXPECT_EQ(plan.packs[0].entries, (std::vector<std::string>{"sub\\old.bin", "dir\\"}));
  EXPECT_EQ(plan.directories, std::vector<std::string>{"folder"});
}

TEST(RemovalRecords, RecordsThatCouldReachOutsideTheFolderAreRefused) {
  const char* refused[] = {
      "[remove]\r\nfile=..\\outside.txt\r\n",
      "[remove]\r\nfile=C:\\Windows\\win.ini\r\n",
      "[remove]\r\nfile=\\root.txt\r\n",
      "[remove]\r\nfile=sub\\con.txt\r\n",
      "[remove]\r\ndir=a\\..\\..\r\n",
      "[remove]\r\nfile=\r\n",
      "[remove_pack0]\r\nname=sub\\data\r\n",
      "[remove_pack0]\r\nname=..\r\n",
      "[remove_pack0]\r\nname=data\r\nentry=..\\x\r\n",
      "[remove_pack0]\r\nname=data\r\nentry=\\\r\n",
      // One trailing backslash marks a folder or directory entry; a second is an empty level.
      "[remove]\r\nfile=old\\\r\n",
      "[remove]\r\ndir=old\\\\\r\n",
      "[remove_pack0]\r\nname=data\r\nentry=dir\\\\\r\n",
  };
  for (const char* text : refused) {
    pak::RemovalPlan plan;
    std::string problem;
    EXPECT_FALSE(read(text, plan, problem)) << text;
    EXPECT_FALSE(problem.empty()) << text;
  }
}

TEST(RemovalRecords, ValuesALineCannotHoldAreRefusedByTheWriter) {
  struct Case {
    std::string value;
    bool ok;
  } cases[] = {
      {std::string(249, 'a'), true},  // "file=" and 249 bytes: 254, a full line
      {std::string(250, 'a'), false},  {"a//b", false},  {"a\r\nb", false},
      {std::string("a\0b", 3), false}, {"a=b[c]", true},
  };
  for (const Case& c : cases) {
    pak::RemovalPlan plan;
    plan.files = {c.value};
    std::string text, problem;
    EXPECT_EQ(pak::write_removals(plan, text, problem), c.ok) << c.value;
  }
}

}  // namespace
