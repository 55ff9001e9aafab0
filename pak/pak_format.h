#pragma once
// Pack layout: directory blocks of 36-byte records, all integers u32 little-endian,
// offsets absolute from the first byte of the pack.

#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr std::size_t PAK_RECORD_SIZE = 36;
constexpr std::size_t PAK_NAME_SIZE = 32;        // name field, NUL included
constexpr std::size_t PAK_MAX_NAME_LENGTH = 31;  // bytes before the NUL
constexpr std::size_t PAK_MAX_PATH_LENGTH = 259; // an entry path, without its NUL
constexpr std::size_t PAK_MAX_BASE_PATH_LENGTH = 255;
constexpr std::size_t PAK_EMPTY_DIRECTORY_SIZE = 4 + PAK_RECORD_SIZE;

// One directory record as it is laid out in a pack.
struct PakRecord {
  std::uint32_t offset;
  char name[PAK_NAME_SIZE];
};
static_assert(sizeof(PakRecord) == PAK_RECORD_SIZE);

// A directory block: count (end record included), then count records.
struct PakDirectory {
  std::uint32_t count;
  // PakRecord records[count] follow.
};

// Records inside a pack may stand at any byte offset: read and write them by copy.
inline std::uint32_t load_u32(const std::uint8_t* at) {
  return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16 | std::uint32_t(at[3]) << 24;
}
inline void store_u32(std::uint8_t* at, std::uint32_t value) {
  at[0] = std::uint8_t(value);
  at[1] = std::uint8_t(value >> 8);
  at[2] = std::uint8_t(value >> 16);
  at[3] = std::uint8_t(value >> 24);
}
inline PakRecord load_record(const std::uint8_t* at) {
  PakRecord record;
  record.offset = load_u32(at);
  std::memcpy(record.name, at + 4, PAK_NAME_SIZE);
  return record;
}
