#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct SeparatorCase {
  std::string text;
  bool slash_too;
  std::size_t first;
  std::size_t last;
};

// 許 is B3 5C in code page 950: its trail byte is never a separator.
TEST(Codepage, SeparatorsSkipTrailBytesOfDoubleByteCharacters) {
  const std::size_t none = std::string::npos;
  const SeparatorCase cases[] = {
      {"a\\b\\c", false, 1, 3},     {"\xB3\x5C", false, 2, none}, {"\xB3\x5C\\x", false, 2, 2},
      {"x\\\xB3\x5C", false, 1, 1}, {"a/b\\c", false, 3, 3},      {"a/b\\c", true, 1, 3},
      {"\xB3/", true, 1, 1},                                   // '/' is no trail byte: the lead byte stands alone
      {"", false, 0, none},         {"\xB3", false, 1, none},  // a lone lead byte at the end
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::find_separator(c.text, 0, c.slash_too), c.first == 0 && c.text.empty() ? 0 : c.first) << c.text;
    EXPECT_EQ(platform::find_last_separator(c.text, c.slash_too), c.last) << c.text;
  }
}

}  // namespace
