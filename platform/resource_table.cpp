#include "platform/resource_table.h"

#include <cstring>

#include "platform/executable_image.h"

namespace platform {
namespace {

constexpr char FOOTER_MAGIC[8] = {'P', 'K', 'U', 'P', 'R', 'S', 'R', 'C'};

std::uint64_t load_u64(const std::uint8_t* at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | at[i];
  return value;
}
std::uint32_t load_u32(const std::uint8_t* at) {
  return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16 | std::uint32_t(at[3]) << 24;
}
void put_u64(std::vector<std::uint8_t>& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(std::uint8_t(value >> (8 * i)));
}
void put_u32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(value >> (8 * i)));
}
char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

}  // namespace

bool resource_name_equal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  return true;
}

std::optional<ResourceTable> parse_resource_table(std::span<const std::uint8_t> file) {
  if (file.size() < RESOURCE_FOOTER_SIZE) return std::nullopt;
  const std::uint8_t* footer = file.data() + file.size() - RESOURCE_FOOTER_SIZE;
  if (std::memcmp(footer + 24, FOOTER_MAGIC, sizeof FOOTER_MAGIC) != 0) return std::nullopt;
  const std::uint64_t payload_start = load_u64(footer);
  const std::uint64_t entries_offset = load_u64(footer + 8);
  const std::uint32_t count = load_u32(footer + 16);
  const std::uint32_t entries_size = load_u32(footer + 20);
  const std::uint64_t footer_offset = file.size() - RESOURCE_FOOTER_SIZE;
  if (count > RESOURCE_MAX_COUNT || payload_start > entries_offset || entries_offset > footer_offset ||
      footer_offset - entries_offset != entries_size)
    return std::nullopt;

  ResourceTable table;
  table.payload_start = payload_start;
  std::uint64_t at = entries_offset;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (footer_offset - at < 20) return std::nullopt;
    ResourceEntry entry;
    entry.offset = load_u64(file.data() + at);
    entry.size = load_u64(file.data() + at + 8);
    const std::uint32_t name_length = load_u32(file.data() + at + 16);
    at += 20;
    if (name_length == 0 || name_length > RESOURCE_MAX_NAME_LENGTH || footer_offset - at < name_length)
      return std::nullopt;
    entry.name.assign(reinterpret_cast<const char*>(file.data() + at), name_length);
    at += name_length;
    if (entry.offset < payload_start || entry.offset > entries_offset || entries_offset - entry.offset < entry.size)
      return std::nullopt;
    table.entries.push_back(std::move(entry));
  }
  if (at != footer_offset) return std::nullopt;
  return table;
}

AttachedTable locate_attached_table(std::span<const std::uint8_t> file) {
  const auto image = inspect_executable(file);
  std::span<const std::uint8_t> tail = file;
  if (image && image->signature_size != 0) {
    tail = file.first(std::size_t(image->signature_offset));
    // The signer aligns the signature to 8 bytes with zeros; the footer ends in its
    // magic, never in a zero.
    for (int pad = 0; pad < 7 && !tail.empty() && tail.back() == 0; ++pad) tail = tail.first(tail.size() - 1);
  }
  AttachedTable found;
  if (auto table = parse_resource_table(tail)) {
    found.state = AttachedState::sound;
    found.table = std::move(*table);
    return found;
  }
  if (!image) {
    // An executable's magic with headers that reach past the end: the file was cut
    // inside the program or its table.
    const bool executable_magic = (file.size() >= 4 && std::memcmp(file.data(),
                                                                   "\x7F"
                                                                   "ELF",
                                                                   4) == 0) ||
                                  (file.size() >= 2 && file[0] == 'M' && file[1] == 'Z');
    found.state = executable_magic ? AttachedState::damaged : AttachedState::none;
    return found;
  }
  found.state = tail.size() > image->image_end ? AttachedState::damaged : AttachedState::none;
  return found;
}

std::optional<std::vector<std::uint8_t>> append_resource_table(std::span<const std::uint8_t> program,
                                                               const std::vector<NamedBlob>& blobs) {
  if (blobs.size() > RESOURCE_MAX_COUNT) return std::nullopt;
  for (const auto& blob : blobs)
    if (blob.name.empty() || blob.name.size() > RESOURCE_MAX_NAME_LENGTH) return std::nullopt;

  std::uint64_t payload_start = program.size();
  if (auto existing = parse_resource_table(program)) payload_start = existing->payload_start;

  std::vector<std::uint8_t> out(program.begin(), program.begin() + std::ptrdiff_t(payload_start));
  std::vector<ResourceEntry> entries;
  for (const auto& blob : blobs) {
    while (out.size() % 8 != 0) out.push_back(0);  // keeps every blob 8-byte aligned
    entries.push_back({blob.name, out.size(), blob.bytes.size()});
    out.insert(out.end(), blob.bytes.begin(), blob.bytes.end());
  }
  const std::uint64_t entries_offset = out.size();
  for (const auto& entry : entries) {
    put_u64(out, entry.offset);
    put_u64(out, entry.size);
    put_u32(out, std::uint32_t(entry.name.size()));
    out.insert(out.end(), entry.name.begin(), entry.name.end());
  }
  const auto entries_size = std::uint32_t(out.size() - entries_offset);
  put_u64(out, payload_start);
  put_u64(out, entries_offset);
  put_u32(out, std::uint32_t(entries.size()));
  put_u32(out, entries_size);
  out.insert(out.end(), FOOTER_MAGIC, FOOTER_MAGIC + sizeof FOOTER_MAGIC);
  return out;
}

}  // namespace platform
