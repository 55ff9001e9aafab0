#pragma once
// Named data blobs that the program carries inside its own executable: Windows
// RT_RCDATA resources, or on POSIX a table appended to the executable file.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace platform {

using ByteView = std::span<const std::uint8_t>;

// The bytes of the program's own data resource of that name, matched without regard
// to ASCII case; nothing when there is none. The bytes stay valid and read-only for
// the whole run of the program.
std::optional<ByteView> find_resource(std::string_view name);

}  // namespace platform
