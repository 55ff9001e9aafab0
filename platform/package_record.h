#pragma once
// The checksum record of an update package: one more named blob, "PACKAGE.CRC", that
// lists every other file of the package with its size and CRC-32 (zlib's crc32). The
// appended table carries it beside the files; the Windows build compiles it in as one
// more resource. The installer checks every file against it before it touches the
// game.
//
//   record: 8 bytes "PKUPCRC1", u32 count, then count times:
//           u32 crc32, u64 size, u32 name length, name bytes
//
// All integers little-endian; names are unique without regard to ASCII case.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/resource_table.h"

namespace platform {

inline constexpr const char PACKAGE_RECORD_NAME[] = "PACKAGE.CRC";

struct RecordedFile {
  std::string name;
  std::uint64_t size = 0;
  std::uint32_t crc32 = 0;
};

// zlib's CRC-32 of the bytes, in pieces of any size.
std::uint32_t package_checksum(std::span<const std::uint8_t> bytes);

// The record of these files (a blob named PACKAGE.CRC among them is left out).
std::vector<std::uint8_t> make_package_record(const std::vector<NamedBlob>& files);

// Parses a record; nothing when it is damaged: wrong magic, a count above
// RESOURCE_MAX_COUNT, a name empty, too long or repeated, bytes missing or left over.
std::optional<std::vector<RecordedFile>> parse_package_record(std::span<const std::uint8_t> record);

// One file of the package that is not as recorded, or the record itself.
struct PackageProblem {
  std::string name;  // the file concerned
  std::string text;  // what is wrong, in English
};

using PackageLookup = std::function<std::optional<std::span<const std::uint8_t>>(std::string_view)>;

// Checks a package through lookup (names matched without regard to case): the record
// must be there and sound, every recorded file present with its size and checksum,
// and every name of also_recorded listed in the record. Returns the problems, none
// for a sound package.
std::vector<PackageProblem> check_package_files(const PackageLookup& lookup,
                                                const std::vector<std::string>& also_recorded);

}  // namespace platform
