// Win32 resources: RT_RCDATA blobs of the program's own module, matched without
// regard to case by the system; then the table appended to the program's file
// (resource_table.h), mapped read-only once for the run of the program.

#include "platform/resources.h"

#include <windows.h>

#include <string>

#include "platform/loaded_table.h"

namespace platform {
namespace {

LoadedTable load_own_table() {
  LoadedTable loaded;
  std::wstring path(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
  if (length == 0 || length >= path.size()) return loaded;
  path.resize(length);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return loaded;
  LARGE_INTEGER size;
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && std::uint64_t(size.QuadPart) <= SIZE_MAX) {
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping != nullptr) {
      const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
      CloseHandle(mapping);  // the view keeps the mapping alive
      if (view != nullptr && !loaded.locate(static_cast<const std::uint8_t*>(view), std::size_t(size.QuadPart)))
        UnmapViewOfFile(view);
    }
  }
  CloseHandle(file);
  loaded.summarize();
  return loaded;
}

const LoadedTable& own_table() {
  static const LoadedTable loaded = load_own_table();
  return loaded;
}

std::optional<ByteView> find_compiled_resource(const std::string& name) {
  HRSRC resource = FindResourceA(nullptr, name.c_str(), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  if (!resource) return std::nullopt;
  HGLOBAL loaded = LoadResource(nullptr, resource);
  if (!loaded) return std::nullopt;
  const DWORD size = SizeofResource(nullptr, resource);
  const void* bytes = LockResource(loaded);
  if (!bytes) return std::nullopt;
  return ByteView{static_cast<const std::uint8_t*>(bytes), size};
}

}  // namespace

const OwnTable& own_attached_table() { return own_table().summary; }

std::optional<ByteView> find_own_resource(std::string_view name) {
  if (auto compiled = find_compiled_resource(std::string(name))) return compiled;
  return own_table().find(name);
}

}  // namespace platform
