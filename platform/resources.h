#pragma once
// Named data blobs that the program carries inside its own executable: Windows
// RT_RCDATA resources, or on POSIX a table appended to the executable file.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using ByteView = std::span<const std::uint8_t>;

// The bytes of the program's own data resource of that name, matched without regard
// to ASCII case; nothing when there is none. On Windows the compiled-in RT_RCDATA
// resources come first, then the appended table. The bytes stay valid and read-only for
// the whole run of the program.
std::optional<ByteView> find_resource(std::string_view name);

// The program's own resources, as the backend finds them.
std::optional<ByteView> find_own_resource(std::string_view name);

// Whether the program's own file carries an appended package table, and the names of
// its blobs when it does (resource_table.h). A damaged table yields no resources.
struct OwnTable {
  bool damaged = false;
  std::vector<std::string> names;
};
const OwnTable& own_attached_table();

// Where find_resource looks instead of the program's own resources: tests stand in
// for an update package with it. An empty function restores the program's own.
using ResourceLookup = std::function<std::optional<ByteView>(std::string_view)>;
void set_resource_lookup(ResourceLookup lookup);

}  // namespace platform
