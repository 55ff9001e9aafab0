// The package table appended to the installer. Arbitrary bytes are read as the
// executable, once as they are and once with the table's magic forced into their last
// bytes; whatever the reader accepts must lie inside the file. Then blobs made from the
// input are appended to a program made from the input and must read back equal; a
// second append of the same blobs must give the same file. The input is also read as
// a package's checksum record, and a record made of the blobs must read back and
// check every blob as sound, and find any changed byte.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/package_record.h"
#include "platform/resource_table.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// Every accepted entry: a name of 1 to RESOURCE_MAX_NAME_LENGTH bytes and bytes between
// the program's end and the footer. The bytes are read, so AddressSanitizer sees a
// read outside file.
void check_inside(std::span<const std::uint8_t> file, const platform::ResourceTable& table) {
  check(file.size() >= platform::RESOURCE_FOOTER_SIZE);
  const std::uint64_t footer = file.size() - platform::RESOURCE_FOOTER_SIZE;
  check(table.payload_start <= footer);
  check(table.entries.size() <= platform::RESOURCE_MAX_COUNT);
  for (const auto& entry : table.entries) {
    check(!entry.name.empty() && entry.name.size() <= platform::RESOURCE_MAX_NAME_LENGTH);
    check(entry.offset >= table.payload_start && entry.offset <= footer && entry.size <= footer - entry.offset);
    volatile std::uint8_t sum = 0;
    for (std::uint64_t i = 0; i < entry.size; ++i) sum = std::uint8_t(sum + file[std::size_t(entry.offset + i)]);
  }
}

void check_record(std::vector<platform::NamedBlob> blobs);

void parse_as_executable(std::span<const std::uint8_t> file) {
  if (auto table = platform::parse_resource_table(file)) check_inside(file, *table);
}

void round_trip(FuzzedDataProvider& input) {
  const std::vector<std::uint8_t> program = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 512));
  std::vector<platform::NamedBlob> blobs(input.ConsumeIntegralInRange(0, 12));
  bool acceptable = true;
  for (auto& blob : blobs) {
    // Mostly valid names; now and then empty or too long ones, which must be refused.
    const int kind = input.ConsumeIntegralInRange(0, 15);
    if (kind == 0) {
      blob.name.clear();
    } else if (kind == 1) {
      blob.name.assign(platform::RESOURCE_MAX_NAME_LENGTH + 1, 'n');
    } else {
      blob.name = input.ConsumeRandomLengthString(platform::RESOURCE_MAX_NAME_LENGTH);
      if (blob.name.empty()) blob.name = "x";
    }
    acceptable = acceptable && !blob.name.empty() && blob.name.size() <= platform::RESOURCE_MAX_NAME_LENGTH;
    blob.bytes = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 300));
  }

  const auto existing = platform::parse_resource_table(program);
  const auto bundled = platform::append_resource_table(program, blobs);
  check(bundled.has_value() == acceptable);
  if (!bundled) return;

  const auto table = platform::parse_resource_table(*bundled);
  check(table.has_value());
  check_inside(*bundled, *table);
  // The program stays, without any table it carried before.
  const std::uint64_t program_end = existing ? existing->payload_start : program.size();
  check(table->payload_start == program_end);
  check(std::equal(program.begin(), program.begin() + std::ptrdiff_t(program_end), bundled->begin()));
  check(table->entries.size() == blobs.size());
  for (std::size_t i = 0; i < blobs.size(); ++i) {
    const auto& entry = table->entries[i];
    check(entry.name == blobs[i].name && entry.size == blobs[i].bytes.size() && entry.offset % 8 == 0);
    check(std::equal(blobs[i].bytes.begin(), blobs[i].bytes.end(), bundled->begin() + std::ptrdiff_t(entry.offset)));
  }
  const auto again = platform::append_resource_table(*bundled, blobs);
  check(again.has_value() && *again == *bundled);
  check_record(blobs);
}

// Whatever parses as a record keeps its limits.
void parse_as_record(std::span<const std::uint8_t> bytes) {
  const auto record = platform::parse_package_record(bytes);
  if (!record) return;
  check(record->size() <= platform::RESOURCE_MAX_COUNT);
  for (std::size_t i = 0; i < record->size(); ++i) {
    const auto& name = (*record)[i].name;
    check(!name.empty() && name.size() <= platform::RESOURCE_MAX_NAME_LENGTH);
    for (std::size_t j = 0; j < i; ++j) check(!platform::resource_name_equal((*record)[j].name, name));
  }
}

// The record of distinct blobs lists each; every blob checks as sound, and a flipped
// byte in any of them is found.
void check_record(std::vector<platform::NamedBlob> blobs) {
  std::vector<platform::NamedBlob> distinct;
  for (auto& blob : blobs) {
    bool seen = platform::resource_name_equal(blob.name, platform::PACKAGE_RECORD_NAME);
    for (const auto& kept : distinct) seen = seen || platform::resource_name_equal(kept.name, blob.name);
    if (!seen) distinct.push_back(std::move(blob));
  }
  std::vector<std::uint8_t> record = platform::make_package_record(distinct);
  const auto parsed = platform::parse_package_record(record);
  check(parsed && parsed->size() == distinct.size());
  std::vector<std::string> names;
  for (const auto& blob : distinct) names.push_back(blob.name);
  auto lookup = [&](std::string_view name) -> std::optional<std::span<const std::uint8_t>> {
    if (platform::resource_name_equal(name, platform::PACKAGE_RECORD_NAME))
      return std::span<const std::uint8_t>(record);
    for (const auto& blob : distinct)
      if (platform::resource_name_equal(blob.name, name)) return std::span<const std::uint8_t>(blob.bytes);
    return std::nullopt;
  };
  check(platform::check_package_files(lookup, names).empty());
  for (auto& blob : distinct) {
    if (blob.bytes.empty()) continue;
    blob.bytes[blob.bytes.size() / 2] ^= 0x01;
    check(platform::check_package_files(lookup, names).size() == 1);
    blob.bytes[blob.bytes.size() / 2] ^= 0x01;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  parse_as_executable({data, size});
  parse_as_record({data, size});
  if (size >= platform::RESOURCE_FOOTER_SIZE) {
    std::vector<std::uint8_t> file(data, data + size);  // exact size: a read past it shows
    std::memcpy(file.data() + size - 8, "PKUPRSRC", 8);
    parse_as_executable(file);
  }
  FuzzedDataProvider input(data, size);
  round_trip(input);
  return 0;
}
