// Names matched without regard to case, as Windows matches them: on a file system
// that tells case apart, a name that differs from an existing file or folder only in
// the case of ASCII letters stands for it, and it is that one that is read, replaced
// or removed, under its own name; nothing is written beside it.

#include "platform/name_match.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/write_batch.h"
#include "platform/write_folder.h"

namespace {

namespace fs = std::filesystem;

TEST(NameMatch, PicksTheExactNameElseTheLeastThatFoldsAlike) {
  const std::string data_chars = "\xE8\xB3\x87\xE6\x96\x99";  // 資料 in UTF-8
  struct Case {
    std::vector<std::string> names;
    std::string name;
    std::optional<std::string> picked;
  };
  const Case cases[] = {
      {{"Items.csv"}, "Items.csv", "Items.csv"},
      {{"Items.csv"}, "items.csv", "Items.csv"},
      {{"DATA.PAK"}, "data.pak", "DATA.PAK"},
      {{"Items.csv"}, "items.cs", std::nullopt},
      {{"a.txt", "A.txt"}, "a.txt", "a.txt"},
      {{"a.txt", "A.txt"}, "A.txt", "A.txt"},
      {{"a.txt", "A.txt"}, "A.TXT", "A.txt"},  // least in byte order, whatever the listing's order
      {{"A.txt", "a.txt"}, "A.TXT", "A.txt"},
      // Only A-Z fold: letters outside ASCII, and the bytes of a double-byte character
      // (UTF-8 on disk), are compared as they are.
      {{"\xC3\x89t\xC3\xA9"}, "\xC3\xA9t\xC3\xA9", std::nullopt},  // Été, été
      {{data_chars + "A"}, data_chars + "a", data_chars + "A"},    // 資料A
      {{"\xE8\xB3\x87"}, "\xE8\xB3\xA7", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::pick_existing_name(c.names, c.name), c.picked) << c.name;
}

#ifndef _WIN32
// Two names that fold alike can stand side by side only where case is told apart.

class CaseFoldingFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ = fs::temp_directory_path() / ("pakupdate-case-" + std::to_string(random()));
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code error;
    fs::remove_all(root_, error);
  }
  void put(const std::string& relative, const std::string& text) {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative, std::ios::binary) << text;
  }
  // Every name below root ("/" between levels), a file with its content after "=".
  std::set<std::string> tree() const {
    std::set<std::string> names;
    for (const auto& item : fs::recursive_directory_iterator(root_)) {
      std::string name = item.path().lexically_relative(root_).generic_string();
      if (item.is_regular_file()) {
        std::ifstream in(item.path(), std::ios::binary);
        name += "=" + std::string(std::istreambuf_iterator<char>(in), {});
      }
      names.insert(name);
    }
    return names;
  }

  fs::path root_;
};

platform::ByteView view(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

bool ok(platform::WriteStatus status) { return status == platform::WriteStatus::ok; }

// Writes relative through a batch, as the installer writes its payload.
bool batch_write(platform::WriteFolder& folder, std::string_view directory, std::string_view relative,
                 const std::string& text) {
  platform::WriteBatch batch(folder);
  return (directory.empty() || ok(batch.make_directories(directory))) && ok(batch.write_file(relative, view(text))) &&
         batch.commit();
}

// Rebuilds a pack as the pack code does: a new temporary file moved over the pack.
bool rebuild_pack(platform::WriteFolder& folder, const std::string& pack, const std::string& text) {
  platform::OutputFile out;
  const std::string temp = platform::temp_file_name(".rebuild.");
  if (folder.create_new(temp, out) != platform::OutputFile::Status::ok) return false;
  const bool written = out.write(text.data(), text.size()) && out.close();
  return written && ok(folder.replace(temp, pack));
}

TEST_F(CaseFoldingFolderTest, ReplacesReadsAndRemovesTheEntryANameStandsFor) {
  using Folder = platform::WriteFolder;
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> before;
    std::function<bool(Folder&)> action;
    std::set<std::string> after;
  };
  const std::vector<std::pair<std::string, std::string>> items = {{"Data/Items.csv", "old"}};
  const std::set<std::string> replaced = {"Data", "Data/Items.csv=new"};
  const Case cases[] = {
      {"exact name", items, [](Folder& f) { return ok(f.write_file("Data\\Items.csv", view("new"))); }, replaced},
      {"file in other case", items, [](Folder& f) { return ok(f.write_file("Data\\items.csv", view("new"))); },
       replaced},
      {"folder in other case", items, [](Folder& f) { return ok(f.write_file("data\\Items.csv", view("new"))); },
       replaced},
      {"batch, folded path", items, [](Folder& f) { return batch_write(f, "data", "data\\items.csv", "new"); },
       replaced},
      {"new file in a folder of other case",
       items,
       [](Folder& f) { return batch_write(f, "DATA\\Sub", "DATA\\Sub\\New.csv", "x"); },
       {"Data", "Data/Items.csv=old", "Data/Sub", "Data/Sub/New.csv=x"}},
      {"pack read and rebuilt",
       {{"DATA.PAK", "old"}},
       [](Folder& f) {
         platform::MappedFile mapped;
         return f.map("data.pak", mapped) == platform::MappedFile::Status::ok && mapped.size() == 3 &&
                (mapped.close(), rebuild_pack(f, "data.pak", "new"));
       },
       {"DATA.PAK=new"}},
      {"removal target",
       {{"Data/Items.csv", "old"}, {"Data/Keep.csv", "k"}},
       [](Folder& f) {
         return f.remove_file("data\\items.csv") == Folder::RemoveStatus::removed &&
                f.remove_empty_directory("DATA") == Folder::RemoveStatus::not_empty;
       },
       {"Data", "Data/Keep.csv=k"}},
      {"removal of a folder",
       items,
       [](Folder& f) {
         return f.remove_file("DATA\\ITEMS.CSV") == Folder::RemoveStatus::removed &&
                f.remove_empty_directory("data") == Folder::RemoveStatus::removed;
       },
       {}},
      {"two candidates, one exact",
       {{"a.txt", "lower"}, {"A.txt", "upper"}},
       [](Folder& f) { return ok(f.write_file("a.txt", view("new"))); },
       {"a.txt=new", "A.txt=upper"}},
      {"two candidates, none exact",
       {{"a.txt", "lower"}, {"A.txt", "upper"}},
       [](Folder& f) { return batch_write(f, "", "A.TXT", "new"); },
       {"a.txt=lower", "A.txt=new"}},
      {"two folders, none exact",
       {{"ab/f", "lower"}, {"Ab/f", "upper"}},
       [](Folder& f) { return f.remove_file("AB\\F") == Folder::RemoveStatus::removed; },
       {"ab", "ab/f=lower", "Ab"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(root_);
    fs::create_directories(root_);
    for (const auto& [relative, text] : c.before) put(relative, text);
    Folder folder;
    ASSERT_EQ(folder.open(root_.string()), Folder::Status::ok);
    EXPECT_TRUE(c.action(folder));
    EXPECT_EQ(tree(), c.after);
  }
}

TEST_F(CaseFoldingFolderTest, RemovalsKeepingListingsFindWhatTheyFindWithout) {
  using Status = platform::WriteFolder::RemoveStatus;
  put("Data/Items.csv", "i");
  put("Data/Other.csv", "o");
  put("Keep/Mine.txt", "m");
  platform::WriteFolder folder;
  ASSERT_EQ(folder.open(root_.string()), platform::WriteFolder::Status::ok);
  folder.keep_listings_for_removals(true);
  EXPECT_EQ(folder.remove_file("data\\items.csv"), Status::removed);
  EXPECT_EQ(folder.remove_file("data\\items.csv"), Status::missing);
  EXPECT_EQ(folder.remove_file("data\\gone.csv"), Status::missing);
  EXPECT_EQ(folder.remove_empty_directory("DATA"), Status::not_empty);
  EXPECT_EQ(folder.remove_file("DATA\\OTHER.CSV"), Status::removed);
  EXPECT_EQ(folder.remove_empty_directory("data"), Status::removed);
  EXPECT_EQ(folder.remove_empty_directory("keep"), Status::not_empty);
  folder.keep_listings_for_removals(false);
  EXPECT_EQ(tree(), (std::set<std::string>{"Keep", "Keep/Mine.txt=m"}));
}

TEST_F(CaseFoldingFolderTest, ABatchListsEachDirectoryOnceAndAgreesWithWhatItMade) {
  put("Data/Items.csv", "old");
  platform::WriteFolder folder;
  ASSERT_EQ(folder.open(root_.string()), platform::WriteFolder::Status::ok);
  platform::WriteBatch batch(folder);
  ASSERT_TRUE(ok(batch.make_directories("data")));
  ASSERT_TRUE(ok(batch.write_file("data\\New.csv", view("first"))));
  // The same new name in another case, before either is in place: the one file.
  ASSERT_TRUE(ok(batch.write_file("data\\NEW.CSV", view("second"))));
  ASSERT_TRUE(ok(batch.write_file("data\\ITEMS.CSV", view("new"))));
  ASSERT_TRUE(batch.commit());
  EXPECT_EQ(tree(), (std::set<std::string>{"Data", "Data/Items.csv=new", "Data/New.csv=second"}));
}
#endif

}  // namespace
