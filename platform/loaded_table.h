#pragma once
// The package table appended to the program's own file, found in the backend's
// read-only mapping of that file, which stays mapped for the run while the table is
// sound. Shared by the backends, which only map and unmap the file.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/resource_table.h"
#include "platform/resources.h"

namespace platform {

struct LoadedTable {
  const std::uint8_t* file = nullptr;  // the mapped file, while the table is sound
  AttachedTable attached;
  OwnTable summary;

  // Looks for the table in the mapped file. True when it is sound and the mapping is
  // kept; false when the caller is to unmap it.
  bool locate(const std::uint8_t* mapped, std::size_t size) {
    attached = locate_attached_table({mapped, size});
    if (attached.state != AttachedState::sound) return false;
    file = mapped;
    return true;
  }

  // Fills summary from what locate found (or from nothing).
  void summarize() {
    summary.damaged = attached.state == AttachedState::damaged;
    for (const auto& entry : attached.table.entries) summary.names.push_back(entry.name);
  }

  std::optional<ByteView> find(std::string_view name) const {
    if (file == nullptr) return std::nullopt;
    for (const auto& entry : attached.table.entries)
      if (resource_name_equal(entry.name, name)) return ByteView{file + entry.offset, std::size_t(entry.size)};
    return std::nullopt;
  }
};

}  // namespace platform
