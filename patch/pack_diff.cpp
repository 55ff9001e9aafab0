#include "patch/pack_diff.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "pak/entry_decoding.h"
#include "pak/pack_walk.h"

namespace patch {

// The pack code's streams, walks and views.
using namespace pak;

namespace {

// Entries decoding to more than this are compared a window at a time, each window
// decoded again from the stream's start: bounded memory for the rare huge entry.
constexpr std::uint64_t COMPARE_WINDOW = 16 * 1024 * 1024;

// Keeps the decoded bytes [begin, end) of a stream; unless the window is the last,
// refuses more once it has them, so decoding stops early.
class WindowSink final : public DecodedSink {
 public:
  WindowSink(std::uint64_t begin, std::uint64_t end, bool last, std::vector<std::uint8_t>& out)
      : begin_(begin), end_(end), last_(last), out_(out) {
    out_.clear();
  }
  bool write(const std::uint8_t* data, std::size_t size) override {
    const std::uint64_t from = std::max(begin_, position_);
    const std::uint64_t to = std::min(end_, position_ + size);
    if (from < to) out_.insert(out_.end(), data + (from - position_), data + (to - position_));
    position_ += size;
    return last_ || position_ < end_;
  }
  bool complete() const { return position_ >= end_; }

 private:
  std::uint64_t begin_, end_, position_ = 0;
  bool last_;
  std::vector<std::uint8_t>& out_;
};

// Compares decoded bytes against raw ones as they come.
class CompareSink final : public DecodedSink {
 public:
  explicit CompareSink(ByteView expected) : expected_(expected) {}
  bool write(const std::uint8_t* data, std::size_t size) override {
    if (position_ + size > expected_.size() || std::memcmp(expected_.data() + position_, data, size) != 0) {
      differs_ = true;
      return false;
    }
    position_ += size;
    return true;
  }
  bool differs() const { return differs_; }

 private:
  ByteView expected_;
  std::uint64_t position_ = 0;
  bool differs_ = false;
};

std::uint64_t decoded_length(ByteView entry) { return looks_encoded(entry) ? encoded_size(entry) : entry.size(); }

// One window of a stream's decoded bytes; false when the stream breaks before the
// window ends or, for the last window, anywhere.
bool decode_window(ByteView entry, std::uint64_t begin, std::uint64_t end, bool last, std::vector<std::uint8_t>& out) {
  WindowSink sink(begin, end, last, out);
  const StreamedEntry decoded = decode_entry_to(entry, sink);
  if (last) return decoded.ok;
  return sink.complete() && (decoded.ok || decoded.sink_refused);
}

struct OldEntry {
  ByteView bytes;
  bool seen = false;  // the new pack has it
};

}  // namespace

bool PackDifference::new_pack_sound() const {
  return std::none_of(problems.begin(), problems.end(), [](const DiffProblem& p) { return p.in_new; });
}

bool same_decoded_bytes(ByteView a, ByteView b) {
  const bool a_encoded = looks_encoded(a);
  const bool b_encoded = looks_encoded(b);
  if (!a_encoded && !b_encoded) return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size()) == 0;
  const std::uint64_t size = decoded_length(a);
  if (size != decoded_length(b)) return false;
  if (!a_encoded || !b_encoded) {
    const ByteView raw = a_encoded ? b : a;
    CompareSink sink(raw);
    const StreamedEntry decoded = decode_entry_to(a_encoded ? a : b, sink);
    return decoded.ok && !sink.differs();
  }
  std::vector<std::uint8_t> window_a, window_b;
  std::uint64_t begin = 0;
  do {
    const std::uint64_t end = std::min(size, begin + COMPARE_WINDOW);
    const bool last = end == size;
    if (!decode_window(a, begin, end, last, window_a) || !decode_window(b, begin, end, last, window_b)) return false;
    if (window_a != window_b) return false;
    begin = end;
  } while (begin < size);
  return true;
}

PackDifference diff_packs(ByteView old_pack, ByteView new_pack, const DiffProgress& progress) {
  PackDifference result;

  // The old pack: every file entry by path, and every path in table order.
  std::unordered_map<std::string, OldEntry> old_files;
  std::unordered_set<std::string> old_directories;
  std::vector<std::string> old_order;
  WalkCallbacks old_walk;
  old_walk.on_entry = [&](const WalkEntry& entry) {
    old_files.emplace(std::string(entry.path), OldEntry{entry.bytes});
    old_order.emplace_back(entry.path);
  };
  old_walk.on_directory = [&](const WalkDirectory& directory) {
    if (directory.path.empty()) return;
    old_directories.emplace(directory.path);
    old_order.emplace_back(directory.path);
  };
  old_walk.on_problem = [&](const WalkProblem& problem) {
    result.problems.push_back({false, problem.path, problem.text});
  };
  walk_pack(old_pack.data(), old_pack.size(), old_walk);

  // The new pack, counted first for the progress.
  std::uint64_t total = 0;
  if (progress) {
    WalkCallbacks count;
    count.on_entry = [&](const WalkEntry&) { ++total; };
    walk_pack(new_pack.data(), new_pack.size(), count);
  }
  std::unordered_set<std::string> new_directories;
  std::uint64_t done = 0;
  WalkCallbacks new_walk;
  new_walk.on_directory = [&](const WalkDirectory& directory) {
    if (directory.path.empty()) return;
    new_directories.emplace(directory.path);
    if (!old_directories.contains(std::string(directory.path))) result.added_directories.emplace_back(directory.path);
  };
  new_walk.on_entry = [&](const WalkEntry& entry) {
    const std::string path(entry.path);
    const auto old = old_files.find(path);
    bool changed = true;
    if (old != old_files.end()) {
      old->second.seen = true;
      ++result.entries_compared;
      const ByteView before = old->second.bytes;
      changed = !(before.size() == entry.bytes.size() &&
                  std::memcmp(before.data(), entry.bytes.data(), before.size()) == 0) &&
                !same_decoded_bytes(before, entry.bytes);
    }
    if (changed) {
      // The installer refuses a stream that does not decode, so the package must not
      // carry one.
      if (looks_encoded(entry.bytes)) {
        const StreamedEntry checked = check_entry_stream(entry.bytes);
        if (!checked.ok) result.problems.push_back({true, path, checked.problem});
      }
      result.changed.push_back({path, entry.bytes, old == old_files.end()});
    }
    if (progress) progress(++done, total);
  };
  new_walk.on_problem = [&](const WalkProblem& problem) {
    result.problems.push_back({true, problem.path, problem.text});
  };
  walk_pack(new_pack.data(), new_pack.size(), new_walk);

  // Removed: what the new pack lacks, a directory standing for all below it.
  std::vector<std::string> removed_directories;  // the removed ones on the current branch
  for (const std::string& path : old_order) {
    const bool is_directory = !path.empty() && ends_in_separator(path);
    const bool kept = is_directory ? new_directories.contains(path) : old_files.at(path).seen;
    if (kept) continue;
    // The table order visits a directory right before everything below it, so only
    // the removed directories on this branch can hold the path.
    while (!removed_directories.empty() && !path.starts_with(removed_directories.back()))
      removed_directories.pop_back();
    if (!removed_directories.empty()) continue;
    result.removed.push_back(path);
    if (is_directory) removed_directories.push_back(path);
  }
  return result;
}

}  // namespace patch
