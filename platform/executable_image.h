#pragma once
// What an installer stub's file says about itself: whether it is an ELF or a PE
// executable, where the executable image ends (data beyond it was appended), and for
// PE whether it carries an Authenticode signature and the compiled-in update package.
// Pure byte parsing: every offset is checked against the file size.

#include <cstdint>
#include <optional>
#include <span>

namespace platform {

enum class ExecutableKind { elf, pe };

struct ExecutableImage {
  ExecutableKind kind = ExecutableKind::elf;
  // End of the bytes the executable format accounts for: headers, sections, symbol
  // tables. Anything between here and the end of the file (for a signed PE, the start
  // of the signature) was appended.
  std::uint64_t image_end = 0;
  // PE only: the attribute certificate table (Authenticode signature), 0 when unsigned.
  std::uint64_t signature_offset = 0;
  std::uint64_t signature_size = 0;
  // PE only: an RCDATA name "UPDATA.INI" lies in the image, so the update package is
  // compiled in as resources (it would take precedence over an appended one).
  bool has_compiled_package = false;
};

// Nothing when the bytes are neither a well-formed ELF nor PE file.
std::optional<ExecutableImage> inspect_executable(std::span<const std::uint8_t> file);

}  // namespace platform
