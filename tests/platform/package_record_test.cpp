// The package's checksum record: made, read back, refused when damaged, and every
// file checked against it.

#include "platform/package_record.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A record item made by hand: crc, size, name length, name.
std::string item(std::uint32_t crc, std::uint64_t size, const std::string& name) {
  std::string out;
  for (int i = 0; i < 4; ++i) out += char(crc >> (8 * i));
  for (int i = 0; i < 8; ++i) out += char(size >> (8 * i));
  for (int i = 0; i < 4; ++i) out += char(name.size() >> (8 * i));
  return out + name;
}
std::string header(std::uint32_t count) {
  std::string out = "PKUPCRC1";
  for (int i = 0; i < 4; ++i) out += char(count >> (8 * i));
  return out;
}

TEST(PackageRecord, ChecksumIsZlibsCrc32) {
  // The check value of CRC-32 (ISO-HDLC), as zlib computes it.
  EXPECT_EQ(platform::package_checksum(bytes_of("123456789")), 0xCBF43926u);
  EXPECT_EQ(platform::package_checksum({}), 0u);
}

TEST(PackageRecord, ListsEveryFileButItselfAndReadsBack) {
  const std::vector<platform::NamedBlob> files = {{"UPDATA.INI", bytes_of("[inst]\r\n")},
                                                  {"NOTE.TXT", {}},
                                                  {"package.crc", bytes_of("an old record")},
                                                  {"DLL.pak", bytes_of("pack")}};
  const auto record = platform::parse_package_record(platform::make_package_record(files));
  ASSERT_TRUE(record);
  ASSERT_EQ(record->size(), 3u);
  EXPECT_EQ((*record)[0].name, "UPDATA.INI");
  EXPECT_EQ((*record)[0].size, 8u);
  EXPECT_EQ((*record)[0].crc32, platform::package_checksum(files[0].bytes));
  EXPECT_EQ((*record)[1].name, "NOTE.TXT");
  EXPECT_EQ((*record)[1].size, 0u);
  EXPECT_EQ((*record)[2].name, "DLL.pak");
}

TEST(PackageRecord, DamagedRecordsAreRefused) {
  struct Case {
    const char* what;
    std::string record;
  };
  const Case cases[] = {
      {"empty", ""},
      {"magic only", "PKUPCRC1"},
      {"wrong magic", "PKUPCRC2" + std::string(4, '\0')},
      {"count above the limit", header(4097)},
      {"count larger than the items", header(2) + item(1, 1, "a")},
      {"item cut short", header(1) + item(1, 1, "abc").substr(0, 18)},
      {"empty name", header(1) + item(1, 1, "")},
      {"name too long", header(1) + item(1, 1, std::string(256, 'n'))},
      {"name repeated in another case", header(2) + item(1, 1, "dll.pak") + item(2, 2, "DLL.PAK")},
      {"bytes left over", header(1) + item(1, 1, "a") + "x"},
  };
  for (const Case& c : cases) EXPECT_FALSE(platform::parse_package_record(bytes_of(c.record))) << c.what;
  EXPECT_TRUE(platform::parse_package_record(bytes_of(header(0))));
  EXPECT_TRUE(platform::parse_package_record(bytes_of(header(1) + item(1, 1, std::string(255, 'n')))));
}

// A package held as a map of names (any case) to bytes.
struct Package {
  std::map<std::string, Bytes> files;
  platform::PackageLookup lookup() const {
    return [this](std::string_view name) -> std::optional<std::span<const std::uint8_t>> {
      for (const auto& [file, bytes] : files)
        if (platform::resource_name_equal(file, name)) return std::span<const std::uint8_t>(bytes);
      return std::nullopt;
    };
  }
  void seal() {
    std::vector<platform::NamedBlob> blobs;
    for (const auto& [name, bytes] : files) blobs.push_back({name, bytes});
    files["PACKAGE.CRC"] = platform::make_package_record(blobs);
  }
};

TEST(PackageRecord, EveryFileIsCheckedAgainstTheRecord) {
  struct Case {
    const char* what;
    void (*damage)(Package&);
    std::string file;  // the problem's file; empty: sound
  };
  const Case cases[] = {
      {"sound", [](Package&) {}, ""},
      {"one byte flipped", [](Package& p) { p.files["DLL.PAK"][3] ^= 0x01; }, "DLL.PAK"},
      {"one byte flipped in the notes", [](Package& p) { p.files["NOTE.TXT"][0] ^= 0x80; }, "NOTE.TXT"},
      {"cut short", [](Package& p) { p.files["DLL.PAK"].pop_back(); }, "DLL.PAK"},
      {"grown", [](Package& p) { p.files["UPDATA.INI"].push_back('\n'); }, "UPDATA.INI"},
      {"a file missing", [](Package& p) { p.files.erase("NOTE.TXT"); }, "NOTE.TXT"},
      {"no record", [](Package& p) { p.files.erase("PACKAGE.CRC"); }, "PACKAGE.CRC"},
      {"record damaged", [](Package& p) { p.files["PACKAGE.CRC"].pop_back(); }, "PACKAGE.CRC"},
      {"a file the record does not list", [](Package& p) { p.files["extra.pak"] = bytes_of("x"); }, "extra.pak"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Package package;
    package.files = {{"UPDATA.INI", bytes_of("[inst]\r\n")},
                     {"NOTE.TXT", bytes_of("\xA7\xF3")},
                     {"DLL.PAK", bytes_of("pack bytes")}};
    package.seal();
    c.damage(package);
    std::vector<std::string> present;
    for (const auto& [name, bytes] : package.files) present.push_back(name);
    const auto problems = platform::check_package_files(package.lookup(), present);
    if (c.file.empty()) {
      EXPECT_TRUE(problems.empty()) << problems.front().name << ": " << problems.front().text;
    } else {
      ASSERT_EQ(problems.size(), 1u);
      EXPECT_EQ(problems[0].name, c.file);
    }
  }
}

}  // namespace
