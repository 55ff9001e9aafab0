// Fuzzes the difference of two packs and the removal records of UPDATA.INI. The input
// is two packs, split at the position its first two bytes give; the second half is
// also read as INI text. Any input must end without reading outside either pack; a
// pack compared with itself differs in nothing; read removal records are safe paths.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ini/ini_store.h"
#include "pak/entry_path.h"
#include "pak/removal_records.h"
#include "patch/pack_diff.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t split = std::min<std::size_t>(size - 2, std::size_t(data[0]) | std::size_t(data[1]) << 8);
  // Copies of exact size, so that a read past either end is caught.
  const std::vector<std::uint8_t> old_pack(data + 2, data + 2 + split);
  const std::vector<std::uint8_t> new_pack(data + 2 + split, data + size);

  const patch::PackDifference difference = patch::diff_packs(old_pack, new_pack);
  for (const patch::ChangedEntry& entry : difference.changed)
    if (entry.bytes.data() < new_pack.data() ||
        entry.bytes.data() + entry.bytes.size() > new_pack.data() + new_pack.size())
      std::abort();
  // Against itself a pack lacks nothing and has no directory the other lacks.
  const patch::PackDifference self = patch::diff_packs(new_pack, new_pack);
  if (!self.removed.empty() || !self.added_directories.empty()) std::abort();

  IniStore store;
  store.parse(reinterpret_cast<const char*>(new_pack.data()), std::int32_t(new_pack.size()));
  pak::RemovalPlan plan;
  std::string problem;
  if (pak::read_removals(store, plan, problem)) {
    for (const std::string& file : plan.files)
      if (pak::unsafe_path_reason(file) != nullptr) std::abort();
  }
  return 0;
}
