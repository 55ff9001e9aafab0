// Kills `pak merge`, `pak extract` and the installer's payload run at random
// moments: a pack must always be byte for byte the old or the new pack, every written
// file the old or the new file (never partial), and the only things an interrupted
// run may leave behind are its temporary files, which the next run removes; a second
// run completes the job. Each test also asserts that its kills landed in every phase of
// the run (before anything was written, while writing, after the job was done), so a
// run too fast or too slow for its kill delays fails instead of testing nothing.
// POSIX only: it needs posix_spawn and kill.
// PAK_CRASH_ITERATIONS sets the number of kills of the merge (default 200;
// a tenth of it, at least 10, for the file writers); PAK_CRASH_LONG=1 makes it 5000.

#include <gtest/gtest.h>

#ifndef _WIN32

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
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

std::string updater_stub() {
  if (const char* path = std::getenv("UPDATER_STUB")) return path;
#ifdef UPDATER_STUB_PATH
  return UPDATER_STUB_PATH;
#else
  return "";
#endif
}

int crash_iterations(int divisor) {
  int iterations = 200;
  if (const char* n = std::getenv("PAK_CRASH_ITERATIONS")) iterations = std::atoi(n);
  if (const char* long_mode = std::getenv("PAK_CRASH_LONG"); long_mode && std::string(long_mode) == "1")
    iterations = 5000;
  return std::max(iterations / divisor, divisor == 1 ? 0 : 10);
}

// Where the kills of one test landed: three phases, each of which must have taken at
// least a twentieth of the planned kills (at least one).
struct KillPhases {
  const char* names[3];
  int counts[3] = {0, 0, 0};

  int minimum(int iterations) const { return iterations == 0 ? 0 : std::max(1, iterations / 20); }
  bool complete(int iterations) const {
    return *std::min_element(std::begin(counts), std::end(counts)) >= minimum(iterations);
  }
  // Past the planned kills, the delay range is stretched while the last phase lacks
  // kills and shrunk while the first does, for at most three times as many kills.
  bool more(int done, int iterations, double& scale) const {
    if (done < iterations) return true;
    if (complete(iterations) || done >= 4 * iterations) return false;
    if (counts[2] < minimum(iterations)) scale = std::min(scale * 1.25, 8.0);
    if (counts[0] < minimum(iterations)) scale = std::max(scale * 0.8, 0.05);
    return true;
  }
  // Kills at random moments, delays drawn from [0, 1.2 x full_time] (scaled as more()
  // says): kill(iteration, delay, phase) runs one killed run and sets the phase (0 to
  // 2) it landed in; a fatal failure in it stops the kills. Returns their number.
  int kill_at_random(int iterations, std::chrono::microseconds full_time, std::mt19937& random,
                     const std::function<void(int, std::chrono::microseconds, int&)>& kill) {
    int done = 0;
    double scale = 1;
    for (; more(done, iterations, scale); ++done) {
      std::uniform_int_distribution<long> delay(0, long(full_time.count() * 12 / 10 * scale));
      int phase = 0;
      kill(done, std::chrono::microseconds(delay(random)), phase);
      if (::testing::Test::HasFatalFailure()) break;
      ++counts[phase];
    }
    return done;
  }
  void expect_complete(int iterations, int done) const {
    for (int i = 0; i < 3; ++i) {
      EXPECT_GE(counts[i], minimum(iterations))
          << "after " << done << " kills, too few landed " << names[i] << ": the kill delays miss that phase";
    }
  }
};

// Runs args (args[0] the program), stdin from input_file when not empty, stdout and
// stderr to /dev/null; kills it after delay unless it is negative. Returns the wall
// time taken.
std::chrono::microseconds run_killed(std::vector<std::string> args, std::chrono::microseconds delay, int* status,
                                     const std::string& input_file = {}) {
  const auto start = std::chrono::steady_clock::now();
  // posix_spawn, not fork: forking a sanitizer-instrumented test copies huge maps.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!input_file.empty()) posix_spawn_file_actions_addopen(&actions, 0, input_file.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const std::string tool = args[0];
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

// Runs `pak merge target source`; kills it after delay unless it is negative.
std::chrono::microseconds run_merge(const std::string& target, const std::string& source,
                                    std::chrono::microseconds delay, int* status) {
  return run_killed({pak_tool(), "merge", target, source}, delay, status);
}

TEST(CrashTest, KilledMergeLeavesOldOrNewPack) {
  if (pak_tool().empty()) GTEST_SKIP() << "no pak tool (set PAK_TOOL)";
  const int iterations = crash_iterations(1);

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

  KillPhases phases{{"before the temporary pack was written", "while the temporary pack was written",
                     "after the new pack was in place"}};
  int leftovers = 0;
  const int done =
      phases.kill_at_random(iterations, full_time, random, [&](int i, std::chrono::microseconds delay, int& phase) {
        write_bytes(target, old_pack);
        run_merge(target, dir / "source.pak", delay, &status);
        const Bytes now = read_bytes(target);
        ASSERT_TRUE(now == old_pack || now == new_pack) << "iteration " << i << ": the pack is neither old nor new";
        // A killed merge may leave its temporary pack; the next merge of the pack
        // removes it, so they never pile up.
        int here = 0;
        for (const std::string& name : listing(dir.path() / "work")) {
          if (name == "data.pak") continue;
          ASSERT_TRUE(name.starts_with("datatemp.") && name.ends_with(".pakupdate-temp")) << "unexpected file " << name;
          ++here;
        }
        ASSERT_LE(here, 1) << "iteration " << i << ": temporary packs pile up";
        leftovers += here;
        phase = now == new_pack ? 2 : here != 0 ? 1 : 0;
      });
  if (HasFatalFailure()) return;
  write_bytes(target, old_pack);
  run_merge(target, dir / "source.pak", std::chrono::microseconds(-1), &status);
  EXPECT_EQ(listing(dir.path() / "work"), std::vector<std::string>{"data.pak"});
  phases.expect_complete(iterations, done);
  RecordProperty("leftover_temporary_packs", leftovers);
}

// Every file below root, "/" between levels, with its bytes.
std::map<std::string, Bytes> files_below(const fs::path& root) {
  std::map<std::string, Bytes> files;
  for (const auto& item : fs::recursive_directory_iterator(root))
    if (item.is_regular_file()) files[item.path().lexically_relative(root).generic_string()] = read_bytes(item.path());
  return files;
}

// A game folder before and after a payload of files is written into it: some files
// are replaced, some are new (a few in new folders), one stays as it was.
struct PayloadCase {
  std::map<std::string, Bytes> old_files, new_files;
  std::vector<std::pair<std::string, Bytes>> entries;  // of the payload pack, with its folders

  explicit PayloadCase(std::mt19937& random) {
    old_files["keep.txt"] = some_bytes(random, 300);
    for (const char* folder : {"", "d\\", "d\\e\\", "n\\", "n\\m\\"})
      if (*folder != 0) entries.push_back({folder, {}});
    for (int i = 0; i < 60; ++i) {
      const std::string folder = i < 20 ? "" : i < 35 ? "d\\" : i < 45 ? "d\\e\\" : i < 55 ? "n\\" : "n\\m\\";
      const std::string name = folder + "f" + std::to_string(i) + ".bin";
      std::string native = name;
      std::replace(native.begin(), native.end(), '\\', '/');
      if (folder.rfind("n", 0) != 0 && i % 4 != 0) old_files[native] = some_bytes(random, 800 + random() % 1500);
      entries.push_back({name, some_bytes(random, 1000 + random() % 6000)});
      new_files[native] = entries.back().second;
    }
    for (const auto& [name, bytes] : old_files)
      if (!new_files.count(name)) new_files[name] = bytes;
    for (const auto& [name, bytes] : new_files)
      if (!old_files.count(name) || old_files.at(name) != bytes) ++changed;
  }
  int changed = 0;  // files the payload adds or replaces
  void lay_out_old(const fs::path& root) const {
    fs::remove_all(root);
    fs::create_directories(root / "d" / "e");
    for (const auto& [name, bytes] : old_files) write_bytes((root / name).string(), bytes);
  }
  // Every file old or new, never anything else; temporary files are counted apart, and
  // so are the files that now hold their new bytes where those differ from the old.
  void expect_old_or_new(const fs::path& root, int iteration, int& leftovers, int& saw_new) const {
    for (const auto& [name, bytes] : files_below(root)) {
      if (name.ends_with(".pakupdate-temp")) {
        ++leftovers;
        continue;
      }
      auto old_file = old_files.find(name);
      auto new_file = new_files.find(name);
      ASSERT_NE(new_file, new_files.end()) << "iteration " << iteration << ": unexpected file " << name;
      const bool is_new = bytes == new_file->second;
      ASSERT_TRUE(is_new || (old_file != old_files.end() && bytes == old_file->second))
          << "iteration " << iteration << ": " << name << " is neither old nor new";
      if (is_new && (old_file == old_files.end() || old_file->second != bytes)) ++saw_new;
    }
  }
};

// Kills a writer of the payload (run(delay, status) starts it on root) at random
// moments; then runs it to the end on what the kill left, which must give the new
// folder and no temporary file.
void kill_payload_writer(const char* what, const PayloadCase& payload, const fs::path& root,
                         const std::function<std::chrono::microseconds(std::chrono::microseconds, int*)>& run) {
  payload.lay_out_old(root);
  int status = 0;
  const auto full_time = run(std::chrono::microseconds(-1), &status);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << what << " failed";
  ASSERT_EQ(files_below(root), payload.new_files);

  std::mt19937 random(99);
  const int iterations = crash_iterations(10);
  KillPhases phases{{"before anything was written", "while the files were written (temporary files or some new ones)",
                     "after the last new file"}};
  int leftovers = 0;
  const int done =
      phases.kill_at_random(iterations, full_time, random, [&](int i, std::chrono::microseconds delay, int& phase) {
        payload.lay_out_old(root);
        run(delay, &status);
        int saw_new = 0;
        const int leftovers_before = leftovers;
        payload.expect_old_or_new(root, i, leftovers, saw_new);
        if (::testing::Test::HasFatalFailure()) return;
        phase = saw_new == payload.changed ? 2 : saw_new != 0 || leftovers != leftovers_before ? 1 : 0;
        run(std::chrono::microseconds(-1), &status);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "iteration " << i << ": the second run failed";
        ASSERT_EQ(files_below(root), payload.new_files) << "iteration " << i << ": the second run did not complete";
      });
  if (::testing::Test::HasFatalFailure()) return;
  SCOPED_TRACE(what);
  phases.expect_complete(iterations, done);
}

TEST(CrashTest, KilledExtractionLeavesEveryFileOldOrNew) {
  if (pak_tool().empty()) GTEST_SKIP() << "no pak tool (set PAK_TOOL)";
  ScratchDir dir;
  std::mt19937 random(4321);
  const PayloadCase payload(random);
  make_pack(dir / "payload", payload.entries);
  const fs::path root = dir.path() / "game";
  kill_payload_writer("pak extract", payload, root, [&](std::chrono::microseconds delay, int* status) {
    return run_killed({pak_tool(), "extract", dir / "payload.pak", root.string()}, delay, status);
  });
}

TEST(CrashTest, KilledInstallerPayloadRunLeavesEveryFileOldOrNew) {
  if (pak_tool().empty() || updater_stub().empty()) GTEST_SKIP() << "no pak tool or installer (PAK_TOOL, UPDATER_STUB)";
  ScratchDir dir;
  std::mt19937 random(8765);
  const PayloadCase payload(random);
  const fs::path root = dir.path() / "game";
  fs::create_directories(dir.path() / "package");
  make_pack(dir / "package/DLL", payload.entries);
  const std::string ini = "[inst]\r\ndir=" + root.string() + "\r\n";
  write_bytes(dir / "package/UPDATA.INI", Bytes(ini.begin(), ini.end()));
  int status = 0;
  run_killed({pak_tool(), "bundle", updater_stub(), dir / "package", dir / "updater"}, std::chrono::microseconds(-1),
             &status);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "pak bundle failed";
  write_bytes(dir / "answer", bytes_of("ok\n"));
  kill_payload_writer("the installer's payload run", payload, root, [&](std::chrono::microseconds delay, int* status) {
    return run_killed({dir / "updater"}, delay, status, dir / "answer");
  });
}

}  // namespace

#endif
