#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

// 許 B3 5C and 功 A5 5C carry a backslash as their trail byte.
TEST(Text, ConvertsBetweenCodePage950AndUtf8) {
  EXPECT_EQ(platform::cp950_to_utf8("\xB3\x5C\xA5\x5C"), "許功");
  EXPECT_EQ(platform::cp950_to_utf8("plain ascii"), "plain ascii");
#ifndef _WIN32
  // iconv has no mapping for 0xFF; Windows' table gives it a private-use character.
  EXPECT_EQ(platform::cp950_to_utf8("ok\xFF"), std::nullopt);
  EXPECT_EQ(platform::cp950_to_utf8("ok\xFF", true), "ok?");
#endif
  EXPECT_EQ(platform::utf8_to_cp950("許功"), std::string("\xB3\x5C\xA5\x5C"));
  EXPECT_EQ(platform::utf8_to_cp950("\xF0\x9F\x98\x80"), std::nullopt);  // no Big5 form
  EXPECT_EQ(platform::utf8_to_cp950("\xE8\xA8"), std::nullopt);          // cut-off UTF-8
}

}  // namespace
