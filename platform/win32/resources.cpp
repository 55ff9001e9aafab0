// Win32 resources: RT_RCDATA blobs of the program's own module. Resource names are
// matched without regard to case by the system.

#include "platform/resources.h"

#include <windows.h>

#include <string>

namespace platform {

std::optional<ByteView> find_own_resource(std::string_view name) {
  const std::string name_text(name);
  HRSRC resource = FindResourceA(nullptr, name_text.c_str(), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  if (!resource) return std::nullopt;
  HGLOBAL loaded = LoadResource(nullptr, resource);
  if (!loaded) return std::nullopt;
  const DWORD size = SizeofResource(nullptr, resource);
  const void* bytes = LockResource(loaded);
  if (!bytes) return std::nullopt;
  return ByteView{static_cast<const std::uint8_t*>(bytes), size};
}

}  // namespace platform
