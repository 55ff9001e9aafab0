#pragma once
// Backend side of the write-failure test hook (see inject_write_failure_after).

#include <cstddef>
#include <cstdint>

namespace platform {

// False when an injected failure applies to a write of size bytes.
bool take_write_budget(std::size_t size);

}  // namespace platform
