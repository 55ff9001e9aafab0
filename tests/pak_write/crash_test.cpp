// Kills `pak merge` at random moments: the target pack must always be byte for byte
// the old or the new pack, and the only thing an interrupted run may leave behind is
// its temporary pack (counted and reported here). POSIX only: it needs fork and kill.
// PAK_CRASH_ITERATIONS sets the number of kills (default 200); PAK_CRASH_LONG=1
// makes it 5000.

#include <gtest/gtest.h>

#ifndef _WIN32

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "pak/archive.h"
#include "pak_test_util.h"

using namespace pak_test;
namespace fs = std::filesystem;

namespace {

std::string pak_tool() {
  if (const char* path = std::getenv("PAK_TOOL")) return path;
#ifdef PAK_TOOL_PATH
  return PAK_TOOL_PATH;
#else
  return "";
#endif
}

// Writes a pack of the given entries (directories staged as such) at base + ".pak".
void make_pack(const std::string& base, const std::vector<std::pair<std::string, Bytes>>& entries) {
  PakArchive archive;
  archive.base_path = base;
  for (const auto& [name, bytes] : entries) {
    auto* entry = new PendingEntry(name.c_str(), 0);
    entry->data = bytes;
    entry->size = std::uint32_t(bytes.size());
    entry->next = archive.pending;
    archive.pending = entry;
  }
  ASSERT_EQ(archive.rebuild((base + "temp").c_str(), 1), 1);
}

Bytes some_bytes(std::mt19937& random, std::size_t size) {
  Bytes bytes(size);
  // Compressible but not trivial, so that encoding takes a while.
  for (std::size_t i = 0; i < size; ++i) bytes[i] = std::uint8_t(random() % 7 + (i / 64) % 5);
  return bytes;
}

// Runs `pak merge target source`; kills it after delay unless it is negative.
// Returns the wall time taken.
std::chrono::microseconds run_merge(const std::string& target, const std::string& source,
                                    std::chrono::microseconds delay, int* status) {
  const auto start = std::chrono::steady_clock::now();
  const std::string tool = pak_tool();
  // posix_spawn, not fork: forking a sanitizer-instrumented test copies huge maps.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args = {tool, "merge", target, source};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawn(&child, tool.c_str(), &actions, nullptr, argv.data(), environ) != 0) child = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (child < 0) {
    *status = -1;
    return {};
  }
  if (delay.count() >= 0) {
    std::this_thread::sleep_for(delay);
    kill(child, SIGKILL);
  }
  waitpid(child, status, 0);
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
}

TEST(CrashTest, KilledMergeLeavesOldOrNewPack) {
  if (pak_tool().empty()) GTEST_SKIP() << "no pak tool (set PAK_TOOL)";
  int iterations = 200;
  if (const char* n = std::getenv("PAK_CRASH_ITERATIONS")) iterations = std::atoi(n);
  if (const char* long_mode = std::getenv("PAK_CRASH_LONG"); long_mode && std::string(long_mode) == "1")
    iterations = 5000;

  ScratchDir dir;
  std::mt19937 random(12345);
  std::vector<std::pair<std::string, Bytes>> old_entries, new_entries;
  old_entries.push_back({"d\\", {}});
  for (int i = 0; i < 80; ++i)
    old_entries.push_back({(i % 2 ? "d\\f" : "f") + std::to_string(i) + ".bin", some_bytes(random, 1500)});
  new_entries.push_back({"d\\", {}});
  for (int i = 0; i < 80; i += 3)
    new_entries.push_back({(i % 2 ? "d\\f" : "f") + std::to_string(i) + ".bin", some_bytes(random, 2000)});
  new_entries.push_back({"n\\", {}});
  for (int i = 0; i < 20; ++i) new_entries.push_back({"n\\g" + std::to_string(i) + ".bin", some_bytes(random, 2000)});
  make_pack(dir / "old", old_entries);
  make_pack(dir / "source", new_entries);
  const Bytes old_pack = read_bytes(dir / "old.pak");

  // One uninterrupted run gives the new pack and the time a merge takes.
  fs::create_directories(dir.path() / "work");
  const std::string target = (dir.path() / "work" / "data.pak").string();
  write_bytes(target, old_pack);
  int status = 0;
  const auto full_time = run_merge(target, dir / "source.pak", std::chrono::microseconds(-1), &status);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  const Bytes new_pack = read_bytes(target);
  ASSERT_NE(new_pack, old_pack);

  int saw_old = 0, saw_new = 0, leftovers = 0;
  std::uniform_int_distribution<long> delay(0, long(full_time.count() * 12 / 10));
  for (int i = 0; i < iterations; ++i) {
    write_bytes(target, old_pack);
    run_merge(target, dir / "source.pak", std::chrono::microseconds(delay(random)), &status);
    const Bytes now = read_bytes(target);
    ASSERT_TRUE(now == old_pack || now == new_pack) << "iteration " << i << ": the pack is neither old nor new";
    (now == old_pack ? saw_old : saw_new)++;
    // A killed merge may leave its temporary pack; the next merge of the pack removes
    // it, so they never pile up.
    int here = 0;
    for (const std::string& name : listing(dir.path() / "work")) {
      if (name == "data.pak") continue;
      ASSERT_TRUE(name.starts_with("datatemp.") && name.ends_with(".pakupdate-temp")) << "unexpected file " << name;
      ++here;
    }
    ASSERT_LE(here, 1) << "iteration " << i << ": temporary packs pile up";
    leftovers += here;
  }
  write_bytes(target, old_pack);
  run_merge(target, dir / "source.pak", std::chrono::microseconds(-1), &status);
  EXPECT_EQ(listing(dir.path() / "work"), std::vector<std::string>{"data.pak"});
  std::printf("[ crash    ] %d kills (merge takes %lld us): %d old, %d new, %d temporary packs left\n", iterations,
              static_cast<long long>(full_time.count()), saw_old, saw_new, leftovers);
  RecordProperty("leftover_temporary_packs", leftovers);
}

}  // namespace

#endif
