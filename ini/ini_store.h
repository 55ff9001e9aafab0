#pragma once
// INI text held in memory as ordered sections of ordered key/value pairs.
//
// All text is bytes of the system's ANSI code page and is never converted. Names
// (section names with their brackets, keys) match byte for byte up to the end of the
// string: case-sensitive, nothing trimmed. No input is rejected: malformed lines are
// dropped or taken as they come.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

// Longest line piece the parser handles at once; a longer line is cut into pieces of
// this many bytes, each parsed as a line of its own.
constexpr std::int32_t INI_LINE_MAX = 254;
// Size of the buffer read_line fills: a line piece and its terminating NUL.
constexpr std::int32_t INI_LINE_BUFFER_SIZE = INI_LINE_MAX + 1;
// A section with more pairs than this gets a key index on its first lookup; smaller
// ones are searched in list order, which costs less than a hash table for a few keys.
constexpr std::int32_t INI_PAIR_INDEX_THRESHOLD = 16;

// One key/value pair. Owned by its section; never moves while linked, so pointers to
// key and value stay valid until the store is cleared.
struct IniPair {
  std::string key;    // text before the first "=" of the line
  std::string value;  // text after the first "=" of the line
  IniPair* next = nullptr;
};

// One section: its header text from "[" to the end of its line (e.g. "[inst]") and its
// pairs in the order they were read or added. Owns its pairs. The pair list and its
// fields are changed only through add_pair and destruction, which keep the key index.
struct IniSection {
  std::string name;
  IniPair* first_pair = nullptr;
  IniPair* last_pair = nullptr;
  std::int32_t pair_count = 0;
  IniSection* next = nullptr;

  IniSection() = default;
  explicit IniSection(const char* section_name) : name(section_name) {}
  IniSection(const IniSection&) = delete;
  IniSection& operator=(const IniSection&) = delete;
  // Frees every pair (iteratively; lists may be long).
  ~IniSection();

  // The first pair whose key equals key, or null. Builds the key index when the
  // section has more than INI_PAIR_INDEX_THRESHOLD pairs and none exists yet.
  IniPair* find_pair(const char* key) const;
  // Appends a pair with copies of key and value; never looks for an existing key.
  // Returns the new pair.
  IniPair* add_pair(const char* key, const char* value);
  // The value of the first pair with this key. When there is none: with a non-null
  // default_value, appends (key, copy of default_value) and returns default_value
  // itself; with a null default_value, returns null and changes nothing.
  const char* get_value(const char* key, const char* default_value);

 private:
  // Key -> first pair with that key; views into the pairs' keys, which never move.
  // Absent until a lookup asks for it, then kept up to date by add_pair.
  using PairIndex = std::unordered_map<std::string_view, IniPair*>;
  mutable std::unique_ptr<PairIndex> pair_index_;
};

class IniStore {
 public:
  IniSection* first_section = nullptr;
  std::int32_t section_count = 0;
  IniSection* last_section = nullptr;
  std::uint32_t loaded = 0;  // 1 after a parse of a non-null text; 0 when empty

  IniStore() = default;
  IniStore(const IniStore&) = delete;
  IniStore& operator=(const IniStore&) = delete;
  ~IniStore() { clear(); }

  // Replaces the whole content by the sections and pairs of text[0..size). text need
  // not be NUL-terminated and is only read (it may be read-only memory); it must not
  // point into this store. A null text leaves the store empty with loaded 0; any other
  // text, including size 0, sets loaded to 1. A negative size counts as 0.
  void parse(const char* text, std::int32_t size);

  // Looks up key in the section named section (brackets included, e.g. "[inst]").
  // - No such section: returns default_value and changes nothing.
  // - Key present: returns the stored value of its first pair.
  // - Key missing, default_value non-null: appends (key, copy of default_value) to the
  //   section and returns default_value itself, the caller's pointer.
  // - Key missing, default_value null: returns null.
  // A null section or key matches nothing. A returned stored value stays valid until the
  // next clear or parse.
  const char* get(const char* section, const char* key, const char* default_value);

  // Frees every section, pair and string; the store is empty with loaded 0.
  void clear();

  // The first section named name, or null. Constant time: the store keeps an index of
  // its section names, so sections must be added only through add_section.
  IniSection* find_section(const char* name) const;
  // The section named name, appended with no pairs when there is none yet.
  IniSection* add_section(const char* name);

  // Copies one line piece starting at text into line (INI_LINE_BUFFER_SIZE bytes,
  // NUL-terminated) and returns the number of bytes it consumed. available is the number
  // of text bytes left (at least 1); limit (1..INI_LINE_MAX, at most available) the most
  // bytes the piece may hold. The piece ends at a CR or LF, which is consumed with one
  // directly following CR or LF when the text holds one (CR LF, LF CR, CR CR, LF LF are
  // one break), or after limit bytes. The copy keeps any NUL byte, so the line's text as
  // a C string ends at the first NUL.
  static std::int32_t read_line(const char* text, std::int32_t available, std::int32_t limit, char* line);

 private:
  // Section name -> section; views into the sections' names, which never move or change.
  std::unordered_map<std::string_view, IniSection*> section_index_;
};
