#include "platform/executable_image.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace platform {
namespace {

using Bytes = std::span<const std::uint8_t>;

// Little-endian reads that report a field outside the file as missing.
bool read_u16(Bytes file, std::uint64_t at, std::uint64_t& value) {
  if (at > file.size() || file.size() - at < 2) return false;
  value = std::uint64_t(file[at]) | std::uint64_t(file[at + 1]) << 8;
  return true;
}
bool read_u32(Bytes file, std::uint64_t at, std::uint64_t& value) {
  if (at > file.size() || file.size() - at < 4) return false;
  value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | file[at + std::uint64_t(i)];
  return true;
}
bool read_u64(Bytes file, std::uint64_t at, std::uint64_t& value) {
  if (at > file.size() || file.size() - at < 8) return false;
  value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | file[at + std::uint64_t(i)];
  return true;
}

// Widens end to cover [offset, offset + size); false when that range leaves the file.
bool cover(Bytes file, std::uint64_t offset, std::uint64_t size, std::uint64_t& end) {
  if (offset > file.size() || file.size() - offset < size) return false;
  end = std::max(end, offset + size);
  return true;
}

std::optional<ExecutableImage> inspect_elf(Bytes file) {
  if (file.size() < 52 || file[5] != 1 /* little-endian */) return std::nullopt;
  const bool wide = file[4] == 2;
  if (!wide && file[4] != 1) return std::nullopt;
  std::uint64_t phoff, shoff, ehsize, phentsize, phnum, shentsize, shnum;
  const bool header_read = wide
                               ? read_u64(file, 32, phoff) && read_u64(file, 40, shoff) && read_u16(file, 52, ehsize) &&
                                     read_u16(file, 54, phentsize) && read_u16(file, 56, phnum) &&
                                     read_u16(file, 58, shentsize) && read_u16(file, 60, shnum)
                               : read_u32(file, 28, phoff) && read_u32(file, 32, shoff) && read_u16(file, 40, ehsize) &&
                                     read_u16(file, 42, phentsize) && read_u16(file, 44, phnum) &&
                                     read_u16(file, 46, shentsize) && read_u16(file, 48, shnum);
  const std::uint64_t min_ph = wide ? 56 : 32, min_sh = wide ? 64 : 40;
  if (!header_read || (phnum != 0 && phentsize < min_ph) || (shnum != 0 && shentsize < min_sh)) return std::nullopt;

  ExecutableImage image;
  image.kind = ExecutableKind::elf;
  if (!cover(file, 0, ehsize, image.image_end) || !cover(file, phoff, phnum * phentsize, image.image_end) ||
      !cover(file, shoff, shnum * shentsize, image.image_end))
    return std::nullopt;
  for (std::uint64_t i = 0; i < phnum; ++i) {
    const std::uint64_t at = phoff + i * phentsize;
    std::uint64_t offset, size;
    const bool read = wide ? read_u64(file, at + 8, offset) && read_u64(file, at + 32, size)
                           : read_u32(file, at + 4, offset) && read_u32(file, at + 16, size);
    if (!read || !cover(file, offset, size, image.image_end)) return std::nullopt;
  }
  for (std::uint64_t i = 0; i < shnum; ++i) {
    const std::uint64_t at = shoff + i * shentsize;
    std::uint64_t type, offset, size;
    const bool read =
        wide ? read_u32(file, at + 4, type) && read_u64(file, at + 24, offset) && read_u64(file, at + 32, size)
             : read_u32(file, at + 4, type) && read_u32(file, at + 16, offset) && read_u32(file, at + 20, size);
    if (!read) return std::nullopt;
    if (type == 8 /* SHT_NOBITS: no bytes in the file */) continue;
    if (!cover(file, offset, size, image.image_end)) return std::nullopt;
  }
  return image;
}

// The resource directory keeps names as a 16-bit length and UTF-16LE upper-case text.
bool holds_resource_name(Bytes image, const char* name) {
  std::vector<std::uint8_t> pattern = {std::uint8_t(std::strlen(name)), 0};
  for (const char* c = name; *c; ++c) pattern.insert(pattern.end(), {std::uint8_t(*c), 0});
  return std::search(image.begin(), image.end(), pattern.begin(), pattern.end()) != image.end();
}

std::optional<ExecutableImage> inspect_pe(Bytes file) {
  std::uint64_t pe_offset, signature;
  if (!read_u32(file, 0x3C, pe_offset) || !read_u32(file, pe_offset, signature) || signature != 0x00004550)
    return std::nullopt;
  const std::uint64_t coff = pe_offset + 4;
  const std::uint64_t optional = coff + 20;
  std::uint64_t sections, symbols_at, symbols, optional_size, magic, headers_size;
  if (!read_u16(file, coff + 2, sections) || !read_u32(file, coff + 8, symbols_at) ||
      !read_u32(file, coff + 12, symbols) || !read_u16(file, coff + 16, optional_size) ||
      !read_u16(file, optional, magic) || !read_u32(file, optional + 60, headers_size))
    return std::nullopt;
  const bool wide = magic == 0x20B;
  if (!wide && magic != 0x10B) return std::nullopt;

  ExecutableImage image;
  image.kind = ExecutableKind::pe;
  if (!cover(file, 0, headers_size, image.image_end)) return std::nullopt;
  const std::uint64_t table = optional + optional_size;
  for (std::uint64_t i = 0; i < sections; ++i) {
    std::uint64_t raw_size, raw_at;
    if (!read_u32(file, table + i * 40 + 16, raw_size) || !read_u32(file, table + i * 40 + 20, raw_at))
      return std::nullopt;
    if (raw_size != 0 && !cover(file, raw_at, raw_size, image.image_end)) return std::nullopt;
  }
  if (symbols_at != 0) {
    // The COFF symbol table, 18 bytes a symbol, and the string table after it, which
    // starts with its own size.
    const std::uint64_t strings_at = symbols_at + symbols * 18;
    std::uint64_t strings_size = 0;
    if (!cover(file, symbols_at, symbols * 18, image.image_end)) return std::nullopt;
    if (read_u32(file, strings_at, strings_size) && !cover(file, strings_at, strings_size, image.image_end))
      return std::nullopt;
  }
  std::uint64_t directories = 0;
  const std::uint64_t directory_at = optional + (wide ? 112 : 96);
  if (read_u32(file, optional + (wide ? 108 : 92), directories) && directories > 4) {
    std::uint64_t offset, size;
    if (read_u32(file, directory_at + 4 * 8, offset) && read_u32(file, directory_at + 4 * 8 + 4, size) && size != 0) {
      // The signature's place is a file offset; it must lie inside the file.
      if (offset > file.size() || file.size() - offset < size) return std::nullopt;
      image.signature_offset = offset;
      image.signature_size = size;
    }
  }
  image.has_compiled_package = holds_resource_name(file.first(std::size_t(image.image_end)), "UPDATA.INI");
  return image;
}

}  // namespace

std::optional<ExecutableImage> inspect_executable(std::span<const std::uint8_t> file) {
  if (file.size() >= 4 && std::memcmp(file.data(),
                                      "\x7F"
                                      "ELF",
                                      4) == 0)
    return inspect_elf(file);
  if (file.size() >= 2 && file[0] == 'M' && file[1] == 'Z') return inspect_pe(file);
  return std::nullopt;
}

}  // namespace platform
