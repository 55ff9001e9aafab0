#pragma once
// Reading input files named on the command line (native paths).

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tools {

// Reads the whole regular file at path into bytes. Anything else is refused without
// being read and without blocking: a directory, FIFO, socket or device gives the error
// "not a regular file" (a FIFO is opened non-blocking, so no writer is waited for).
// On failure returns false with a short lower-case error text for "pak: PATH: TEXT".
bool read_regular_file(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes, std::string& error);

}  // namespace tools
