#include "platform/resource_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

std::string blob_text(const std::vector<std::uint8_t>& file, const platform::ResourceEntry& entry) {
  return std::string(file.begin() + std::ptrdiff_t(entry.offset),
                     file.begin() + std::ptrdiff_t(entry.offset + entry.size));
}

TEST(ResourceTable, AppendedBlobsAreFoundAndRebundlingReplacesThem) {
  const auto program = bytes_of(
      "\x7f"
      "ELF program bytes");
  auto first = platform::append_resource_table(program, {{"UPDATA.INI", bytes_of("[inst]")}, {"DLL.PAK", {}}});
  ASSERT_TRUE(first);
  auto table = platform::parse_resource_table(*first);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->payload_start, program.size());
  ASSERT_EQ(table->entries.size(), 2u);
  EXPECT_EQ(table->entries[0].name, "UPDATA.INI");
  EXPECT_EQ(blob_text(*first, table->entries[0]), "[inst]");
  EXPECT_EQ(table->entries[1].size, 0u);

  auto second = platform::append_resource_table(*first, {{"note.txt", bytes_of("notes")}});
  ASSERT_TRUE(second);
  table = platform::parse_resource_table(*second);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->payload_start, program.size());
  ASSERT_EQ(table->entries.size(), 1u);
  EXPECT_EQ(blob_text(*second, table->entries[0]), "notes");
  EXPECT_TRUE(std::equal(program.begin(), program.end(), second->begin()));
}

TEST(ResourceTable, NoTableOrADamagedOneMeansNoPackage) {
  auto file = *platform::append_resource_table(bytes_of("program"), {{"UPDATA.INI", bytes_of("[inst]")}});
  EXPECT_FALSE(platform::parse_resource_table(bytes_of("program")));
  EXPECT_FALSE(platform::parse_resource_table({}));
  // Every single-byte corruption of the table or footer either is refused or still
  // yields entries inside the file.
  const std::size_t table_start = 8 + 8;  // program padded to 8, then the 6-byte blob and padding
  for (std::size_t i = table_start; i < file.size(); ++i) {
    for (std::uint8_t flip : {std::uint8_t(0x01), std::uint8_t(0x80), std::uint8_t(0xFF)}) {
      auto damaged = file;
      damaged[i] ^= flip;
      if (auto table = platform::parse_resource_table(damaged)) {
        for (const auto& entry : table->entries) EXPECT_LE(entry.offset + entry.size, damaged.size());
      }
    }
  }
  auto truncated = file;
  truncated.pop_back();
  EXPECT_FALSE(platform::parse_resource_table(truncated));
}

TEST(ResourceTable, RefusesEmptyAndOverlongNames) {
  EXPECT_FALSE(platform::append_resource_table(bytes_of("p"), {{"", {}}}));
  EXPECT_FALSE(platform::append_resource_table(bytes_of("p"), {{std::string(256, 'a'), {}}}));
  EXPECT_TRUE(platform::append_resource_table(bytes_of("p"), {{std::string(255, 'a'), {}}}));
}

TEST(ResourceTable, NamesMatchWithoutRegardToAsciiCase) {
  EXPECT_TRUE(platform::resource_name_equal("updata.ini", "UPDATA.INI"));
  EXPECT_TRUE(platform::resource_name_equal("Dll.Pak", "dLL.pAK"));
  EXPECT_FALSE(platform::resource_name_equal("dll.pak", "dll.pa"));
  EXPECT_FALSE(platform::resource_name_equal("\xE1", "\xC1"));  // only ASCII letters fold
}

}  // namespace
