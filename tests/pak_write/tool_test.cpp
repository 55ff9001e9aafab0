// The pak subcommands that write: exit codes, refusals that leave nothing behind, and
// what lands in the packs. POSIX only (runs the tool through the shell).

#include <gtest/gtest.h>

#ifndef _WIN32

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>

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
  // Runs the tool with arguments (shell words); returns its exit code. A run that
  // takes more than 10 s is killed and gives 124 (from timeout).
  int pak(const std::string& arguments) { return run(arguments, "2>/dev/null"); }
  // Runs the tool and keeps what it wrote to stderr in errors.
  int pak(const std::string& arguments, std::string& errors) {
    const int code = run(arguments, "2>stderr.txt");
    const Bytes text = read_bytes(dir / "stderr.txt");
    errors.assign(text.begin(), text.end());
    fs::remove(dir.path() / "stderr.txt");
    return code;
  }
  int run(const std::string& arguments, const std::string& redirect) {
    const std::string command =
        "cd '" + dir.path().string() + "' && timeout 10 '" + tool + "' " + arguments + " " + redirect;
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

TEST_F(ToolTest, CreateWritesTheSamePackOnAnyNumberOfThreads) {
  // Files of many sizes in several directories, so that encoders finish out of order.
  std::mt19937 random(7);
  for (int i = 0; i < 24; ++i) {
    Bytes bytes(std::size_t(random() % 40000));
    for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = std::uint8_t(random() % 5 + (k / 97) % 7);
    fs::create_directories(dir.path() / "tree" / ("d" + std::to_string(i % 3)));
    write_bytes(dir / ("tree/d" + std::to_string(i % 3) + "/f" + std::to_string(i)), bytes);
  }
  for (const char* level : {"exact", "fast"}) {
    SCOPED_TRACE(level);
    ASSERT_EQ(pak(std::string("create one.pak tree -j 1 --level ") + level), 0);
    for (const char* jobs : {"2", "5", "0"}) {
      ASSERT_EQ(pak(std::string("create many.pak tree -j ") + jobs + " --level " + level), 0);
      EXPECT_EQ(read_bytes(dir / "many.pak"), read_bytes(dir / "one.pak")) << "-j " << jobs;
    }
  }
  EXPECT_EQ(entry("many", "d1\\f4"), read_bytes(dir / "tree/d1/f4"));
}

TEST_F(ToolTest, AddOfAFolderPutsEveryFileBelowAnEntryDirectory) {
  ASSERT_EQ(pak("create out.pak tree"), 0);
  fs::create_directories(dir.path() / "more" / "Deeper" / "empty");
  write_bytes(dir / "more/one.txt", bytes_of("one"));
  write_bytes(dir / "more/Deeper/two.txt", bytes_of("two two"));
  // Into a directory the pack has (replacing b.bin), and into new levels.
  write_bytes(dir / "more/b.bin", bytes_of("new b"));
  ASSERT_EQ(pak("add out.pak Sub more -j 2"), 0);
  ASSERT_EQ(pak("add out.pak New/Place more --level fast"), 0);
  for (const std::string prefix : {"sub\\", "new\\place\\"}) {
    SCOPED_TRACE(prefix);
    EXPECT_EQ(entry("out", prefix + "one.txt"), bytes_of("one"));
    EXPECT_EQ(entry("out", prefix + "deeper\\two.txt"), bytes_of("two two"));
    EXPECT_EQ(entry("out", prefix + "b.bin"), bytes_of("new b"));
    PakArchive archive((dir / "out").c_str(), 5);
    EXPECT_NE(archive.find_record((prefix + "deeper\\empty\\").c_str()), nullptr);
  }
  EXPECT_EQ(entry("out", "a.txt"), bytes_of("alpha alpha alpha"));
}

TEST_F(ToolTest, RawCreateStoresFilesAsTheyAre) {
  ASSERT_EQ(pak("create raw.pak tree --raw"), 0);
  PakArchive archive((dir / "raw").c_str(), 5);
  const std::uint8_t* record = archive.find_record("a.txt");
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(Bytes(archive.view + load_u32(record), archive.view + load_u32(record + 36)),
            bytes_of("alpha alpha alpha"));
}

TEST_F(ToolTest, PacksAreFoundAndWrittenUnderTheirNamesAsTyped) {
  ASSERT_EQ(pak("create OUT.PAK tree"), 0);
  ASSERT_EQ(pak("create src.pak tree/Sub"), 0);
  write_bytes(dir / "tree/A.txt", bytes_of("changed"));
  ASSERT_EQ(pak("add OUT.PAK a.txt tree/A.txt"), 0);
  ASSERT_EQ(pak("merge OUT.PAK src.pak"), 0);
  std::set<std::string> names;
  for (const auto& item : fs::directory_iterator(dir.path())) names.insert(item.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"OUT.PAK", "src.pak", "tree"}));
  PakArchive archive;
  archive.pack_extension = ".PAK";
  ASSERT_EQ(archive.open((dir / "OUT").c_str(), 5, 0), 1);
  EXPECT_NE(archive.find_record("a.txt"), nullptr);
  EXPECT_NE(archive.find_record("b.bin"), nullptr);
  EXPECT_NE(archive.find_record("sub\\b.bin"), nullptr);
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

// Arguments that are a FIFO or a directory where a file or pack is expected: every
// command ends at once with exit code 1 and one line on stderr (no hang waiting for a
// writer, no uncaught exception), and the target pack stays as it was.
TEST_F(ToolTest, FifoOrDirectoryArgumentsAreRefusedWithOneLine) {
  ASSERT_EQ(pak("create out.pak tree"), 0);
  ASSERT_EQ(::mkfifo((dir / "fifo.pak").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  fs::create_directories(dir.path() / "folder.pak");
  const Bytes before = read_bytes(dir / "out.pak");

  struct Case {
    const char* arguments;
    const char* message;  // expected somewhere in the one line
  } cases[] = {
      {"merge out.pak fifo.pak", "fifo.pak: not a regular file"},
      {"merge fifo.pak out.pak", "fifo.pak"},
      {"merge out.pak folder.pak", "folder.pak: not a regular file"},
      {"extract fifo.pak x", "fifo.pak"},
      {"extract folder.pak x", "folder.pak: not a regular file"},
      {"extract out.pak fifo", "fifo"},
      {"add out.pak a.txt fifo", "fifo: not a regular file"},
      {"add out.pak a.txt tree", "a.txt: the pack holds a file of this name"},
      {"add fifo.pak a.txt tree/A.txt", "fifo.pak"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    std::string errors;
    EXPECT_EQ(pak(c.arguments, errors), 1);
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_EQ(errors.rfind("pak: ", 0), 0u) << errors;
    EXPECT_NE(errors.find(c.message), std::string::npos) << errors;
  }
  EXPECT_EQ(read_bytes(dir / "out.pak"), before);
  EXPECT_FALSE(fs::exists(dir.path() / "x"));
}

// What a pack cannot hold inside the folder to pack is reported under its own name and
// never opened: a FIFO (no blocking), and links, whichever way they point (not named
// by their targets). The command fails and writes no pack.
TEST_F(ToolTest, CreateReportsWhatItCannotPackWithoutFollowingIt) {
  const fs::path outside = dir.path() / "outside.txt";
  write_bytes(dir / "outside.txt", bytes_of("not in the folder"));
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> make;
    const char* message;
  } cases[] = {
      {"tree/Sub/pipe", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
       "tree/Sub/pipe: neither a file nor a directory"},
      {"tree/Sub/out", [&](const fs::path& p) { fs::create_symlink(outside, p); }, "tree/Sub/out: a symbolic link"},
      {"tree/Sub/in", [&](const fs::path& p) { fs::create_symlink(dir.path() / "tree/A.txt", p); },
       "tree/Sub/in: a symbolic link"},
      {"tree/up", [&](const fs::path& p) { fs::create_directory_symlink(dir.path(), p); }, "tree/up: a symbolic link"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path item = dir.path() / c.name;
    c.make(item);
    std::string errors;
    EXPECT_EQ(pak("create out.pak tree", errors), 1);
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_NE(errors.find(c.message), std::string::npos) << errors;
    EXPECT_FALSE(fs::exists(dir.path() / "out.pak"));
    fs::remove(item);
  }
}

// pak diff refuses what it cannot make into a sound package, with one line naming the
// cause, and leaves no package folder behind.
TEST_F(ToolTest, DiffRefusalsNameTheCauseAndLeaveNoPackage) {
  fs::create_directories(dir.path() / "old");
  fs::create_directories(dir.path() / "busy");
  write_bytes(dir / "busy/x", bytes_of("x"));
  write_bytes(dir / "notes.txt", bytes_of("fine line\nsecond \xF0\x9F\x98\x80 line\n"));
  write_bytes(dir / "notes-latin1.txt", bytes_of("caf\xE9\n"));
  fs::create_directories(dir.path() / "linked");
  fs::create_symlink(dir.path() / "notes.txt", dir.path() / "linked" / "link");  // named as itself
  fs::create_directories(dir.path() / "slashed");
  write_bytes(dir / "slashed/a\\b.txt", bytes_of("a"));
  struct Case {
    const char* arguments;
    const char* message;
  } cases[] = {
      {"diff old tree busy", "exists and is not empty"},
      {"diff old linked out", "linked/link: neither a regular file nor a folder"},
      {"diff old tree out --notes notes.txt", "line 2, column 8"},
      {"diff old tree out --notes notes-latin1.txt", "line 1, column 4"},
      {"diff old missing out", "no such folder"},
      {"diff old tree out --dir 'C://x'", "comment"},
      // On Linux a backslash is an ordinary character of a name; packs and the
      // installer would read it as a folder separator.
      {"diff old slashed out", "slashed/a\\b.txt: the name holds a backslash"},
      {"diff old tree tree/Sub/out", "the package folder lies inside OLD_DIR or NEW_DIR"},
      {"diff tree old tree/out", "the package folder lies inside OLD_DIR or NEW_DIR"},
  };
  for (const Case& c : cases) {
    std::string errors;
    EXPECT_EQ(pak(c.arguments, errors), 1) << c.arguments;
    EXPECT_NE(errors.find(c.message), std::string::npos) << c.arguments << ": " << errors;
    EXPECT_FALSE(fs::exists(dir.path() / "out")) << c.arguments;
    EXPECT_FALSE(fs::exists(dir.path() / "tree/out")) << c.arguments;
    EXPECT_FALSE(fs::exists(dir.path() / "tree/Sub/out")) << c.arguments;
  }
  EXPECT_TRUE(fs::exists(dir.path() / "busy" / "x"));
  // A 0x5C that is the trail byte of a Big5 character is no backslash ("許" is B3 5C).
  fs::create_directories(dir.path() / "big5");
  write_bytes(dir / "big5/\xE8\xA8\xB1.txt", bytes_of("a"));
  std::string errors;
  EXPECT_EQ(pak("diff old big5 fine", errors), 0) << errors;
}

// A refusal that comes after payload files were staged (the new files come first in
// name order) is still one line and exit 1, with no package folder left.
TEST_F(ToolTest, DiffRefusalsAfterStagedFilesLeaveNoPackage) {
  const std::string long_path = std::string(120, 'd') + "/" + std::string(120, 'e') + "/gone.txt";
  struct Case {
    const char* name;
    std::function<void(const fs::path& old_dir, const fs::path& new_dir)> make;
    const char* message;
    bool needs_permissions = false;  // root reads any file
  } cases[] = {
      {"file becomes a folder",
       [](const fs::path& o, const fs::path& n) {
         fs::create_directories(o / "x");
         write_bytes((o / "x/y").string(), bytes_of("y"));
         write_bytes((n / "x").string(), bytes_of("x"));
       },
       "a folder in OLD_DIR is a file in NEW_DIR"},
      {"folder becomes a file",
       [](const fs::path& o, const fs::path& n) {
         write_bytes((o / "z").string(), bytes_of("z"));
         fs::create_directories(n / "z");
         write_bytes((n / "z/w").string(), bytes_of("w"));
       },
       "a file in OLD_DIR is a folder in NEW_DIR"},
      {"removal line too long",
       [&](const fs::path& o, const fs::path&) {
         fs::create_directories((o / long_path).parent_path());
         write_bytes((o / long_path).string(), bytes_of("old"));
       },
       "a removal cannot be written into UPDATA.INI"},
      {"damaged pack in NEW",
       [&](const fs::path& o, const fs::path& n) {
         ASSERT_EQ(pak("create '" + (o / "game.pak").string() + "' tree"), 0);
         Bytes damaged = read_bytes((o / "game.pak").string());
         damaged.resize(damaged.size() - 3);
         write_bytes((n / "game.pak").string(), damaged);
       },
       "(run pak verify)"},
      {"unreadable file",
       [](const fs::path&, const fs::path& n) {
         write_bytes((n / "secret").string(), bytes_of("secret"));
         fs::permissions(n / "secret", fs::perms::none);
       },
       "secret", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_permissions && ::geteuid() == 0) continue;
    const fs::path old_dir = dir.path() / "old", new_dir = dir.path() / "new";
    fs::create_directories(old_dir);
    fs::create_directories(new_dir);
    write_bytes((new_dir / "a-first.txt").string(), filled(5000, 1));  // staged before the refusal
    write_bytes((new_dir / "b-second.txt").string(), filled(7000, 2));
    c.make(old_dir, new_dir);
    std::string errors;
    EXPECT_EQ(pak("diff old new out", errors), 1);
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_NE(errors.find(c.message), std::string::npos) << errors;
    EXPECT_FALSE(fs::exists(dir.path() / "out"));
    // An empty package folder given by the user stays, emptied.
    fs::create_directories(dir.path() / "given");
    EXPECT_EQ(pak("diff old new given"), 1);
    EXPECT_TRUE(fs::is_empty(dir.path() / "given"));
    fs::remove_all(dir.path() / "given");
    fs::remove_all(old_dir);
    fs::remove_all(new_dir);
  }
}

// pak diff reads each new or changed file only when its entry is written: its peak
// memory stays near the encoders' budget, below the files' total (64 MiB here). Files
// of one repeated byte encode fast. Not under AddressSanitizer, whose quarantine keeps
// freed memory.
TEST_F(ToolTest, DiffHoldsNoMoreThanABudgetOfFilesAtOnce) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer keeps freed memory";
#endif
  constexpr std::size_t FILE_SIZE = 2 << 20, FILES = 32;
  fs::create_directories(dir.path() / "old");
  fs::create_directories(dir.path() / "big" / "sub");
  for (std::size_t i = 0; i < FILES; ++i)
    write_bytes(dir / ("big/" + std::string(i % 2 ? "sub/" : "") + "f" + std::to_string(i)),
                Bytes(FILE_SIZE, std::uint8_t(i)));
  std::string errors;
  ASSERT_EQ(pak("diff old big out", errors), 0) << errors;
  rusage usage{};
  ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);
  // Of every child so far, this one the largest.
  const std::uint64_t peak = std::uint64_t(usage.ru_maxrss) << 10;
  EXPECT_LT(peak, std::uint64_t(40) << 20) << "peak " << (peak >> 20) << " MiB";
  EXPECT_EQ(entry("out/DLL", "sub\\f31"), Bytes(FILE_SIZE, 31));
}

TEST_F(ToolTest, DiffOfEqualTreesIsAnEmptyPackage) {
  std::string errors;
  ASSERT_EQ(pak("diff tree tree out --json >out.json", errors), 0) << errors;
  EXPECT_NE(errors.find("no differences"), std::string::npos);
  const Bytes ini = read_bytes(dir / "out/UPDATA.INI");
  EXPECT_EQ(std::string(ini.begin(), ini.end()), "[inst]\r\n");
  EXPECT_EQ(read_bytes(dir / "out/DLL.pak").size(), 40u);  // a pack without entries
  const Bytes json = read_bytes(dir / "out.json");
  EXPECT_EQ(std::string(json.begin(), json.end()).rfind("{\"same\":true,", 0), 0u);
}

}  // namespace

#endif
