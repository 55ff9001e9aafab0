// The update package of two installs, made in process: every file of it goes through
// the program's one write path, so a write that fails at any point is a refusal that
// names the file and leaves no package folder.

#include "patch/update_package.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/files.h"
#include "tests/pak_write/pak_test_util.h"

using namespace pak_test;
namespace fs = std::filesystem;

namespace {

TEST(UpdatePackage, AFailedWriteAnywhereLeavesNoPackage) {
  ScratchDir dir;
  fs::create_directories(dir.path() / "old");
  fs::create_directories(dir.path() / "new" / "sub");
  write_bytes(dir / "old/a.txt", bytes_of("old text"));
  write_bytes(dir / "old/gone.txt", bytes_of("gone"));
  write_bytes(dir / "new/a.txt", bytes_of("new text, longer"));
  write_bytes(dir / "new/sub/b.bin", filled(3000, 9));
  patch::PackageRequest request;
  request.old_dir = dir.path() / "old";
  request.new_dir = dir.path() / "new";
  request.package_dir = dir.path() / "out";
  request.notes = "notes\r\n";

  // Each budget fails a write further on, until the package is whole: every byte
  // through the texts, then in steps smaller than the pack's writes.
  bool made = false;
  std::int64_t budget = 0;
  for (; !made && budget < 100000; budget += budget < 64 ? 1 : 29) {
    SCOPED_TRACE(budget);
    patch::PackageSummary summary;
    std::string error;
    platform::inject_write_failure_after(budget);
    made = patch::make_update_package(request, nullptr, summary, error);
    platform::inject_write_failure_after(-1);
    if (made) break;
    // The texts are written first, through the same path as the packs.
    if (budget == 0) {
      EXPECT_NE(error.find("UPDATA.INI: cannot write"), std::string::npos) << error;
    }
    EXPECT_TRUE(error.find("UPDATA.INI") != std::string::npos || error.find("NOTE.TXT") != std::string::npos ||
                error.find("DLL") != std::string::npos)
        << error;
    ASSERT_FALSE(fs::exists(dir.path() / "out")) << error;
  }
  ASSERT_TRUE(made);
  EXPECT_GT(budget, 40);  // the texts and the pack were written
  EXPECT_EQ(listing(dir.path() / "out"), (std::vector<std::string>{"DLL.pak", "NOTE.TXT", "UPDATA.INI"}));
  const Bytes ini = read_bytes(dir / "out/UPDATA.INI");
  EXPECT_EQ(std::string(ini.begin(), ini.end()), "[inst]\r\n[remove]\r\nfile=gone.txt\r\n");
  EXPECT_EQ(read_bytes(dir / "out/NOTE.TXT"), bytes_of("notes\r\n"));
}

}  // namespace
