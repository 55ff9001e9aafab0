// What the write folder backends share: names, whole-buffer writes, and the
// replacement of a file named by its own path.

#include <cstdio>
#include <random>

#include "platform/codepage.h"
#include "platform/write_folder.h"

namespace platform {
namespace {

class BytesProducer final : public FileProducer {
 public:
  explicit BytesProducer(ByteView data) : data_(data) {}
  bool produce(FileWriter& writer) override { return writer.write(data_.data(), data_.size()); }

 private:
  ByteView data_;
};

}  // namespace

WriteStatus WriteFolder::write_file(std::string_view relative, ByteView data) {
  BytesProducer producer(data);
  return write_file(relative, producer);
}

WriteStatus write_file_replacing(const std::string& path, ByteView data) {
  // The file's own folder confines the write; its name is one level below it.
  const std::size_t last = find_last_separator(path, true);
  std::string directory = last == std::string::npos ? "." : path.substr(0, last == 0 ? 1 : last);
  if (directory.size() == 2 && directory[1] == ':') directory += '\\';
  WriteFolder folder;
  if (folder.open(directory) != WriteFolder::Status::ok) return WriteStatus::cannot_open;
  return folder.write_file(std::string_view(path).substr(last == std::string::npos ? 0 : last + 1), data);
}

std::string join_relative(std::string_view base, std::string_view name) {
  if (base.empty()) return std::string(name);
  if (name.empty()) return std::string(base);
  std::string joined(base);
  joined += '\\';
  joined += name;
  return joined;
}

std::string temp_file_name(std::string_view prefix) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", unsigned(random() & 0xFFFFFFFFu));
  std::string name(prefix);
  name += digits;
  name += TEMP_FILE_SUFFIX;
  return name;
}

}  // namespace platform
