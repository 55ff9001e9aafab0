// Splitting and checking entry paths, double-byte characters included.

#include "pak/entry_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(EntryPath, SplitsOnlyAtRealSeparators) {
  const struct {
    std::string path;
    std::string last;       // last component
    std::string directory;  // directory part
    bool is_directory;
  } cases[] = {
      {"beta.bin", "beta.bin", "", false},
      {"sub\\beta.bin", "beta.bin", "sub\\", false},
      {"sub\\", "sub\\", "sub\\", true},
      {"sub\\deeper\\", "deeper\\", "sub\\deeper\\", true},
      {"a\\b\\c.d", "c.d", "a\\b\\", false},
      {"\xB3\x5C.txt", "\xB3\x5C.txt", "", false},  // 0x5C trail byte
      {"\xB3\x5C", "\xB3\x5C", "", false},          // ends in a trail byte: a file
      {"\xA6\x5C\\\xB3\x5C", "\xB3\x5C", "\xA6\x5C\\", false},
      {"d\\\xA6\x5C\\", "\xA6\x5C\\", "d\\\xA6\x5C\\", true},
      {"\\lead", "\\lead", "", false},  // a separator at index 0 does not count
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(c.path.substr(pak::last_component_start(c.path)), c.last);
    EXPECT_EQ(std::string(pak::directory_part(c.path)), c.directory);
    EXPECT_EQ(pak::is_directory_path(c.path), c.is_directory);
  }
}

TEST(EntryPath, UnsafePaths) {
  const char* refused[] = {"", "\\a", "/a", "..", "a\\..\\b", "..\\", "c:x", "c:\\x", "a\\\\b", "a.", "a\\b .\\c",
                           "dir \\x", "con", "CON", "con.txt", "sub\\Prn.log", "aux", "nul.tar.gz", "com1", "lpt9.txt",
                           "a/b", "a|b", "a?", "a*", "a\"b", "<a>", "a\tb",
                           // after a lead byte without a valid trail byte, each byte is checked alone
                           "\xB3/x", "\xB3:x", "\xB3*", "\xB3\x01", "x\\\xB3/..\\y"};
  for (const char* path : refused) EXPECT_NE(pak::unsafe_path_reason(path), nullptr) << path;
  const char* accepted[] = {"a",          "sub\\",    "a\\b\\c.d",   "...x",  ".hidden",  "con1",
                            "com10",      "lpt0",     "console.txt", "nul_x", "\xB3\x5C", "\xA6\x7C.txt",
                            "a b\\c d.e", "\xB3\x40", "\xB3\xA1",    "\xB3"};
  for (const char* path : accepted) EXPECT_EQ(pak::unsafe_path_reason(path), nullptr) << path;
}

TEST(EntryPath, StorableLengths) {
  EXPECT_EQ(pak::unstorable_path_reason(std::string(31, 'a')), nullptr);
  EXPECT_NE(pak::unstorable_path_reason(std::string(32, 'a')), nullptr);
  EXPECT_EQ(pak::unstorable_path_reason(std::string(30, 'a') + "\\"), nullptr);
  EXPECT_NE(pak::unstorable_path_reason(std::string(31, 'a') + "\\"), nullptr);
  EXPECT_NE(pak::unstorable_path_reason("x\\" + std::string(32, 'a')), nullptr);
  std::string deep;
  while (deep.size() < 250) deep += "abcd\\";
  EXPECT_EQ(pak::unstorable_path_reason(deep.substr(0, 259)), nullptr);
  EXPECT_NE(pak::unstorable_path_reason(deep + "abcdefghij"), nullptr);
}

}  // namespace
