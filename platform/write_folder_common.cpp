// What the write folder backends share: names, whole-buffer writes, and the
// replacement of a file named by its own path.

#include <cstdio>
#include <random>
#include <utility>

#include "platform/codepage.h"
#include "platform/write_batch.h"
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

bool split_relative_levels(std::string_view relative, std::vector<std::string>& levels) {
  levels.clear();
  std::size_t start = 0;
  while (start <= relative.size()) {
    const std::size_t end = find_separator(relative, start);
    const std::string_view level = relative.substr(start, end - start);
    if (level.empty() || level == "." || level == ".." || level.find('/') != std::string_view::npos) return false;
    levels.emplace_back(level);
    start = end + 1;
  }
  return true;
}

void WriteFolder::keep_listings_for_removals(bool on) {
  keep_listings_ = on;
  removal_names_.clear();
}

WriteStatus WriteFolder::write_file(std::string_view relative, ByteView data, FileMode mode) {
  BytesProducer producer(data);
  return write_file(relative, producer, mode);
}

WriteStatus WriteFolder::write_file(std::string_view relative, FileProducer& producer, FileMode mode) {
  WriteBatch batch(*this);
  const WriteStatus status = batch.write_file(relative, producer, {}, mode);
  if (status != WriteStatus::ok) return status;
  if (batch.commit()) return WriteStatus::ok;
  const std::vector<WriteBatch::Failure> failures = batch.take_failures();
  return failures.empty() ? WriteStatus::write_failed : failures.front().status;
}

WriteStatus write_file_replacing(const std::string& path, FileProducer& producer, FileMode mode) {
  // The file's own folder confines the write; its name is one level below it.
  const std::size_t last = find_last_separator(path, true);
  std::string directory = last == std::string::npos ? "." : path.substr(0, last == 0 ? 1 : last);
  if (directory.size() == 2 && directory[1] == ':') directory += '\\';
  WriteFolder folder;
  if (folder.open(directory) != WriteFolder::Status::ok) return WriteStatus::cannot_open;
  return folder.write_file(std::string_view(path).substr(last == std::string::npos ? 0 : last + 1), producer, mode);
}

WriteStatus write_file_replacing(const std::string& path, ByteView data, FileMode mode) {
  BytesProducer producer(data);
  return write_file_replacing(path, producer, mode);
}

WriteStatus WriteBatch::write_file(std::string_view relative, ByteView data, std::string label, FileMode mode) {
  BytesProducer producer(data);
  return write_file(relative, producer, std::move(label), mode);
}

WriteBatch::Directory& WriteBatch::directory_entry(const std::string& relative) {
  auto [found, added] = directory_index_.try_emplace(relative, directories_.size());
  if (added) directories_.push_back(Directory{relative, {}});
  return directories_[found->second];
}

std::vector<WriteBatch::Failure> WriteBatch::take_failures() { return std::exchange(failures_, {}); }

namespace {

constexpr std::size_t TAG_DIGITS = 8;

bool is_tag(std::string_view digits) {
  if (digits.size() != TAG_DIGITS) return false;
  for (char c : digits)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::string tag_of(std::uint32_t value) {
  char digits[TAG_DIGITS + 1];
  std::snprintf(digits, sizeof digits, "%08x", unsigned(value));
  return digits;
}

// The check digits of a temporary name: FNV-1a over the name before them (prefix and
// random digits), offset by a constant of this program's own.
std::string check_of(std::string_view covered) {
  std::uint32_t hash = 0x811C9DC5u ^ 0x70616B75u;  // "paku"
  for (unsigned char c : covered) hash = (hash ^ c) * 0x01000193u;
  return tag_of(hash);
}

}  // namespace

bool is_own_temp_name(std::string_view name) {
  const std::string_view suffix = TEMP_FILE_SUFFIX;
  if (name.size() < 2 * TAG_DIGITS + suffix.size() || !name.ends_with(suffix)) return false;
  const std::string_view body = name.substr(0, name.size() - suffix.size());
  const std::string_view check = body.substr(body.size() - TAG_DIGITS);
  const std::string_view covered = body.substr(0, body.size() - TAG_DIGITS);
  return is_tag(covered.substr(covered.size() - TAG_DIGITS)) && is_tag(check) && check == check_of(covered);
}

bool is_legacy_temp_name(std::string_view name, std::string_view prefix) {
  const std::string_view suffix = TEMP_FILE_SUFFIX;
  return name.size() == prefix.size() + TAG_DIGITS + suffix.size() && name.starts_with(prefix) &&
         name.ends_with(suffix) && is_tag(name.substr(prefix.size(), TAG_DIGITS));
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
  std::string name(prefix);
  name += tag_of(std::uint32_t(random()));
  name += check_of(name);
  name += TEMP_FILE_SUFFIX;
  return name;
}

}  // namespace platform
