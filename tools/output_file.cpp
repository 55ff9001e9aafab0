#include "tools/output_file.h"

#include "tools/utf8_paths.h"

namespace tools {

namespace {

class BytesProducer final : public platform::FileProducer {
 public:
  explicit BytesProducer(platform::ByteView bytes) : bytes_(bytes) {}
  bool produce(platform::FileWriter& writer) override { return writer.write(bytes_.data(), bytes_.size()); }

 private:
  platform::ByteView bytes_;
};

const char* status_text(platform::WriteStatus status) {
  switch (status) {
    case platform::WriteStatus::ok:
      return "";
    case platform::WriteStatus::cannot_open:
      return "cannot create or replace the file (no such folder, no access, or not a file)";
    case platform::WriteStatus::write_failed:
      return "writing or flushing failed (disk full, file too large, or an I/O error)";
    case platform::WriteStatus::link_in_way:
      return "a symbolic link is in the way: not written through it";
    case platform::WriteStatus::bad_path:
      return "not a usable path";
    case platform::WriteStatus::not_a_file:
      return "a folder stands where the file should be";
    case platform::WriteStatus::not_a_folder:
      return "a file stands where a folder on the way should be";
  }
  return "failed";
}

}  // namespace

bool write_output_file(const std::string& path, platform::FileProducer& producer, std::string& error,
                       platform::FileMode mode) {
  std::string system;
  if (!to_system(path, system)) {
    error = "the path has characters outside code page 950";
    return false;
  }
  const platform::WriteStatus status = platform::write_file_replacing(system, producer, mode);
  error = status_text(status);
  return status == platform::WriteStatus::ok;
}

bool write_output_file(const std::string& path, platform::ByteView bytes, std::string& error, platform::FileMode mode) {
  BytesProducer producer(bytes);
  return write_output_file(path, producer, error, mode);
}

}  // namespace tools
