#pragma once
// The table of named blobs that carries the update package on platforms without
// executable resources. It is appended to the executable file:
//
//   [program][blob 0][blob 1]...[entries][footer]
//   entry:  u64 offset, u64 size, u32 name length, name bytes
//   footer: u64 payload start (end of the program), u64 entries offset,
//           u32 count, u32 entries size, 8 bytes "PKUPRSRC"
//
// All integers little-endian, offsets absolute in the file. The reader checks every
// offset against the file size: a missing or damaged table means "no package".

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

constexpr std::size_t RESOURCE_FOOTER_SIZE = 32;
constexpr std::size_t RESOURCE_MAX_NAME_LENGTH = 255;
constexpr std::size_t RESOURCE_MAX_COUNT = 4096;

struct ResourceEntry {
  std::string name;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

struct ResourceTable {
  std::uint64_t payload_start = 0;  // size of the program without the table
  std::vector<ResourceEntry> entries;
};

// Parses the table at the end of file; nothing when there is none or it is damaged.
std::optional<ResourceTable> parse_resource_table(std::span<const std::uint8_t> file);

// Appends blobs (name, bytes) to program and returns the whole new file. A table
// already at the end of program is replaced. Nothing when a name is empty or longer
// than RESOURCE_MAX_NAME_LENGTH, or there are too many blobs.
struct NamedBlob {
  std::string name;
  std::vector<std::uint8_t> bytes;
};
std::optional<std::vector<std::uint8_t>> append_resource_table(std::span<const std::uint8_t> program,
                                                               const std::vector<NamedBlob>& blobs);

// The package table of an installer file, as the installer and pak verify look for
// it. sound: a table was found; damaged: bytes were appended to the executable image
// but they are no table (a download cut short, a table overwritten), or the file has
// an executable's magic but its headers reach past its end (cut inside the program);
// none: nothing was appended, or the file is no executable at all. For a signed PE the table ends where the signature starts (up to 7
// bytes of zero padding between them are skipped).
enum class AttachedState { none, sound, damaged };
struct AttachedTable {
  AttachedState state = AttachedState::none;
  ResourceTable table;  // when sound
};
AttachedTable locate_attached_table(std::span<const std::uint8_t> file);

// ASCII case-insensitive equality, as resource names are matched.
bool resource_name_equal(std::string_view a, std::string_view b);

}  // namespace platform
