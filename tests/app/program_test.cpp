// Program start: the directory of the running program, and the start without a
// configuration.

#include "app/program.h"

#include <gtest/gtest.h>

#include <string>

TEST(DirectoryOf, CutsAtTheLastSeparatorCharacter) {
  struct Case {
    std::string path, expected;
  };
  const Case cases[] = {
      {"C:\\Games\\QRM\\updater.exe", "C:\\Games\\QRM"},
      {"/opt/game/updater", "/opt/game"},
      {"C:\\Games/mixed\\updater.exe", "C:\\Games/mixed"},
      {"updater.exe", ""},
      {"", ""},
      {"\\updater.exe", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(directory_of(c.path), c.expected) << c.path;
}

// Whatever the system's ANSI code page: paths are code page 950 everywhere.
TEST(DirectoryOf, NeverCutsAtTheTrailByteOfABig5Character) {
  // 功 is A5 5C and 許 is B3 5C.
  EXPECT_EQ(directory_of("C:\\\xB9\x43\xC0\xB8\\\xA5\x5C\\updater.exe"), "C:\\\xB9\x43\xC0\xB8\\\xA5\x5C");
  EXPECT_EQ(directory_of("\xB3\x5C"
                         "updater.exe"),
            "");
}

TEST(StartProgram, WithoutAnEmbeddedConfigurationEndsAtOnce) {
  // The test program carries no package.
  exe_dir = "unchanged";
  EXPECT_FALSE(start_program());
  EXPECT_FALSE(update_ini.loaded);
  EXPECT_EQ(exe_dir, "unchanged");
  exe_dir.clear();
}
