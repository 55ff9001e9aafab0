// Unattended installs: the command line, the install without a window and its exit
// code and log, and the integrity check of the package made before the run.

#include "app/unattended.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/package_check.h"
#include "app/program.h"
#include "app/run_messages.h"
#include "app/run_report.h"
#include "app/update_run.h"
#include "pak/write_messages.h"
#include "platform/files.h"
#include "pakupdate_version.h"
#include "platform/package_record.h"
#include "platform/system.h"
#include "tests/app/test_files.h"

namespace {

TEST(InstallOptions, FollowTheConventionsOfWindowsInstallers) {
  struct Case {
    std::vector<std::string> arguments;
    bool silent;
    std::optional<std::string> folder, log;
  };
  const Case cases[] = {
      {{}, false, {}, {}},
      {{"/S"}, true, {}, {}},
      {{"--silent"}, true, {}, {}},
      {{"/S", "/D=C:\\Games\\QRM"}, true, "C:\\Games\\QRM", {}},
      // /D= takes the rest of the line, spaces included.
      {{"/S", "/D=C:\\Program", "Files\\QRM", "/LOG=x"}, true, "C:\\Program Files\\QRM /LOG=x", {}},
      {{"/d=C:\\QRM"}, false, "C:\\QRM", {}},
      {{"--dir", "/opt/qrm", "--silent"}, true, "/opt/qrm", {}},
      {{"--dir=/opt/q r m"}, false, "/opt/q r m", {}},
      {{"/LOG=install.log", "/S"}, true, {}, "install.log"},
      {{"/log=C:\\x.log"}, false, {}, "C:\\x.log"},
      {{"--log", "a b.log"}, false, {}, "a b.log"},
      {{"--log=a.log", "--dir", "\xB9\x43\xC0\xB8\\\xA5\x5C"}, false, "\xB9\x43\xC0\xB8\\\xA5\x5C", "a.log"},
  };
  for (const Case& c : cases) {
    const ParsedOptions parsed = parse_install_options(c.arguments);
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->silent, c.silent);
    EXPECT_EQ(parsed.options->folder, c.folder);
    EXPECT_EQ(parsed.options->log_file, c.log);
  }
  EXPECT_TRUE(parse_install_options({"/?"}).options->help);
  EXPECT_TRUE(parse_install_options({"--help"}).options->help);
  // The version, from the build's one version number, and /? shows it first.
  EXPECT_TRUE(parse_install_options({"--version"}).options->version);
  EXPECT_EQ(std::string(INSTALL_VERSION), "updater (pakupdate " PAKUPDATE_VERSION ")\n");
  EXPECT_TRUE(std::string(INSTALL_USAGE).starts_with(INSTALL_VERSION));
}

TEST(InstallOptions, AnythingElseIsRefusedWithAReason) {
  const std::vector<std::vector<std::string>> cases = {
      {"/s"},  // /S is case-sensitive, as Windows installers take it
      {"/silent"},
      {"-S"},
      {"/S", "/S"},
      {"--silent", "/S"},
      {"/D="},
      {"--dir"},
      {"--dir", ""},
      {"--dir=a", "--dir=b"},
      {"--dir=a", "/D=b"},
      {"/LOG="},
      {"--log"},
      {"/LOG=a", "--log", "b"},
      {"install"},
      {""},
      // /D= takes the rest of the line: an /S after it would be part of the folder.
      {"/D=C:\\Games\\QRM", "/S"},
      {"/D=C:\\Program", "Files", "--silent"},
  };
  for (const auto& arguments : cases) {
    const ParsedOptions parsed = parse_install_options(arguments);
    EXPECT_FALSE(parsed.options) << (arguments.empty() ? "" : arguments.front());
    EXPECT_FALSE(parsed.error.empty());
  }
}

TEST(RunReport, TheWorstOutcomeDecidesTheExitCode) {
  struct Event {
    RunProblem problem;
    int code;
  };
  const Event events[] = {
      {RunProblem::file_not_written, EXIT_FILES_NOT_WRITTEN},
      {RunProblem::link_in_way, EXIT_FILES_NOT_WRITTEN},
      {RunProblem::folder_in_way, EXIT_FILES_NOT_WRITTEN},
      {RunProblem::file_in_way, EXIT_FILES_NOT_WRITTEN},
      {RunProblem::game_pack_unreadable, EXIT_FILES_NOT_WRITTEN},
      {RunProblem::not_written, EXIT_FILES_NOT_WRITTEN},
      {RunProblem::removals_not_done, EXIT_FILES_NOT_WRITTEN},
      {RunProblem::folder_missing, EXIT_FOLDER_NOT_SETTLED},
      {RunProblem::folder_refused, EXIT_FOLDER_NOT_SETTLED},
      {RunProblem::folder_too_long, EXIT_FOLDER_NOT_SETTLED},
      {RunProblem::package_damaged, EXIT_PACKAGE_DAMAGED},
  };
  for (const Event& event : events) {
    SCOPED_TRACE(int(event.problem));
    RunReport report;
    report.written("C:\\QRM\\a.dll");
    EXPECT_EQ(report.exit_code(), EXIT_DONE);
    report.problem(event.problem, "C:\\QRM\\b.dll", "file path is longer than 259 bytes");
    EXPECT_EQ(report.exit_code(), event.code);
    // A lesser problem afterwards leaves the code as it is.
    report.problem(RunProblem::file_not_written, "C:\\QRM\\c.dll");
    EXPECT_EQ(report.exit_code(), event.code);
    EXPECT_EQ(report.problem_lines().size(), 2u);
  }
  RunReport report;
  report.written("C:\\\xB9\x43\xC0\xB8\\a.dll");
  report.merged("C:\\QRM\\data.pak");
  report.removed("C:\\QRM\\data.pak\\old.map");
  report.problem(RunProblem::file_not_written, "C:\\QRM\\b\ndll");
  report.problem(RunProblem::not_written, "C:\\QRM\\c.dll", "EnCode stream does not decode: cut short");
  EXPECT_EQ(report.log_text(),
            "written C:\\遊戲\\a.dll\n"
            "merged C:\\QRM\\data.pak\n"
            "removed C:\\QRM\\data.pak\\old.map\n"
            "failed C:\\QRM\\b dll: cannot be written (locked by a running program, no access or disk full)\n"
            "failed C:\\QRM\\c.dll: EnCode stream does not decode: cut short\n"
            "result 4\n");
}

// The unattended run in a scratch folder with a stand-in package.
class UnattendedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    update_ini.clear();
    install_ini.clear();
    game = scratch.path() / "game";
    std::filesystem::create_directories(game);
    host.windows_directory = [this] { return (scratch.path() / "windows").string(); };
    host.find_resource = [](std::string_view name) { return platform::find_resource(name); };
  }
  void TearDown() override {
    update_ini.clear();
    install_ini.clear();
    system_archive.close();
    install_dir.clear();
    set_active_run_report(nullptr);
  }
  void configure(const std::string& text) { update_ini.parse(text.data(), std::int32_t(text.size())); }
  int run(InstallOptions options) { return run_unattended(options, host, report); }

  ScratchDir scratch;
  std::filesystem::path game;
  PackageStandIn package;
  DialogHost host;
  RunReport report;
};

TEST_F(UnattendedTest, InstallsIntoTheProposedFolderAndLogsEveryFile) {
  package.add("dll.pak", make_pack({{"a.txt", "new a"}, {"bin\\b.dll", "new b"}}));
  package.add("data.pak", make_pack({{"m.map", "new map"}}));
  write_bytes(game / "data.pak", make_pack({{"old.map", "kept"}}));
  configure("[inst]\r\ndir=" + game.string() + "\r\n[pack0]\r\nname=data\r\n");
  InstallOptions options;
  options.silent = true;

  EXPECT_EQ(run(options), EXIT_DONE);
  EXPECT_EQ(read_bytes(game / "a.txt"), "new a");
  EXPECT_EQ(read_bytes(game / "bin" / "b.dll"), "new b");
  ASSERT_EQ(report.lines().size(), 3u);
  EXPECT_EQ(report.lines()[0].rfind("written ", 0), 0u);
  EXPECT_NE(report.lines()[0].find("a.txt"), std::string::npos);
  EXPECT_NE(report.lines()[1].find("b.dll"), std::string::npos);
  EXPECT_EQ(report.lines()[2].rfind("merged ", 0), 0u);
  EXPECT_NE(report.lines()[2].find("data.pak"), std::string::npos);
  EXPECT_TRUE(report.problem_lines().empty());
}

TEST_F(UnattendedTest, AGameThatDoesNotCloseInTimeGivesItsExitCodeAndNothingIsWritten) {
  package.add("dll.pak", make_pack({{"a.txt", "new a"}}));
  configure("[inst]\r\ndir=" + game.string() + "\r\n");
  game_still_running = [] { return true; };
  game_wait_limit = std::chrono::milliseconds(300);
  InstallOptions options;
  options.silent = true;
  const int code = run(options);
  game_still_running = [] { return false; };
  game_wait_limit = std::chrono::milliseconds(60000);
  EXPECT_EQ(code, EXIT_GAME_RUNNING);
  EXPECT_FALSE(std::filesystem::exists(game / "a.txt"));
  ASSERT_EQ(report.problem_lines().size(), 1u);
  EXPECT_NE(report.problem_lines()[0].find("the game still ran"), std::string::npos);
  // The line names the folder the run waited to write into.
  EXPECT_EQ(report.problem_lines()[0].rfind("refused " + game.string() + ": ", 0), 0u) << report.problem_lines()[0];
}

TEST_F(UnattendedTest, TheFolderOptionWinsOverTheProposedOne) {
  package.add("dll.pak", make_pack({{"a.txt", "new a"}}));
  configure("[inst]\r\ndir=" + (scratch.path() / "elsewhere").string() + "\r\n");
  InstallOptions options;
  options.silent = true;
  options.folder = game.string();
  EXPECT_EQ(run(options), EXIT_DONE);
  EXPECT_EQ(read_bytes(game / "a.txt"), "new a");
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "elsewhere"));
}

TEST_F(UnattendedTest, AFolderTheDialogWouldNotOfferIsRefusedAndNothingWritten) {
  package.add("dll.pak", make_pack({{"a.txt", "new a"}}));
  struct Case {
    const char* what;
    std::string config;
    std::optional<std::string> folder;
  };
  const Case cases[] = {
      // The game's INI is not found: the dialog hides OK until a folder is picked.
      {"game INI missing", "[inst]\r\nwin_ini=QRM.ini\r\ndir=" + game.string() + "\r\n", {}},
      {"folder option missing", "[inst]\r\n", (scratch.path() / "missing").string()},
      {"folder option empty after its separators", "[inst]\r\n", std::string("\\")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    update_ini.clear();
    install_ini.clear();
    report = RunReport();
    configure(c.config);
    InstallOptions options;
    options.silent = true;
    options.folder = c.folder;
    EXPECT_EQ(run(options), EXIT_FOLDER_NOT_SETTLED);
    ASSERT_EQ(report.problem_lines().size(), 1u);
    EXPECT_EQ(report.problem_lines()[0].rfind("refused ", 0), 0u) << report.problem_lines()[0];
    EXPECT_FALSE(std::filesystem::exists(game / "a.txt"));
  }
}

TEST_F(UnattendedTest, ARelativeFolderOrAFileIsNoInstallFolder) {
  package.add("dll.pak", make_pack({{"a.txt", "new a"}}));
  const std::filesystem::path windows = scratch.path() / "windows";
  write_bytes(windows / "QRM.ini", "[inst_path]\r\npath=.\r\n");
  write_bytes(game / "file", "a file");
  struct Case {
    const char* what;
    std::string config;
    std::optional<std::string> folder;
    const char* reason;
  };
  const Case cases[] = {
      {"configuration dir=..", "[inst]\r\ndir=..\r\n", {}, "not an absolute path"},
      {"game INI path=.", "[inst]\r\nwin_ini=QRM.ini\r\n", {}, "not an absolute path"},
      {"relative folder option", "[inst]\r\n", std::string("game"), "not an absolute path"},
      {"a file as the folder", "[inst]\r\n", (game / "file").string(), "not a folder"},
  };
  // The current folder is where a relative folder would land.
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(game);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    update_ini.clear();
    install_ini.clear();
    system_archive.close();
    report = RunReport();
    configure(c.config);
    InstallOptions options;
    options.silent = true;
    options.folder = c.folder;
    EXPECT_EQ(run(options), EXIT_FOLDER_NOT_SETTLED);
    ASSERT_EQ(report.problem_lines().size(), 1u);
    EXPECT_NE(report.problem_lines()[0].find(c.reason), std::string::npos) << report.problem_lines()[0];
  }
  std::filesystem::current_path(previous);
  EXPECT_FALSE(std::filesystem::exists(game / "a.txt"));
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "a.txt"));
  EXPECT_FALSE(std::filesystem::exists(game / "game" / "a.txt"));
}

TEST_F(UnattendedTest, TheWaitForTheGameEndsInTimeWhateverTheWindowQueryTakes) {
  package.add("dll.pak", make_pack({{"a.txt", "new a"}}));
  configure("[inst]\r\ndir=" + game.string() + "\r\n");
  // A window query that answers only after a long while, as against a stuck X server.
  game_still_running = [] {
    platform::sleep_milliseconds(400);
    return true;
  };
  game_wait_limit = std::chrono::milliseconds(3000);
  InstallOptions options;
  options.silent = true;
  const auto started = std::chrono::steady_clock::now();
  const int code = run(options);
  const auto took = std::chrono::steady_clock::now() - started;
  game_still_running = [] { return false; };
  game_wait_limit = std::chrono::milliseconds(60000);
  EXPECT_EQ(code, EXIT_GAME_RUNNING);
  EXPECT_LE(took, std::chrono::milliseconds(3000));
  EXPECT_FALSE(std::filesystem::exists(game / "a.txt"));
}

TEST(LogFile, ALogThatCannotBeWrittenIsRefusedBeforehand) {
  ScratchDir scratch;
  write_bytes(scratch.path() / "old.log", "old");
  std::filesystem::create_directories(scratch.path() / "folder.log");
  struct Case {
    const char* what;
    std::filesystem::path path;
    const char* reason;  // empty: usable
  };
  std::vector<Case> cases = {
      {"a new log", scratch.path() / "new.log", ""},
      {"an existing log", scratch.path() / "old.log", ""},
      {"a missing folder", scratch.path() / "missing" / "install.log", "folder does not exist"},
      {"a folder", scratch.path() / "folder.log", "a folder"},
  };
#ifndef _WIN32
  std::filesystem::create_symlink(scratch.path() / "old.log", scratch.path() / "link.log");
  cases.push_back({"a link", scratch.path() / "link.log", "a link"});
  cases.push_back({"a dangling link", scratch.path() / "dangling.log", "a link"});
  std::filesystem::create_symlink(scratch.path() / "nowhere", scratch.path() / "dangling.log");
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string problem = log_file_problem(c.path.string());
    if (*c.reason == 0)
      EXPECT_EQ(problem, "");
    else
      EXPECT_NE(problem.find(c.reason), std::string::npos) << problem;
  }
}

TEST(LogFile, AFailedWriteLeavesTheOldLog) {
  ScratchDir scratch;
  write_bytes(scratch.path() / "install.log", "the old log\n");
  RunReport report;
  for (int i = 0; i < 100; ++i) report.written("C:\\QRM\\file" + std::to_string(i));
  InstallOptions options;
  options.log_file = (scratch.path() / "install.log").string();
  std::string errors;
  platform::inject_write_failure_after(100);
  EXPECT_FALSE(finish_report(options, report, errors));
  platform::inject_write_failure_after(-1);
  EXPECT_EQ(read_bytes(scratch.path() / "install.log"), "the old log\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 1);
}

TEST_F(UnattendedTest, AFileThatCannotBeWrittenIsLoggedAndTheOthersAreWritten) {
  package.add("dll.pak", make_pack({{"blocked.txt", "x"}, {"free.txt", "written"}}));
  // A folder where the file should go: it can be neither created nor replaced.
  std::filesystem::create_directories(game / "blocked.txt" / "inside");
  configure("[inst]\r\ndir=" + game.string() + "\r\n");
  InstallOptions options;
  options.silent = true;
  EXPECT_EQ(run(options), EXIT_FILES_NOT_WRITTEN);
  EXPECT_EQ(read_bytes(game / "free.txt"), "written");
  ASSERT_EQ(report.problem_lines().size(), 1u);
  EXPECT_EQ(report.problem_lines()[0],
            "refused " + game.string() + "\\blocked.txt: a folder stands where the file should be");
  EXPECT_NE(report.log_text().find("written "), std::string::npos);
  EXPECT_NE(report.log_text().find("result 4\n"), std::string::npos);
}

TEST_F(UnattendedTest, RemovalsAreLoggedOrReportedAsNotDone) {
  package.add("dll.pak", make_pack({{"new.txt", "new"}}));
  write_bytes(game / "sound.pak", make_pack({{"s1", "1"}, {"s2", "2"}}));
  configure("[inst]\r\ndir=" + game.string() +
            "\r\n[remove]\r\nfile=gone.txt\r\n[remove_pack0]\r\nname=sound\r\nentry=s1\r\n");
  InstallOptions options;
  options.silent = true;
  {
    SCOPED_TRACE("a write before them failed");
    write_bytes(game / "gone.txt", "g");
    std::filesystem::create_directories(game / "new.txt");
    EXPECT_EQ(run(options), EXIT_FILES_NOT_WRITTEN);
    EXPECT_TRUE(std::filesystem::exists(game / "gone.txt"));
    ASSERT_EQ(report.problem_lines().size(), 2u);
    EXPECT_EQ(report.problem_lines()[0].rfind("refused " + game.string() + "\\new.txt: a folder stands", 0), 0u)
        << report.problem_lines()[0];
    EXPECT_EQ(report.problem_lines()[1].rfind("failed " + game.string() + ": removals not done", 0), 0u)
        << report.problem_lines()[1];
  }
  {
    SCOPED_TRACE("the cause gone");
    std::filesystem::remove(game / "new.txt");
    report = RunReport();
    EXPECT_EQ(run(options), EXIT_DONE);
    EXPECT_FALSE(std::filesystem::exists(game / "gone.txt"));
    const std::vector<std::string> expected = {"written " + game.string() + "\\new.txt",
                                               "removed " + game.string() + "\\sound.pak\\s1",
                                               "removed " + game.string() + "\\gone.txt"};
    EXPECT_EQ(report.lines(), expected);
  }
}

TEST(InstallUsage, ListsEveryExitCode) {
  for (int code = EXIT_DONE; code <= EXIT_GAME_RUNNING; ++code) {
    std::string listed = " ";
    listed += std::to_string(code);
    listed += ' ';
    EXPECT_NE(std::string(INSTALL_USAGE).find(listed), std::string::npos) << code;
  }
}

TEST_F(UnattendedTest, TheLogIsWrittenWhereAsked) {
  RunReport logged;
  logged.written("a.txt");
  InstallOptions options;
  options.log_file = (scratch.path() / "install.log").string();
  std::string errors;
  EXPECT_TRUE(finish_report(options, logged, errors));
  EXPECT_EQ(read_bytes(scratch.path() / "install.log"), "written a.txt\nresult 0\n");
  EXPECT_TRUE(errors.empty());

  options.log_file = (scratch.path() / "no such folder" / "install.log").string();
  EXPECT_FALSE(finish_report(options, logged, errors));
  EXPECT_NE(errors.find("log"), std::string::npos);
}

// A package as the program carries it, with the record pak bundle adds.
struct SealedPackage {
  std::map<std::string, std::string> files;
  std::vector<std::string> table_names;  // as an appended table lists them
  bool table_damaged = false;

  void seal() {
    std::vector<platform::NamedBlob> blobs;
    for (const auto& [name, bytes] : files) blobs.push_back({name, {bytes.begin(), bytes.end()}});
    const auto record = platform::make_package_record(blobs);
    files["PACKAGE.CRC"] = std::string(record.begin(), record.end());
  }
  PackageVerdict check() const {
    platform::OwnTable table{table_damaged, table_names};
    return check_package(
        [this](std::string_view name) -> std::optional<platform::ByteView> {
          for (const auto& [file, bytes] : files)
            if (platform::resource_name_equal(file, name))
              return platform::ByteView(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
          return std::nullopt;
        },
        table);
  }
};

TEST(PackageCheck, EveryFileTheInstallerReadsMustBeRecordedAndMatch) {
  using State = PackageVerdict::State;
  struct Case {
    const char* what;
    void (*change)(SealedPackage&);
    State state;
    std::string file;
  };
  const Case cases[] = {
      {"sound", [](SealedPackage&) {}, State::sound, ""},
      {"nothing at all",
       [](SealedPackage& p) {
         p.files.clear();
         p.table_names.clear();
       },
       State::none, ""},
      {"table damaged", [](SealedPackage& p) { p.table_damaged = true; }, State::damaged, "package table"},
      {"record missing", [](SealedPackage& p) { p.files.erase("PACKAGE.CRC"); }, State::damaged, "PACKAGE.CRC"},
      {"only a configuration, no record",
       [](SealedPackage& p) {
         p.files = {{"UPDATA.INI", "[inst]\r\n"}};
       },
       State::damaged, "PACKAGE.CRC"},
      {"notes flipped", [](SealedPackage& p) { p.files["NOTE.TXT"][1] ^= 0x01; }, State::damaged, "NOTE.TXT"},
      {"payload cut", [](SealedPackage& p) { p.files["DLL.PAK"].pop_back(); }, State::damaged, "DLL.PAK"},
      {"configuration changed", [](SealedPackage& p) { p.files["UPDATA.INI"] += "x"; }, State::damaged, "UPDATA.INI"},
      {"merge pack missing", [](SealedPackage& p) { p.files.erase("data.pak"); }, State::damaged, "data.pak"},
      {"notes not in the record",
       [](SealedPackage& p) {
         const std::string notes = p.files["NOTE.TXT"];
         p.files.erase("NOTE.TXT");
         p.seal();
         p.files["NOTE.TXT"] = notes;
       },
       State::damaged, "NOTE.TXT"},
      {"a blob of the table not recorded", [](SealedPackage& p) { p.table_names.push_back("extra.pak"); },
       State::damaged, "extra.pak"},
      {"a table with no entries",
       [](SealedPackage& p) {
         p.files.clear();
         p.table_names.clear();
       },
       State::none, ""},
      {"the same file twice in the table", [](SealedPackage& p) { p.table_names.push_back("dll.pak"); }, State::damaged,
       "package table"},
      {"an empty configuration",
       [](SealedPackage& p) {
         p.files["UPDATA.INI"] = "";
         p.seal();
       },
       State::empty_configuration, "UPDATA.INI"},
      {"a configuration without a section",
       [](SealedPackage& p) {
         p.files["UPDATA.INI"] = "\r\n// notes\r\n";
         p.seal();
       },
       State::empty_configuration, "UPDATA.INI"},
      {"a removal record the run refuses",
       [](SealedPackage& p) {
         p.files["UPDATA.INI"] += "[remove]\r\nfile=..\\outside.txt\r\n";
         p.seal();
       },
       State::damaged, "UPDATA.INI"},
      {"a merge pack name that is no plain name",
       [](SealedPackage& p) {
         p.files["UPDATA.INI"] = "[pack0]\r\nname=sub\\data\r\n";
         p.seal();
       },
       State::damaged, "UPDATA.INI"},
      {"a merge pack neither there nor recorded",
       [](SealedPackage& p) {
         p.files["UPDATA.INI"] += "[pack1]\r\nname=more\r\n";
         p.seal();
       },
       State::damaged, "more.pak"},
      {"a payload that is no pack",
       [](SealedPackage& p) {
         p.files["DLL.PAK"] = "PACK";
         p.seal();
       },
       State::damaged, "DLL.PAK"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SealedPackage package;
    package.files = {{"UPDATA.INI", "[pack0]\r\nname=data\r\n"},
                     {"DLL.PAK", make_pack({{"a.txt", "a"}})},
                     {"data.pak", make_pack({})}};
    package.files["NOTE.TXT"] = "\xA7\xF3\xB7s";
    package.seal();
    for (const auto& [name, bytes] : package.files) package.table_names.push_back(name);
    c.change(package);
    const PackageVerdict verdict = package.check();
    EXPECT_EQ(verdict.state, c.state) << verdict.file << ": " << verdict.text;
    EXPECT_EQ(verdict.file, c.file);
  }
}

TEST(PackageCheck, WithoutAPackageToInstallOnlyAnUnattendedRunReportsIt) {
  using State = PackageVerdict::State;
  struct Case {
    const char* what;
    PackageVerdict verdict;
    bool silent;
    int code;
    const char* said;  // in the log and on stderr; empty: nothing said
  };
  const Case cases[] = {
      {"no package, dialog", {}, false, EXIT_DONE, ""},
      {"no package, unattended", {}, true, EXIT_PACKAGE_DAMAGED, "no update package"},
      {"empty configuration, dialog",
       {State::empty_configuration, "UPDATA.INI", "empty configuration", {}},
       false,
       EXIT_DONE,
       ""},
      {"empty configuration, unattended",
       {State::empty_configuration, "UPDATA.INI", "empty configuration", {}},
       true,
       EXIT_PACKAGE_DAMAGED,
       "refused UPDATA.INI: the update package is damaged: empty configuration"},
      {"damaged, dialog",
       {State::damaged, "DLL.PAK", "missing", {}},
       false,
       EXIT_PACKAGE_DAMAGED,
       "refused DLL.PAK: the update package is damaged: missing"},
      {"damaged, unattended",
       {State::damaged, "DLL.PAK", "missing", {}},
       true,
       EXIT_PACKAGE_DAMAGED,
       "refused DLL.PAK: the update package is damaged: missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir scratch;
    InstallOptions options;
    options.silent = c.silent;
    options.log_file = (scratch.path() / "install.log").string();
    RunReport report;
    std::string errors;
    EXPECT_EQ(end_without_package(options, c.verdict, report, errors), c.code);
    const std::string log = read_bytes(scratch.path() / "install.log");
    if (*c.said == 0) {
      EXPECT_TRUE(errors.empty()) << errors;
      EXPECT_FALSE(std::filesystem::exists(scratch.path() / "install.log"));
    } else {
      EXPECT_NE(errors.find(c.said), std::string::npos) << errors;
      EXPECT_NE(log.find(c.said), std::string::npos) << log;
      EXPECT_NE(log.find("result 2\n"), std::string::npos) << log;
    }
  }
}

TEST(PackageCheck, AMergePackTheConfigurationNamesMustBeRecorded) {
  // Compiled-in resources cannot be listed: the configuration says which packs count.
  SealedPackage package;
  package.files = {{"UPDATA.INI", "[pack0]\r\nname=data\r\n"}, {"DLL.PAK", make_pack({})}};
  package.seal();
  package.files["data.pak"] = make_pack({});
  const PackageVerdict verdict = package.check();
  EXPECT_EQ(verdict.state, PackageVerdict::State::damaged);
  EXPECT_EQ(verdict.file, "data.pak");
}

}  // namespace
