#include "ini/ini_store.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char CR = 13;
constexpr char LF = 10;

bool is_break(char byte) { return byte == CR || byte == LF; }

}  // namespace

IniSection::~IniSection() {
  IniPair* pair = first_pair;
  while (pair != nullptr) {
    IniPair* next = pair->next;
    delete pair;
    pair = next;
  }
}

IniPair* IniSection::find_pair(const char* key) const {
  for (IniPair* pair = first_pair; pair != nullptr; pair = pair->next) {
    if (pair->key == key) return pair;
  }
  return nullptr;
}

IniPair* IniSection::add_pair(const char* key, const char* value) {
  // Fully built before it is linked: a failed allocation leaves the list intact.
  IniPair* pair = new IniPair{key, value, nullptr};
  if (last_pair == nullptr) {
    first_pair = pair;
  } else {
    last_pair->next = pair;
  }
  last_pair = pair;
  ++pair_count;
  return pair;
}

const char* IniSection::get_value(const char* key, const char* default_value) {
  if (const IniPair* pair = find_pair(key)) return pair->value.c_str();
  if (default_value == nullptr) return nullptr;
  add_pair(key, default_value);
  return default_value;
}

IniSection* IniStore::find_section(const char* name) const {
  for (IniSection* section = first_section; section != nullptr; section = section->next) {
    if (section->name == name) return section;
  }
  return nullptr;
}

IniSection* IniStore::add_section(const char* name) {
  if (IniSection* section = find_section(name)) return section;
  IniSection* section = new IniSection(name);
  if (last_section == nullptr) {
    first_section = section;
  } else {
    last_section->next = section;
  }
  last_section = section;
  ++section_count;
  return section;
}

std::int32_t IniStore::read_line(const char* text, std::int32_t available, std::int32_t limit, char* line) {
  std::int32_t i = 0;
  while (i < limit && !is_break(text[i])) {
    line[i] = text[i];
    ++i;
  }
  line[i] = '\0';
  if (i == limit) return limit;
  // text[i] is a break; a second CR or LF right after it belongs to the same break.
  if (i + 1 < available && is_break(text[i + 1])) return i + 2;
  return i + 1;
}

void IniStore::parse(const char* text, std::int32_t size) {
  clear();
  if (text == nullptr) return;

  IniSection* current = nullptr;
  char line[INI_LINE_BUFFER_SIZE];
  std::int32_t position = 0;
  while (position < size) {
    const std::int32_t available = size - position;
    position += read_line(text + position, available, std::min(available, INI_LINE_MAX), line);

    // "//" starts a comment anywhere in the line, values included.
    if (char* comment = std::strstr(line, "//")) *comment = '\0';

    if (char* equals = std::strchr(line, '=')) {
      if (current == nullptr) continue;  // a pair before any header belongs nowhere
      *equals = '\0';
      current->add_pair(line, equals + 1);
    } else if (const char* bracket = std::strchr(line, '[')) {
      current = add_section(bracket);
    }
  }
  loaded = 1;
}

const char* IniStore::get(const char* section, const char* key, const char* default_value) {
  if (section == nullptr || key == nullptr) return default_value;
  IniSection* found = find_section(section);
  if (found == nullptr) return default_value;
  return found->get_value(key, default_value);
}

void IniStore::clear() {
  IniSection* section = first_section;
  while (section != nullptr) {
    IniSection* next = section->next;
    delete section;
    --section_count;
    section = next;
  }
  first_section = nullptr;
  last_section = nullptr;
  section_count = 0;
  loaded = 0;
}
