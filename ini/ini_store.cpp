#include "ini/ini_store.h"

#include <algorithm>
#include <cstring>
#include <memory>

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
  if (pair_index_ == nullptr && pair_count > INI_PAIR_INDEX_THRESHOLD) {
    auto index = std::make_unique<PairIndex>();
    index->reserve(std::size_t(pair_count));
    // emplace keeps an existing key: the first pair of a key wins, as in the list walk.
    for (IniPair* pair = first_pair; pair != nullptr; pair = pair->next) index->emplace(pair->key, pair);
    pair_index_ = std::move(index);
  }
  if (pair_index_ != nullptr) {
    const auto found = pair_index_->find(key);
    return found != pair_index_->end() ? found->second : nullptr;
  }
  for (IniPair* pair = first_pair; pair != nullptr; pair = pair->next) {
    if (pair->key == key) return pair;
  }
  return nullptr;
}

IniPair* IniSection::add_pair(const char* key, const char* value) {
  // Fully built before it is linked: a failed allocation leaves the list intact.
  auto owned = std::make_unique<IniPair>(IniPair{key, value, nullptr});
  if (pair_index_ != nullptr) pair_index_->emplace(owned->key, owned.get());  // an earlier pair of the key stays
  IniPair* pair = owned.release();
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
  const auto found = section_index_.find(name);
  return found != section_index_.end() ? found->second : nullptr;
}

IniSection* IniStore::add_section(const char* name) {
  if (IniSection* section = find_section(name)) return section;
  // Indexed before it is linked: a failed allocation leaves list and index agreeing.
  auto owned = std::make_unique<IniSection>(name);
  section_index_.emplace(owned->name, owned.get());
  IniSection* section = owned.release();
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
  section_index_.clear();
  first_section = nullptr;
  last_section = nullptr;
  section_count = 0;
  loaded = 0;
}
