#pragma once
// The files that pak commands write under a name the user gives (OUT arguments): each
// through the platform's one durable write path (platform::write_file_replacing), so
// that OUT is the old file or the whole new one, never partial, never written through a
// link, and on disk once the command reports success.

#include <string>

#include "platform/files.h"
#include "platform/write_folder.h"

namespace tools {

// Writes the file at path (UTF-8, as the tool gets it) with the producer's content.
// On failure returns false with a short lower-case error text for
// "pak: cannot write PATH: TEXT"; the old file, if any, stays as it was.
bool write_output_file(const std::string& path, platform::FileProducer& producer, std::string& error,
                       platform::FileMode mode = platform::FileMode::keep);
bool write_output_file(const std::string& path, platform::ByteView bytes, std::string& error,
                       platform::FileMode mode = platform::FileMode::keep);

}  // namespace tools
