#pragma once
// A plain model of IniStore for comparisons: sections and pairs in vectors, every rule
// of parsing and lookup written out directly on std::string. Slow and obvious; used by
// the INI tests and the INI fuzz target as the expected result.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ini/ini_store.h"

namespace ini_model {

using Pairs = std::vector<std::pair<std::string, std::string>>;
using Sections = std::vector<std::pair<std::string, Pairs>>;

class Model {
 public:
  // The sections and pairs of text[0..size), as IniStore::parse gives them.
  void parse(const char* text, std::int32_t size) {
    sections.clear();
    positions_.clear();
    std::size_t current = NONE;
    for (std::int32_t position = 0; position < size;) {
      const std::int32_t available = size - position;
      const std::int32_t limit = available < INI_LINE_MAX ? available : INI_LINE_MAX;
      std::int32_t length = 0;
      while (length < limit && !is_break(text[position + length])) ++length;
      std::string line(text + position, std::size_t(length));
      if (length == limit) {
        position += limit;
      } else {
        const bool paired = length + 1 < available && is_break(text[position + length + 1]);
        position += length + (paired ? 2 : 1);
      }
      line = line.substr(0, line.find('\0'));
      line = line.substr(0, line.find("//"));
      const std::size_t equals = line.find('=');
      const std::size_t bracket = line.find('[');
      if (equals != std::string::npos) {
        if (current != NONE) sections[current].second.emplace_back(line.substr(0, equals), line.substr(equals + 1));
      } else if (bracket != std::string::npos) {
        current = section_position(line.substr(bracket));
      }
    }
  }

  // The value get returns as a string (true), or false when it returns the default
  // or null; appends the default as IniStore::get does.
  bool get(const std::string& section, const std::string& key, const char* default_value, std::string& value) {
    const auto found = positions_.find(section);
    if (found == positions_.end()) return false;
    Pairs& pairs = sections[found->second].second;
    for (const auto& pair : pairs) {
      if (pair.first == key) {
        value = pair.second;
        return true;
      }
    }
    if (default_value != nullptr) pairs.emplace_back(key, default_value);
    return false;
  }

  Sections sections;

 private:
  static constexpr std::size_t NONE = ~std::size_t(0);
  static bool is_break(char byte) { return byte == '\r' || byte == '\n'; }

  std::size_t section_position(const std::string& name) {
    const auto [at, added] = positions_.emplace(name, sections.size());
    if (added) sections.emplace_back(name, Pairs());
    return at->second;
  }

  std::map<std::string, std::size_t> positions_;
};

// The content of a store in the model's form.
inline Sections content(const IniStore& store) {
  Sections sections;
  for (const IniSection* section = store.first_section; section != nullptr; section = section->next) {
    Pairs pairs;
    for (const IniPair* pair = section->first_pair; pair != nullptr; pair = pair->next)
      pairs.emplace_back(pair->key, pair->value);
    sections.emplace_back(section->name, std::move(pairs));
  }
  return sections;
}

}  // namespace ini_model
