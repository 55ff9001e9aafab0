#include "platform/package_record.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace platform {
namespace {

constexpr char RECORD_MAGIC[8] = {'P', 'K', 'U', 'P', 'C', 'R', 'C', '1'};
constexpr std::size_t RECORD_HEADER_SIZE = 12;
constexpr std::size_t RECORD_ITEM_SIZE = 16;  // crc, size and name length

std::uint64_t load_le(const std::uint8_t* at, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | at[i];
  return value;
}
void put_le(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(std::uint8_t(value >> (8 * i)));
}

std::string hex32(std::uint32_t value) {
  static const char digits[] = "0123456789abcdef";
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4) text[std::size_t(i)] = digits[value & 15];
  return text;
}

}  // namespace

std::uint32_t package_checksum(std::span<const std::uint8_t> bytes) {
  uLong crc = crc32(0L, Z_NULL, 0);
  // zlib takes at most a uInt of bytes per call.
  constexpr std::size_t piece = std::numeric_limits<uInt>::max();
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    const std::size_t length = std::min(piece, bytes.size() - at);
    crc = crc32(crc, bytes.data() + at, uInt(length));
  }
  return std::uint32_t(crc);
}

std::vector<std::uint8_t> make_package_record(const std::vector<NamedBlob>& files) {
  std::vector<std::uint8_t> out(RECORD_MAGIC, RECORD_MAGIC + sizeof RECORD_MAGIC);
  std::vector<const NamedBlob*> listed;
  for (const auto& file : files)
    if (!resource_name_equal(file.name, PACKAGE_RECORD_NAME)) listed.push_back(&file);
  put_le(out, listed.size(), 4);
  for (const NamedBlob* file : listed) {
    put_le(out, package_checksum(file->bytes), 4);
    put_le(out, file->bytes.size(), 8);
    put_le(out, file->name.size(), 4);
    out.insert(out.end(), file->name.begin(), file->name.end());
  }
  return out;
}

std::optional<std::vector<RecordedFile>> parse_package_record(std::span<const std::uint8_t> record) {
  if (record.size() < RECORD_HEADER_SIZE || std::memcmp(record.data(), RECORD_MAGIC, sizeof RECORD_MAGIC) != 0)
    return std::nullopt;
  const std::uint64_t count = load_le(record.data() + 8, 4);
  if (count > RESOURCE_MAX_COUNT) return std::nullopt;
  std::vector<RecordedFile> files;
  std::size_t at = RECORD_HEADER_SIZE;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (record.size() - at < RECORD_ITEM_SIZE) return std::nullopt;
    RecordedFile file;
    file.crc32 = std::uint32_t(load_le(record.data() + at, 4));
    file.size = load_le(record.data() + at + 4, 8);
    const std::uint64_t name_length = load_le(record.data() + at + 12, 4);
    at += RECORD_ITEM_SIZE;
    if (name_length == 0 || name_length > RESOURCE_MAX_NAME_LENGTH || record.size() - at < name_length)
      return std::nullopt;
    file.name.assign(reinterpret_cast<const char*>(record.data() + at), std::size_t(name_length));
    at += std::size_t(name_length);
    for (const auto& earlier : files)
      if (resource_name_equal(earlier.name, file.name)) return std::nullopt;
    files.push_back(std::move(file));
  }
  if (at != record.size()) return std::nullopt;
  return files;
}

std::vector<PackageProblem> check_package_files(const PackageLookup& lookup,
                                                const std::vector<std::string>& also_recorded) {
  std::vector<PackageProblem> problems;
  const auto record_bytes = lookup(PACKAGE_RECORD_NAME);
  if (!record_bytes) return {{PACKAGE_RECORD_NAME, "the package carries no checksum record"}};
  const auto record = parse_package_record(*record_bytes);
  if (!record) return {{PACKAGE_RECORD_NAME, "the checksum record is damaged"}};
  for (const auto& file : *record) {
    const auto bytes = lookup(file.name);
    if (!bytes) {
      problems.push_back({file.name, "missing"});
    } else if (bytes->size() != file.size) {
      problems.push_back(
          {file.name, "size " + std::to_string(bytes->size()) + ", recorded " + std::to_string(file.size)});
    } else if (const std::uint32_t crc = package_checksum(*bytes); crc != file.crc32) {
      problems.push_back({file.name, "checksum " + hex32(crc) + ", recorded " + hex32(file.crc32)});
    }
  }
  for (const auto& name : also_recorded) {
    if (resource_name_equal(name, PACKAGE_RECORD_NAME)) continue;
    const bool listed = std::any_of(record->begin(), record->end(),
                                    [&](const RecordedFile& file) { return resource_name_equal(file.name, name); });
    if (!listed) problems.push_back({name, "not in the checksum record"});
  }
  return problems;
}

}  // namespace platform
