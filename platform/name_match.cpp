#include "platform/name_match.h"

namespace platform {

std::string fold_ascii_case(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return folded;
}

std::optional<std::string> pick_existing_name(const std::vector<std::string>& names, std::string_view name) {
  const std::string wanted = fold_ascii_case(name);
  std::optional<std::string> chosen;
  for (const std::string& candidate : names) {
    if (fold_ascii_case(candidate) != wanted) continue;
    if (candidate == name) return candidate;
    if (!chosen || candidate < *chosen) chosen = candidate;
  }
  return chosen;
}

}  // namespace platform
