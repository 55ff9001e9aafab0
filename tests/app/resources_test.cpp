// The Windows updater's resources, read from the built executable: dialog 124 exactly
// as the dialog logic expects it, the package in language 1028, icon and manifest.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/resource.h"
#include "pakupdate_version.h"

namespace {

constexpr WORD LANGUAGE_ZH_TW = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL);

class UpdaterResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module = LoadLibraryExA(PAKUPDATE_UPDATER_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << PAKUPDATE_UPDATER_EXE;
  }
  void TearDown() override {
    if (module) FreeLibrary(module);
  }

  // The bytes of a resource in language 1028, empty when there is none.
  std::vector<std::uint8_t> resource(LPCSTR type, LPCSTR name) {
    HRSRC found = FindResourceExA(module, type, name, LANGUAGE_ZH_TW);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module, found);
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(loaded));
    return std::vector<std::uint8_t>(bytes, bytes + SizeofResource(module, found));
  }

  HMODULE module = nullptr;
};

// Reads a dialog template field by field.
class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  std::uint16_t word() {
    std::uint16_t value = 0;
    if (at_ + 2 <= bytes_.size()) std::memcpy(&value, &bytes_[at_], 2);
    at_ += 2;
    return value;
  }
  std::uint32_t dword() {
    const std::uint32_t low = word();
    return low | static_cast<std::uint32_t>(word()) << 16;
  }
  // A string or an ordinal; an ordinal comes back as "#" and its number.
  std::string text_or_ordinal() {
    if (at_ + 2 <= bytes_.size() && bytes_[at_] == 0xFF && bytes_[at_ + 1] == 0xFF) {
      word();
      std::string ordinal(1, '#');
      ordinal += std::to_string(word());
      return ordinal;
    }
    std::string utf8;
    for (std::uint16_t unit; (unit = word()) != 0 && at_ <= bytes_.size();) {
      if (unit < 0x80) {
        utf8 += static_cast<char>(unit);
      } else if (unit < 0x800) {
        utf8 += static_cast<char>(0xC0 | unit >> 6);
        utf8 += static_cast<char>(0x80 | (unit & 0x3F));
      } else {
        utf8 += static_cast<char>(0xE0 | unit >> 12);
        utf8 += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
        utf8 += static_cast<char>(0x80 | (unit & 0x3F));
      }
    }
    return utf8;
  }
  void align() { at_ = (at_ + 3) & ~std::size_t{3}; }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::size_t at_ = 0;
};

TEST_F(UpdaterResources, DialogTemplateMatchesTheLayout) {
  const auto bytes = resource(RT_DIALOG, MAKEINTRESOURCEA(IDD_UPDATE));
  ASSERT_FALSE(bytes.empty());
  TemplateReader reader(bytes);
  EXPECT_EQ(reader.dword(), DWORD{WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT});
  EXPECT_EQ(reader.dword(), 0u);  // extended style
  const std::uint16_t count = reader.word();
  ASSERT_EQ(count, 7);
  const std::int16_t frame[4] = {static_cast<std::int16_t>(reader.word()), static_cast<std::int16_t>(reader.word()),
                                 static_cast<std::int16_t>(reader.word()), static_cast<std::int16_t>(reader.word())};
  EXPECT_EQ(frame[0], 0);
  EXPECT_EQ(frame[1], 0);
  EXPECT_EQ(frame[2], 202);
  EXPECT_EQ(frame[3], 119);
  EXPECT_EQ(reader.text_or_ordinal(), "");  // no menu
  EXPECT_EQ(reader.text_or_ordinal(), "");  // the standard dialog class
  EXPECT_EQ(reader.text_or_ordinal(), "Updata");
  EXPECT_EQ(reader.word(), 10);
  EXPECT_EQ(reader.text_or_ordinal(), "System");

  struct Control {
    DWORD style;
    std::int16_t x, y, width, height;
    std::uint16_t id;
    std::string window_class, text;
  };
  const Control expected[] = {
      {WS_CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 4, 99, 50, 14, IDOK, "#128", "OK"},
      {WS_CHILD | BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 149, 100, 50, 14, IDCANCEL, "#128", "Cancel"},
      {WS_CHILD | SS_LEFT | WS_GROUP | WS_VISIBLE, 2, 1, 136, 8, IDC_PATH, "#130", "PATH"},
      {WS_CHILD | WS_BORDER, 4, 78, 198, 14, IDC_PROGRESS, "MSCTLS_PROGRESS32", "Progress1"},
      {WS_CHILD | SS_LEFT | WS_GROUP, 4, 68, 135, 8, IDC_STATUS, "#130", ""},
      {WS_CHILD | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_READONLY | WS_BORDER | WS_VSCROLL | WS_HSCROLL |
           WS_TABSTOP | WS_VISIBLE,
       1, 14, 201, 83, IDC_NOTES, "#129", ""},
      {WS_CHILD | BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 163, 0, 33, 14, IDC_BROWSE, "#128", "瀏覽"},
  };
  for (const Control& control : expected) {
    SCOPED_TRACE(control.id);
    reader.align();
    EXPECT_EQ(reader.dword(), control.style);
    EXPECT_EQ(reader.dword(), 0u);
    EXPECT_EQ(static_cast<std::int16_t>(reader.word()), control.x);
    EXPECT_EQ(static_cast<std::int16_t>(reader.word()), control.y);
    EXPECT_EQ(static_cast<std::int16_t>(reader.word()), control.width);
    EXPECT_EQ(static_cast<std::int16_t>(reader.word()), control.height);
    EXPECT_EQ(reader.word(), control.id);
    std::string window_class = reader.text_or_ordinal();
    CharUpperA(window_class.data());
    EXPECT_EQ(window_class, control.window_class);
    EXPECT_EQ(reader.text_or_ordinal(), control.text);
    EXPECT_EQ(reader.word(), 0);  // no creation data
  }
}

TEST_F(UpdaterResources, PackageIconAndManifest) {
  for (const char* name : {"UPDATA.INI", "NOTE.TXT", "DLL.PAK"}) {
    EXPECT_FALSE(resource(RT_RCDATA, name).empty()) << name;
  }
  // Found by name whatever its case, as the program asks for it.
  EXPECT_NE(FindResourceA(module, "updata.ini", RT_RCDATA), nullptr);
  EXPECT_FALSE(resource(RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_UPDATER)).empty());
  EXPECT_FALSE(resource(RT_ICON, MAKEINTRESOURCEA(1)).empty());
  const auto manifest = resource(RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID);
  const std::string text(manifest.begin(), manifest.end());
  EXPECT_NE(text.find("level=\"requireAdministrator\""), std::string::npos);
  EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
}

// The icon carries the sizes Windows picks from: taskbar, title bar, Explorer's views.
TEST_F(UpdaterResources, IconHoldsTheUsualSizes) {
  const auto group = resource(RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_UPDATER));
  ASSERT_GE(group.size(), 6u);
  TemplateReader reader(group);
  reader.word();                // reserved
  EXPECT_EQ(reader.word(), 1);  // icons
  const std::uint16_t count = reader.word();
  std::vector<int> sizes;
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::uint16_t width_and_height = reader.word();
    const int width = width_and_height & 0xFF;
    sizes.push_back(width == 0 ? 256 : width);  // 0 stands for 256
    for (int field = 0; field < 6; ++field) reader.word();
  }
  std::sort(sizes.begin(), sizes.end());
  EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48, 256}));
}

// The version resource names the product and the build's version.
TEST_F(UpdaterResources, VersionResourceNamesProductAndVersion) {
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));  // RT_VERSION
  ASSERT_NE(found, nullptr);
  const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
  const std::string block(bytes, SizeofResource(module, found));
  auto utf16 = [](const std::string& text) {
    std::string wide;
    for (char c : text) wide += std::string{c, '\0'};
    return wide;
  };
  for (const std::string& text : {std::string("ProductName"), std::string("pakupdate"), std::string("ProductVersion"),
                                  std::string(PAKUPDATE_VERSION), std::string("FileDescription")})
    EXPECT_NE(block.find(utf16(text)), std::string::npos) << text;
}

}  // namespace
