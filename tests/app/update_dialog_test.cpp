// The update dialog's logic against a recording view: the proposed path and OK for
// every kind of configuration and game INI, the notes, the commands.

#include "app/update_dialog.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/program.h"
#include "app/resource.h"
#include "app/run_messages.h"
#include "app/update_run.h"
#include "tests/app/recording_view.h"
#include "tests/app/test_files.h"

namespace {

// Resets the program-wide objects between tests.
void reset_program() {
  system_archive.close();
  install_ini.clear();
  update_ini.clear();
  install_dir.clear();
  pack_path.clear();
  path_message.clear();
}

class UpdateDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_program(); }
  void TearDown() override { reset_program(); }

  void configure(const std::string& text) { update_ini.parse(text.data(), static_cast<std::int32_t>(text.size())); }

  DialogHost host() {
    DialogHost result;
    result.windows_directory = [this] { return windows_dir; };
    result.find_resource = [this](std::string_view name) -> std::optional<platform::ByteView> {
      const auto found = resources.find(std::string(name));
      if (found == resources.end()) return std::nullopt;
      return platform::ByteView(reinterpret_cast<const std::uint8_t*>(found->second.data()), found->second.size());
    };
    return result;
  }

  void open() { open_update_dialog(view, host()); }
  std::string ini_path(const std::string& win_ini) const { return windows_dir + "\\" + win_ini; }

  ScratchDir scratch;
  std::string windows_dir = scratch.system_path();
  std::map<std::string, std::string> resources;
  RecordingView view;
};

// Every outcome of the opening: which text is proposed and whether OK is offered.
TEST_F(UpdateDialogTest, OutcomeTable) {
  struct Case {
    const char* what;
    std::string config;
    std::map<std::string, std::string> windir_files;  // relative to {windir}, "/" between levels
    std::string expected_text;                        // "{ini}" stands for {windir}\QRM.ini
    bool ok_visible;
  };
  const std::string game_ini = "[inst_path]\r\npath=D:\\Games\\QRM\r\n";
  // A sound EnCode stream of the INI text followed by 17 MiB of line breaks, made of
  // literals and long runs.
  std::string big_stream;
  {
    std::string groups;
    std::uint32_t decoded = 0;
    std::vector<std::string> items;
    for (char c : game_ini) items.push_back(std::string(1, c)), ++decoded;
    while (decoded < (17u << 20)) items.push_back(std::string("\xFF\xFF\n\xFF\xFF", 5)), decoded += 69649;
    for (std::size_t i = 0; i < items.size(); i += 8) {
      std::uint8_t flags = 0;
      std::string group;
      for (std::size_t j = 0; j < 8 && i + j < items.size(); ++j) {
        if (items[i + j].size() == 1) flags |= std::uint8_t(1u << j);
        group += items[i + j];
      }
      groups += char(flags) + group;
    }
    big_stream = "EnCode" + std::string(8, '\0') + groups;
    store_u32(reinterpret_cast<std::uint8_t*>(&big_stream[6]), decoded);
    store_u32(reinterpret_cast<std::uint8_t*>(&big_stream[10]), std::uint32_t(big_stream.size()));
  }
  const Case cases[] = {
      {"no win_ini: dir", "[inst]\r\ndir=C:\\Default\r\nver=101\r\n", {}, "C:\\Default", true},
      {"no win_ini, no dir", "[inst]\r\nver=101\r\n", {}, "can't find", true},
      {"no [inst] at all", "[src]\r\nfiles=0\r\n", {}, "can't find", true},
      {"plain game INI with path",
       "[inst]\r\nwin_ini=QRM.ini\r\ndir=C:\\Default\r\n",
       {{"QRM.ini", game_ini}},
       "D:\\Games\\QRM",
       true},
      {"game INI without path",
       "[inst]\r\nwin_ini=QRM.ini\r\ndir=C:\\Default\r\n",
       {{"QRM.ini", "[inst_path]\r\nother=1\r\n"}},
       "can't Find {ini}",
       false},
      {"game INI without the section",
       "[inst]\r\nwin_ini=QRM.ini\r\n",
       {{"QRM.ini", "[other]\r\npath=X\r\n"}},
       "can't Find {ini}",
       false},
      {"game INI of size 0", "[inst]\r\nwin_ini=QRM.ini\r\n", {{"QRM.ini", ""}}, "can't Find {ini}", false},
      {"no game INI", "[inst]\r\nwin_ini=QRM.ini\r\ndir=C:\\Default\r\n", {}, "QRM.ini", false},
      {"game INI named otherwise", "[inst]\r\nwin_ini=QRM.ini\r\n", {{"Other.ini", game_ini}}, "QRM.ini", false},
      {"loose file under the folder of the INI's name",
       "[inst]\r\nwin_ini=QRM.ini\r\n",
       {{"QRM.ini/QRM.ini", "[inst_path]\r\npath=E:\\Loose\r\n"}},
       "E:\\Loose",
       true},
      {"pack of the INI's name before the plain file",
       "[inst]\r\nwin_ini=QRM.ini\r\n",
       {{"QRM.ini.pak", make_pack({{"qrm.ini", "[inst_path]\r\npath=F:\\Packed\r\n"}})}, {"QRM.ini", game_ini}},
       "F:\\Packed",
       true},
      {"pack without the entry, then the plain file",
       "[inst]\r\nwin_ini=QRM.ini\r\n",
       {{"QRM.ini.pak", make_pack({{"other.ini", "[inst_path]\r\npath=F:\\Packed\r\n"}})}, {"QRM.ini", game_ini}},
       "D:\\Games\\QRM",
       true},
      {"empty path counts as present",
       "[inst]\r\nwin_ini=QRM.ini\r\n",
       {{"QRM.ini", "[inst_path]\r\npath=\r\n"}},
       "",
       true},
      {"empty win_ini reads nothing", "[inst]\r\nwin_ini=\r\ndir=C:\\Default\r\n", {{"QRM.ini", game_ini}}, "", false},
      // A game INI too large for a text file is never read or decoded.
      {"plain game INI above the size limit",
       "[inst]\r\nwin_ini=QRM.ini\r\n",
       {{"QRM.ini", game_ini + std::string((16 << 20) + 1 - game_ini.size(), '\n')}},
       "QRM.ini",
       false},
      {"packed game INI decoding above the size limit",
       "[inst]\r\nwin_ini=QRM.ini\r\n",
       {{"QRM.ini.pak", make_pack({{"qrm.ini", big_stream}})}},
       "QRM.ini",
       false},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reset_program();
    const std::filesystem::path folder = scratch.path() / ("windows" + std::to_string(index++));
    std::filesystem::create_directories(folder);
    windows_dir = folder.string();
    for (const auto& [name, bytes] : c.windir_files) write_bytes(folder / name, bytes);
    view = RecordingView();
    configure(c.config);
    open();

    std::string expected = c.expected_text;
    if (const auto at = expected.find("{ini}"); at != std::string::npos) expected.replace(at, 5, ini_path("QRM.ini"));
    EXPECT_EQ(view.texts[IDC_PATH], expected);
    EXPECT_EQ(view.visible[IDOK], c.ok_visible);
    EXPECT_EQ(install_dir, expected + "\\");
  }
}

TEST_F(UpdateDialogTest, OpeningCentresFirstAndAppendsOneSeparator) {
  configure("[inst]\r\ndir=C:\\Games\\\r\n");
  open();
  ASSERT_FALSE(view.events.empty());
  EXPECT_EQ(view.events.front(), "center");
  EXPECT_EQ(view.texts[IDC_PATH], "C:\\Games\\");
  EXPECT_EQ(install_dir, "C:\\Games\\\\");
}

TEST_F(UpdateDialogTest, CentredOriginTruncatesTowardZero) {
  struct Case {
    int screen_width, screen_height, width, height, x, y;
  };
  const Case cases[] = {
      {1024, 768, 400, 300, 312, 234},
      {1025, 769, 401, 301, 312, 234},
      {100, 100, 301, 201, -100, -50},
  };
  for (const Case& c : cases) {
    const Origin origin = centered_origin(c.screen_width, c.screen_height, c.width, c.height);
    EXPECT_EQ(origin.x, c.x);
    EXPECT_EQ(origin.y, c.y);
  }
}

TEST_F(UpdateDialogTest, NotesShownWithTheirExactBytes) {
  // Big5 text whose characters end in the byte 0x5C, CR LF breaks, no NUL.
  const std::string notes("\xA5\x5C\xAF\xE0\r\n1.03\r\n;fix\r\n\r\n");
  resources["NOTE.TXT"] = notes;
  configure("[inst]\r\ndir=C:\\Game\r\n");
  open();
  EXPECT_TRUE(view.visible[IDC_NOTES]);
  EXPECT_EQ(view.texts[IDC_NOTES], notes);
}

TEST_F(UpdateDialogTest, NotesHiddenWhenMissingOrEmpty) {
  for (const bool present : {false, true}) {
    reset_program();
    resources.clear();
    if (present) resources["NOTE.TXT"] = "";
    view = RecordingView();
    configure("[inst]\r\ndir=C:\\Game\r\n");
    open();
    EXPECT_FALSE(view.visible[IDC_NOTES]);
  }
}

TEST_F(UpdateDialogTest, BrowseRefreshesTextAndShowsOk) {
  configure("[inst]\r\nwin_ini=QRM.ini\r\n");
  open();
  ASSERT_FALSE(view.visible[IDOK]);

  // Cancelled: install_dir keeps the separator the opening appended.
  update_dialog_command(view, IDC_BROWSE);
  EXPECT_EQ(install_dir, "QRM.ini\\");
  EXPECT_EQ(view.texts[IDC_PATH], "QRM.ini\\");
  EXPECT_TRUE(view.visible[IDOK]);

  // Picked: the folder as given, without a separator added.
  view.browse_result = "D:\\New Folder";
  update_dialog_command(view, IDC_BROWSE);
  EXPECT_EQ(install_dir, "D:\\New Folder");
  EXPECT_EQ(view.texts[IDC_PATH], "D:\\New Folder");
  EXPECT_FALSE(view.ended.has_value());
}

TEST_F(UpdateDialogTest, CancelEndsWithMinusOneAndRunsNothing) {
  configure("[inst]\r\ndir=C:\\Game\r\n[pack0]\r\nname=data\r\n");
  open();
  view.events.clear();
  update_dialog_command(view, IDCANCEL);
  EXPECT_EQ(view.events, std::vector<std::string>{"end -1"});
}

TEST_F(UpdateDialogTest, CommandsWithANotificationCodeAreIgnored) {
  configure("[inst]\r\ndir=C:\\Game\r\n");
  open();
  view.events.clear();
  for (std::uintptr_t command : {std::uintptr_t{0x10000} | IDOK, std::uintptr_t{0x10000} | IDCANCEL,
                                 std::uintptr_t{0x30000} | IDC_BROWSE, std::uintptr_t{IDC_PATH}, std::uintptr_t{0}}) {
    update_dialog_command(view, command);
  }
  EXPECT_TRUE(view.events.empty());
}

// A proposed folder that depends on the current folder is shown at OK as a folder
// that is not there, and nothing is written beside the current folder.
TEST_F(UpdateDialogTest, ARelativeFolderIsRefusedAsAMissingOne) {
  PackageStandIn package;
  package.add("dll.pak", make_pack({{"probe.txt", "x"}}));
  std::filesystem::create_directories(scratch.path() / "cwd" / "sub");
  write_bytes(scratch.path() / "QRM.ini", "[inst_path]\r\npath=.\r\n");
  const std::string configs[] = {"[inst]\r\ndir=..\r\n", "[inst]\r\nwin_ini=QRM.ini\r\n", "[inst]\r\n"};
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(scratch.path() / "cwd" / "sub");
  for (const std::string& config : configs) {
    SCOPED_TRACE(config);
    reset_program();
    view = RecordingView();
    configure(config);
    open();
    update_dialog_command(view, IDOK);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, FOLDER_MISSING_TEXT);
  }
  std::filesystem::current_path(previous);
  for (const char* folder : {"cwd", "cwd/sub", "cwd/sub/can't find"})
    EXPECT_FALSE(std::filesystem::exists(scratch.path() / folder / "probe.txt")) << folder;
}

}  // namespace

TEST(JoinPath, AddsASeparatorUnlessThePathEndsInOne) {
  struct Case {
    std::string buffer, name, expected;
  };
  const Case cases[] = {
      {"C:\\Game", "data", "C:\\Game\\data"},
      {"C:\\Game\\", "data", "C:\\Game\\data"},
      {"C:/Game/", "data", "C:/Game/data"},
      {"", "data", "data"},
      // A Big5 character with the trail byte 0x5C at the end is no separator.
      {"C:\\\xA5\x5C", "data",
       "C:\\\xA5\x5C\\"
       "data"},
      {"C:\\\xA5\x5C\\", "data",
       "C:\\\xA5\x5C\\"
       "data"},
      {"C:\\Game\\\\", "data", "C:\\Game\\\\data"},
  };
  for (const Case& c : cases) {
    std::string buffer = c.buffer;
    join_path(buffer, c.name);
    EXPECT_EQ(buffer, c.expected);
  }
}
