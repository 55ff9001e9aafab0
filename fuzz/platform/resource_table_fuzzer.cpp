// The package table appended to the installer. Arbitrary bytes are read as the
// executable, once as they are and once with the table's magic forced into their last
// bytes; whatever the reader accepts must lie inside the file. Then blobs made from the
// input are appended to a program made from the input and must read back equal; a
// second append of the same blobs must give the same file.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

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
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  parse_as_executable({data, size});
  if (size >= platform::RESOURCE_FOOTER_SIZE) {
    std::vector<std::uint8_t> file(data, data + size);  // exact size: a read past it shows
    std::memcpy(file.data() + size - 8, "PKUPRSRC", 8);
    parse_as_executable(file);
  }
  FuzzedDataProvider input(data, size);
  round_trip(input);
  return 0;
}
