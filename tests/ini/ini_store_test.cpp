#include "ini/ini_store.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/ini/ini_model.h"

namespace {

using ini_model::Pairs;
using ini_model::Sections;

// Parses text from a heap buffer of exactly its size (no terminating NUL), so that a
// read past the end shows under AddressSanitizer.
void parse_exact(IniStore& store, const std::string& text) {
  std::vector<char> buffer(text.begin(), text.end());
  static const char empty = 'Z';
  store.parse(buffer.empty() ? &empty : buffer.data(), static_cast<std::int32_t>(buffer.size()));
}

// The store's content; also checks that counts and tail pointers agree with the lists.
Sections dump(const IniStore& store) {
  Sections sections;
  const IniSection* last_section = nullptr;
  for (const IniSection* section = store.first_section; section != nullptr; section = section->next) {
    Pairs pairs;
    const IniPair* last_pair = nullptr;
    for (const IniPair* pair = section->first_pair; pair != nullptr; pair = pair->next) {
      pairs.emplace_back(pair->key, pair->value);
      last_pair = pair;
    }
    EXPECT_EQ(section->last_pair, last_pair) << section->name;
    EXPECT_EQ(section->pair_count, static_cast<std::int32_t>(pairs.size())) << section->name;
    sections.emplace_back(section->name, std::move(pairs));
    last_section = section;
  }
  EXPECT_EQ(store.last_section, last_section);
  EXPECT_EQ(store.section_count, static_cast<std::int32_t>(sections.size()));
  return sections;
}

struct ParseCase {
  const char* label;
  std::string text;
  Sections expected;
};

// A 300-byte line without a break: cut into 254 and 46 bytes, each a pair of its own.
const std::string kLongLine = "a=" + std::string(252, 'x') + "b=" + std::string(44, 'y');

const ParseCase kParseCases[] = {
    {"first equals splits", "[s]\nx=y=z\n", {{"[s]", {{"x", "y=z"}}}}},
    {"blanks stay around equals", "[s]\nk = v \n", {{"[s]", {{"k ", " v "}}}}},
    {"empty key and value", "[s]\n=v\nk=\n", {{"[s]", {{"", "v"}, {"k", ""}}}}},
    {"pair before first header dropped", "a=1\n[s]\nb=2\n", {{"[s]", {{"b", "2"}}}}},
    {"repeated header continues section",
     "[inst]\na=1\n[other]\nb=2\n[inst]\nc=3\n",
     {{"[inst]", {{"a", "1"}, {"c", "3"}}}, {"[other]", {{"b", "2"}}}}},
    {"repeated keys all kept", "[s]\nk=1\nk=2\n", {{"[s]", {{"k", "1"}, {"k", "2"}}}}},
    {"header keeps trailing blank before comment", "[inst] // note\nk=v\n", {{"[inst] ", {{"k", "v"}}}}},
    {"header keeps bytes after bracket", "[s]x \n", {{"[s]x ", {}}}},
    {"bytes before bracket dropped", "  ab[cd]\n", {{"[cd]", {}}}},
    {"comment cuts value", "[s]\na=x//y\n", {{"[s]", {{"a", "x"}}}}},
    {"single slash stays", "[s]\na=x/y\n", {{"[s]", {{"a", "x/y"}}}}},
    {"comment hides equals and bracket", "[s]\n//a=1\nb//=2\n//[t]\n", {{"[s]", {}}}},
    {"equals wins over bracket", "[s]\n[t]=1\n", {{"[s]", {{"[t]", "1"}}}}},
    {"lines without equals or bracket ignored", "[s]\nplain\n\n  \nk=v\n", {{"[s]", {{"k", "v"}}}}},
    {"case kept in names", "[S]\nK=1\n[s]\nk=2\n", {{"[S]", {{"K", "1"}}}, {"[s]", {{"k", "2"}}}}},
    {"every break form",
     "[s]\r\na=1\rb=2\n\rc=3\r\rd=4\n\ne=5\r\n\r\nf=6\n",
     {{"[s]", {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}, {"e", "5"}, {"f", "6"}}}}},
    {"last line without break", "[s]\na=1", {{"[s]", {{"a", "1"}}}}},
    {"line of 300 bytes cut into 254 and 46",
     "[s]\n" + kLongLine,
     {{"[s]", {{"a", std::string(252, 'x')}, {"b", std::string(44, 'y')}}}}},
    {"line of 254 bytes then break",
     "[s]\n" + kLongLine.substr(0, 254) + "\r\nc=1",
     {{"[s]", {{"a", std::string(252, 'x')}, {"c", "1"}}}}},
    {"NUL ends the line's text",
     std::string("[s]\na=1\0junk=2\nb\0=3\n\0[t]\nc=4", 28),
     {{"[s]", {{"a", "1"}, {"c", "4"}}}}},
    // Big5: 0x5B is a valid trail byte, so a line without "=" holding one is a header
    // that starts at that trail byte; "=" and "/" never occur as trail bytes.
    {"Big5 trail byte opens a header",
     "\xB4\x5B\xB8\xD5\nk=\xA5\x5B\xA4\x40\n",
     {{"[\xB8\xD5", {{"k", "\xA5\x5B\xA4\x40"}}}}},
    {"empty text", "", {}},
    {"only breaks", "\r\n\n\r\r", {}},
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, GivesSectionsAndPairs) {
  IniStore store;
  parse_exact(store, GetParam().text);
  EXPECT_EQ(dump(store), GetParam().expected);
  EXPECT_EQ(store.loaded, 1u);
}

INSTANTIATE_TEST_SUITE_P(Ini, ParseTest, ::testing::ValuesIn(kParseCases), [](const auto& info) {
  std::string name;
  for (const char* c = info.param.label; *c != '\0'; ++c)
    name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return name;
});

struct ReadLineCase {
  std::string text;
  std::int32_t available;
  std::int32_t limit;
  std::string line;  // the piece as a C string
  std::int32_t consumed;
};

const ReadLineCase kReadLineCases[] = {
    {"abc\r\ndef", 8, 8, "abc", 5},
    {"abc\n\rdef", 8, 8, "abc", 5},
    {"abc\r\rdef", 8, 8, "abc", 5},
    {"abc\n\ndef", 8, 8, "abc", 5},
    {"abc\rdef", 7, 7, "abc", 4},
    {"\r\n\r\n", 4, 4, "", 2},    // CR LF CR LF: two breaks
    {"\n\r\n", 3, 3, "", 2},      // LF CR, then LF alone
    {"abc\r", 4, 4, "abc", 4},    // no byte after the break
    {"abc\r\n", 4, 4, "abc", 4},  // the LF lies beyond the text's end
    {"abcdef", 6, 3, "abc", 3},   // cut at the limit
    {"abc\n", 4, 3, "abc", 3},    // the break after a full piece starts the next read
    {std::string(253, 'q') + "\r\n", 255, 254, std::string(253, 'q'), 255},  // break pair past the limit
    {std::string("a\0b\nc", 5), 5, 5, "a", 4},                               // NUL ends the text, not the line
};

TEST(IniReadLine, BreaksAndLimits) {
  for (const ReadLineCase& c : kReadLineCases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    std::vector<char> buffer(c.text.begin(), c.text.begin() + c.available);
    char line[INI_LINE_BUFFER_SIZE];
    std::memset(line, 'X', sizeof line);
    EXPECT_EQ(IniStore::read_line(buffer.data(), c.available, c.limit, line), c.consumed);
    EXPECT_EQ(std::string(line), c.line);
  }
}

TEST(IniParse, NullAndEmptyText) {
  IniStore store;
  store.parse(nullptr, 10);
  EXPECT_EQ(store.loaded, 0u);
  EXPECT_EQ(store.first_section, nullptr);

  const char text[] = "[s]\na=1\n";
  store.parse(text, 0);
  EXPECT_EQ(store.loaded, 1u);
  EXPECT_TRUE(dump(store).empty());

  store.parse(text, -5);
  EXPECT_EQ(store.loaded, 1u);
  EXPECT_TRUE(dump(store).empty());
}

TEST(IniParse, ReplacesContentAndClearEmpties) {
  IniStore store;
  parse_exact(store, "[a]\nk=1\n[b]\n");
  parse_exact(store, "[c]\nk=2\n");
  EXPECT_EQ(dump(store), (Sections{{"[c]", {{"k", "2"}}}}));

  store.parse(nullptr, 0);
  EXPECT_EQ(store.loaded, 0u);
  EXPECT_TRUE(dump(store).empty());

  parse_exact(store, "[c]\nk=2\n");
  store.clear();
  EXPECT_EQ(store.loaded, 0u);
  EXPECT_TRUE(dump(store).empty());
  store.clear();
  EXPECT_TRUE(dump(store).empty());
}

struct GetCase {
  const char* text;
  const char* section;
  const char* key;
  const char* expected;  // null: the lookup misses
};

const GetCase kGetCases[] = {
    {"[inst]\nwin_ini=game.ini\n", "[inst]", "win_ini", "game.ini"},
    {"[s]\nk=1\nk=2\n", "[s]", "k", "1"},
    {"[inst] // note\ndir=c\n", "[inst]", "dir", nullptr},
    {"[inst] // note\ndir=c\n", "[inst] ", "dir", "c"},
    {"[Inst]\nwin_ini=a\n", "[inst]", "win_ini", nullptr},
    {"[inst]\nWin_ini=a\n", "[inst]", "win_ini", nullptr},
    {"[inst]\nwin_ini =a\n", "[inst]", "win_ini", nullptr},
    {"[inst]\nwin_ini= a\n", "[inst]", "win_ini", " a"},
    {"[pack1]\nname=data\n[pack2]\nname=sound\n", "[pack2]", "name", "sound"},
};

TEST(IniGet, LookupMatchesBytesExactly) {
  for (const GetCase& c : kGetCases) {
    SCOPED_TRACE(testing::Message() << c.text << " / " << c.section << " / " << c.key);
    IniStore store;
    parse_exact(store, c.text);
    const char* value = store.get(c.section, c.key, nullptr);
    if (c.expected == nullptr) {
      EXPECT_EQ(value, nullptr);
    } else {
      ASSERT_NE(value, nullptr);
      EXPECT_STREQ(value, c.expected);
    }
  }
}

TEST(IniGet, PresentKeyReturnsStoredValueAndAddsNothing) {
  IniStore store;
  parse_exact(store, "[s]\nk=1\nk=2\n");
  const char fallback[] = "d";
  const char* value = store.get("[s]", "k", fallback);
  EXPECT_EQ(value, store.first_section->first_pair->value.c_str());
  EXPECT_EQ(store.first_section->pair_count, 2);
}

TEST(IniGet, DefaultIsReturnedFirstThenStoredCopy) {
  IniStore store;
  parse_exact(store, "[s]\na=1\n");
  const char first[] = "first";
  const char second[] = "second";

  EXPECT_EQ(store.get("[s]", "x", first), first);
  EXPECT_EQ(dump(store), (Sections{{"[s]", {{"a", "1"}, {"x", "first"}}}}));

  const char* stored = store.get("[s]", "x", second);
  EXPECT_NE(stored, first);
  EXPECT_EQ(stored, store.first_section->last_pair->value.c_str());
  EXPECT_STREQ(stored, "first");

  // The stored value stays put while the store grows.
  for (int i = 0; i < 100; ++i) store.get("[s]", std::to_string(i).c_str(), "v");
  EXPECT_EQ(store.get("[s]", "x", nullptr), stored);
  EXPECT_STREQ(stored, "first");
  EXPECT_EQ(store.loaded, 1u);
}

TEST(IniGet, NullDefaultOnMissingKeyAddsNothing) {
  IniStore store;
  parse_exact(store, "[s]\na=1\n");
  EXPECT_EQ(store.get("[s]", "x", nullptr), nullptr);
  EXPECT_EQ(dump(store), (Sections{{"[s]", {{"a", "1"}}}}));
}

TEST(IniGet, MissingSectionReturnsDefaultAndAddsNothing) {
  IniStore store;
  parse_exact(store, "[s]\na=1\n");
  const char fallback[] = "d";
  EXPECT_EQ(store.get("[t]", "a", fallback), fallback);
  EXPECT_EQ(store.get("[t]", "a", nullptr), nullptr);
  EXPECT_EQ(store.get("s", "a", fallback), fallback);
  EXPECT_EQ(store.get(nullptr, "a", fallback), fallback);
  EXPECT_EQ(store.get("[s]", nullptr, fallback), fallback);
  EXPECT_EQ(dump(store), (Sections{{"[s]", {{"a", "1"}}}}));

  IniStore empty;
  EXPECT_EQ(empty.get("[s]", "a", fallback), fallback);
  EXPECT_EQ(empty.first_section, nullptr);
  EXPECT_EQ(empty.loaded, 0u);
}

TEST(IniStoreLifetime, LongListsAreFreedWithoutDeepRecursion) {
  IniStore store;
  IniSection* section = store.add_section("[s]");
  EXPECT_EQ(store.add_section("[s]"), section);
  for (int i = 0; i < 200000; ++i) section->add_pair("k", "v");
  for (int i = 0; i < 2000; ++i) {
    std::string name = std::to_string(i);
    name.insert(name.begin(), '[');
    name.push_back(']');
    store.add_section(name.c_str());
  }
  EXPECT_EQ(section->pair_count, 200000);
  EXPECT_EQ(store.section_count, 2001);
  store.clear();
  EXPECT_EQ(store.section_count, 0);
  EXPECT_EQ(store.first_section, nullptr);
}

// A text of many sections, most headers repeated, keys repeated within and across
// headers, comments, every break form, lines longer than a piece, pairs before the
// first header, and a few sections of thousands of pairs (indexed lookups).
std::string generated_text(unsigned seed, int lines) {
  std::mt19937 random(seed);
  auto pick = [&](int bound) { return int(random() % unsigned(bound)); };
  const char* const breaks[] = {"\n", "\r\n", "\r", "\n\r", "\r\n\r\n", "\n\n"};
  std::string text = "orphan=before any header\n";
  for (int i = 0; i < lines; ++i) {
    switch (pick(20)) {
      case 0:
      case 1:
        text.append("[s").append(std::to_string(pick(lines / 8 + 1))).append("]");
        break;
      case 2:
        text.append("[big").append(std::to_string(pick(3))).append("]");
        break;
      case 3:
        text.append("[s").append(std::to_string(pick(50))).append("] // comment");  // a name ending in a blank
        break;
      case 4:
        text.append("k").append(std::to_string(pick(5))).append("=").append(std::size_t(pick(400)), 'v');
        break;
      case 5:
        text += "//k=hidden";
        break;
      default:
        text.append("k").append(std::to_string(pick(3000))).append("=").append(std::to_string(i));
        if (pick(8) == 0) text.append("//tail");
    }
    text += breaks[pick(6)];
  }
  return text;
}

TEST(IniModel, LargeGeneratedTextGivesTheModelsStoreAndLookups) {
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    const std::string text = generated_text(seed, 60000);
    IniStore store;
    ini_model::Model model;
    parse_exact(store, "[stale]\nk=1\n");  // replaced by the next parse, index included
    parse_exact(store, text);
    model.parse(text.data(), std::int32_t(text.size()));
    ASSERT_EQ(dump(store), model.sections);
    EXPECT_EQ(store.find_section("[stale]"), nullptr);

    // Lookups of present and missing sections and keys, with and without defaults; the
    // big sections are indexed on their first lookup and must keep the first key's value.
    std::mt19937 random(seed);
    const char* const defaults[] = {nullptr, "d1", "d2"};
    for (int i = 0; i < 20000; ++i) {
      const bool big = random() % 3 == 0;
      const std::string section = std::string(big ? "[big" : "[s") + std::to_string(random() % (big ? 4 : 8000)) + "]";
      const std::string key = std::string("k") + std::to_string(random() % 3500);
      const char* default_value = defaults[random() % 3];
      std::string expected;
      const bool stored = model.get(section, key, default_value, expected);
      const char* value = store.get(section.c_str(), key.c_str(), default_value);
      if (stored) {
        ASSERT_NE(value, nullptr) << section << " " << key;
        ASSERT_NE(value, default_value) << section << " " << key;
        ASSERT_EQ(value, expected) << section << " " << key;
      } else {
        ASSERT_EQ(value, default_value) << section << " " << key;
      }
    }
    EXPECT_EQ(dump(store), model.sections);
    store.clear();
    EXPECT_EQ(store.find_section("[big0]"), nullptr);
  }
}

}  // namespace
