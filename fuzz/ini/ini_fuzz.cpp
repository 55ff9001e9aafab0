// Parses arbitrary bytes into an IniStore, checks the store's shape and compares it with
// the plain model of tests/ini, then runs lookups with and without defaults and checks
// their results against the store and the model.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ini/ini_store.h"
#include "tests/ini/ini_model.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

bool has_break(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

// Counts, tails, unique section names and what parsing can leave in names and values.
void check_shape(const IniStore& store, bool parsed_only) {
  std::int32_t sections = 0;
  const IniSection* last_section = nullptr;
  for (const IniSection* section = store.first_section; section != nullptr; section = section->next) {
    ++sections;
    last_section = section;
    check(store.find_section(section->name.c_str()) == section);
    check(!section->name.empty() && section->name[0] == '[');
    check(section->name.size() <= INI_LINE_MAX && !has_break(section->name));
    check(section->name.find('=') == std::string::npos && section->name.find("//") == std::string::npos);
    std::int32_t pairs = 0;
    const IniPair* last_pair = nullptr;
    for (const IniPair* pair = section->first_pair; pair != nullptr; pair = pair->next) {
      ++pairs;
      last_pair = pair;
      if (parsed_only) {
        check(pair->key.find('=') == std::string::npos);
        check(pair->key.size() + 1 + pair->value.size() <= INI_LINE_MAX);
        check(!has_break(pair->key) && !has_break(pair->value));
        check(pair->value.find("//") == std::string::npos);
      }
    }
    check(pairs == section->pair_count && last_pair == section->last_pair);
  }
  check(sections == store.section_count && last_section == store.last_section);
}

// A name for a lookup: an existing section name or key when one is picked, else
// bytes from the input.
std::string pick_section(FuzzedDataProvider& input, const IniStore& store) {
  if (store.section_count > 0 && input.ConsumeBool()) {
    std::int32_t index = input.ConsumeIntegralInRange<std::int32_t>(0, store.section_count - 1);
    const IniSection* section = store.first_section;
    while (index-- > 0) section = section->next;
    return section->name;
  }
  return input.ConsumeRandomLengthString(16);
}

std::string pick_key(FuzzedDataProvider& input, const IniSection* section) {
  if (section != nullptr && section->pair_count > 0 && input.ConsumeBool()) {
    std::int32_t index = input.ConsumeIntegralInRange<std::int32_t>(0, section->pair_count - 1);
    const IniPair* pair = section->first_pair;
    while (index-- > 0) pair = pair->next;
    return pair->key;
  }
  return input.ConsumeRandomLengthString(16);
}

void run_lookup(FuzzedDataProvider& input, IniStore& store, ini_model::Model& model) {
  const std::string section_name = pick_section(input, store);
  IniSection* section = store.find_section(section_name.c_str());
  const std::string key = pick_key(input, section);
  const bool with_default = input.ConsumeBool();
  const std::string default_text = with_default ? input.ConsumeRandomLengthString(16) : std::string();
  const char* default_value = with_default ? default_text.c_str() : nullptr;

  const std::int32_t sections_before = store.section_count;
  const std::int32_t pairs_before = section != nullptr ? section->pair_count : 0;
  const IniPair* existing = section != nullptr ? section->find_pair(key.c_str()) : nullptr;

  const char* result = store.get(section_name.c_str(), key.c_str(), default_value);
  check(store.section_count == sections_before);
  // The store sees the names as C strings: up to their first NUL.
  std::string modelled;
  if (model.get(section_name.c_str(), key.c_str(), default_value, modelled)) {
    check(result != nullptr && result != default_value && modelled == result);
  } else {
    check(result == default_value);
  }

  if (section == nullptr) {
    check(result == default_value);
    return;
  }
  if (existing != nullptr) {
    check(result == existing->value.c_str() && section->pair_count == pairs_before);
    return;
  }
  if (default_value == nullptr) {
    check(result == nullptr && section->pair_count == pairs_before);
    return;
  }
  check(result == default_value && section->pair_count == pairs_before + 1);
  check(section->last_pair->key == key.c_str() && section->last_pair->value == default_value);
  // The next lookup of the key finds the stored copy.
  const char* stored = store.get(section_name.c_str(), key.c_str(), "other");
  check(stored == section->last_pair->value.c_str() && stored != default_value);
}

void parse_input(IniStore& store, ini_model::Model& model, const std::vector<char>& text, bool null_text) {
  static const char empty = 0;
  if (null_text) {
    store.parse(nullptr, static_cast<std::int32_t>(text.size()));
    check(store.loaded == 0 && store.first_section == nullptr && store.section_count == 0);
    model.parse(nullptr, 0);
    return;
  }
  // An exact-size copy: reading past its end shows under AddressSanitizer.
  store.parse(text.empty() ? &empty : text.data(), static_cast<std::int32_t>(text.size()));
  check(store.loaded == 1);
  model.parse(text.data(), static_cast<std::int32_t>(text.size()));
  check(ini_model::content(store) == model.sections);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // The lookups come from the input's head, the text from the rest.
  const std::size_t script_size = input.ConsumeIntegralInRange<std::size_t>(0, 256);
  const std::vector<std::uint8_t> script = input.ConsumeBytes<std::uint8_t>(script_size);
  const bool null_text = input.ConsumeIntegralInRange<int>(0, 15) == 0;
  const std::vector<char> text = input.ConsumeRemainingBytes<char>();

  IniStore store;
  ini_model::Model model;
  parse_input(store, model, text, null_text);
  check_shape(store, true);

  FuzzedDataProvider lookups(script.data(), script.size());
  while (lookups.remaining_bytes() > 0) {
    if (lookups.ConsumeIntegralInRange<int>(0, 31) == 0) {
      parse_input(store, model, text, false);  // parsing again replaces what lookups added
    } else {
      run_lookup(lookups, store, model);
    }
  }
  check_shape(store, false);
  check(ini_model::content(store) == model.sections);
  return 0;
}
