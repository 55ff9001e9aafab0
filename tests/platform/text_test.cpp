#include "platform/text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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

// Characters that code page 950 lacks but Windows' tables would map to a look-alike
// ("best fit"): a path holding one is refused, never turned into a near path.
TEST(Text, RefusesCharactersWithoutAnExactCodePage950Form) {
  const char* const lacking[] = {
      "C:\\Games\\Caf\xC3\xA9",  // é would become e
      "caf\xC3\xA9.log",
      "ex-\xC3\xA9",
      "na\xC3\xAFve",   // ï
      "\xC3\x85ngstr",  // Å
      "Espa\xC3\xB1"
      "a",  // ñ
  };
  for (const char* text : lacking) {
    EXPECT_EQ(platform::utf8_to_cp950(text), std::nullopt) << text;
    const std::string utf8 = text;
    const std::filesystem::path name(std::u8string(utf8.begin(), utf8.end()));
    EXPECT_EQ(platform::file_name_to_cp950(name), std::nullopt) << text;
  }
  const std::filesystem::path big5_name(u8"素材許");
  EXPECT_EQ(platform::file_name_to_cp950(big5_name), std::string("\xAF\xC0\xA7\xF7\xB3\x5C"));
}

}  // namespace
