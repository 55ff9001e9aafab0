// The pak subcommands that write: exit codes, refusals that leave nothing behind, and
// what lands in the packs. POSIX only (runs the tool through the shell).

#include <gtest/gtest.h>

#ifndef _WIN32

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "pak/archive.h"
#include "pak_test_util.h"

using namespace pak_test;
namespace fs = std::filesystem;

namespace {

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef PAK_TOOL_PATH
    tool = PAK_TOOL_PATH;
#endif
    if (const char* path = std::getenv("PAK_TOOL")) tool = path;
    if (tool.empty()) GTEST_SKIP() << "no pak tool (set PAK_TOOL)";
    fs::create_directories(dir.path() / "tree" / "Sub");
    write_bytes(dir / "tree/A.txt", bytes_of("alpha alpha alpha"));
    write_bytes(dir / "tree/Sub/b.bin", filled(300, 7));
  }
  // Runs the tool with arguments (shell words); returns its exit code.
  int pak(const std::string& arguments) {
    const std::string command = "cd '" + dir.path().string() + "' && '" + tool + "' " + arguments + " 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // The decoded bytes of an entry of base.pak, or nothing.
  std::optional<Bytes> entry(const std::string& base, const std::string& name) {
    PakArchive archive((dir / base).c_str(), 5);
    if (archive.is_open != 1 || archive.find_record(name.c_str()) == nullptr) return std::nullopt;
    EntrySlot* slot = archive.load_entry(name.c_str());
    if (slot == nullptr) return std::nullopt;
    Bytes bytes(slot->data, slot->data + slot->size);
    archive.release_entry(slot);
    return bytes;
  }

  std::string tool;
  ScratchDir dir;
};

TEST_F(ToolTest, CreateAddRemoveExtract) {
  ASSERT_EQ(pak("create out.pak tree"), 0);
  EXPECT_EQ(entry("out", "a.txt"), bytes_of("alpha alpha alpha"));
  EXPECT_EQ(entry("out", "sub\\b.bin"), filled(300, 7));

  // A file that begins like a stream is stored so that it reads back as it was.
  write_bytes(dir / "fake.bin", bytes_of("EnCode and then some"));
  ASSERT_EQ(pak("add out.pak 'New\\Deep\\fake.bin' fake.bin"), 0);
  EXPECT_EQ(entry("out", "new\\deep\\fake.bin"), bytes_of("EnCode and then some"));
  // '/' separates levels on the command line as a backslash does.
  ASSERT_EQ(pak("add out.pak Sub/c.txt fake.bin"), 0);
  EXPECT_EQ(entry("out", "sub\\c.txt"), bytes_of("EnCode and then some"));
  ASSERT_EQ(pak("rm out.pak sub/c.txt"), 0);
  EXPECT_EQ(entry("out", "sub\\c.txt"), std::nullopt);

  const Bytes before = read_bytes(dir / "out.pak");
  EXPECT_EQ(pak("rm out.pak a.txt missing.txt"), 1);
  EXPECT_EQ(read_bytes(dir / "out.pak"), before);
  ASSERT_EQ(pak("rm out.pak a.txt sub"), 0);
  EXPECT_EQ(entry("out", "a.txt"), std::nullopt);
  EXPECT_EQ(entry("out", "sub\\"), std::nullopt);

  ASSERT_EQ(pak("extract out.pak x"), 0);
  EXPECT_EQ(read_bytes(dir / "x/new/deep/fake.bin"), bytes_of("EnCode and then some"));
  EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"fake.bin", "out.pak", "tree", "x"}));
}

TEST_F(ToolTest, RawCreateStoresFilesAsTheyAre) {
  ASSERT_EQ(pak("create raw.pak tree --raw"), 0);
  PakArchive archive((dir / "raw").c_str(), 5);
  const std::uint8_t* record = archive.find_record("a.txt");
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(Bytes(archive.view + load_u32(record), archive.view + load_u32(record + 36)),
            bytes_of("alpha alpha alpha"));
}

TEST_F(ToolTest, RefusalsLeaveNothing) {
  write_bytes(dir / "tree/Sub/con.txt", bytes_of("x"));
  EXPECT_EQ(pak("create bad.pak tree"), 1);
  fs::remove(dir.path() / "tree/Sub/con.txt");
  write_bytes(dir / ("tree/" + std::string(32, 'n')), bytes_of("x"));
  EXPECT_EQ(pak("create bad.pak tree"), 1);
  EXPECT_EQ(pak("merge missing.pak missing2.pak"), 1);
  EXPECT_EQ(pak("add missing.pak a.txt tree/A.txt"), 1);
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"tree"});
}

}  // namespace

#endif
