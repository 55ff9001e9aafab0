#pragma once
// Bounds-checked access to the directory blocks of a pack held in memory. Every
// accessor here stays inside view[0..view_size): a block is handed out only when its
// whole table fits, and entry bytes only when their stretch lies inside the pack.
// Readers (lookup, load, walk, rebuild) use these instead of reading records raw.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "pak/pak_format.h"

namespace pak {

using ByteView = std::span<const std::uint8_t>;

// How a record's name says what it is.
enum class NameKind {
  file,       // non-empty, does not end in a backslash
  directory,  // ends in a backslash (that is not the trail byte of a double-byte character)
  end,        // empty: valid only as the last record of a block
  invalid,    // no NUL within the 32 bytes of the name field
};

// The stored name of a record (the bytes before its NUL), or nothing when the name
// field holds no NUL. record points at the 36 record bytes.
std::optional<std::string_view> record_name(const std::uint8_t* record);

// Kind of a name as returned by record_name (nothing: invalid).
NameKind classify_name(std::optional<std::string_view> name);

// True when the last byte of a non-empty name is a separating backslash: a 0x5C that
// closes a double-byte character (lead byte 0x81-0xFE) does not count.
bool ends_in_separator(std::string_view name);

// One directory block whose table (count, then count records) lies inside the pack.
class DirectoryView {
 public:
  // The block at offset inside view[0..view_size), or nothing when the count is 0 or
  // the table runs past view_size.
  static std::optional<DirectoryView> at(const std::uint8_t* view, std::size_t view_size, std::uint64_t offset);

  std::uint32_t offset() const { return offset_; }
  // Records in the table, end record included; at least 1.
  std::uint32_t count() const { return count_; }
  // First byte after the table: offset + 4 + 36 * count.
  std::uint64_t table_end() const { return std::uint64_t(offset_) + 4 + std::uint64_t(count_) * PAK_RECORD_SIZE; }
  const std::uint8_t* records() const { return view_ + offset_ + 4; }
  // Presumes index < count.
  const std::uint8_t* record(std::uint32_t index) const { return records() + std::size_t(index) * PAK_RECORD_SIZE; }
  std::uint32_t record_offset(std::uint32_t index) const { return load_u32(record(index)); }
  std::optional<std::string_view> name(std::uint32_t index) const { return record_name(record(index)); }
  NameKind kind(std::uint32_t index) const { return classify_name(name(index)); }
  // Next record's offset minus this record's; presumes index + 1 < count.
  std::int64_t span(std::uint32_t index) const {
    return std::int64_t(record_offset(index + 1)) - std::int64_t(record_offset(index));
  }

  // Index of the record among 0 to count - 2 whose name equals component, by binary
  // search in unsigned byte order; nothing when there is none. The end record never
  // takes part. An unsorted (damaged) table gives a wrong "not found", never a fault.
  std::optional<std::uint32_t> find(std::string_view component) const;

  // The bytes of record index (presumed < count - 1): [offset, next offset), or
  // nothing when the span is negative or the stretch ends past the pack.
  std::optional<ByteView> stretch(std::uint32_t index) const;

  const std::uint8_t* view() const { return view_; }
  std::size_t view_size() const { return view_size_; }

 private:
  DirectoryView(const std::uint8_t* view, std::size_t view_size, std::uint32_t offset, std::uint32_t count)
      : view_(view), view_size_(view_size), offset_(offset), count_(count) {}
  const std::uint8_t* view_;
  std::size_t view_size_;
  std::uint32_t offset_;
  std::uint32_t count_;
};

// What entering a subdirectory record gives.
enum class SubdirectoryStatus {
  ok,       // block is the nested directory
  empty,    // span of zero or less: an empty directory without a block
  damaged,  // the block's table does not fit in the pack
  cycle,    // the block overlaps the table of the directory itself or of one of its ancestors
};

struct Subdirectory {
  SubdirectoryStatus status;
  std::optional<DirectoryView> block;  // set for ok
};

// The chain of directory tables from the root down to the current directory, for the
// cycle check. Depth is bounded by the path limit (every level takes two bytes).
class AncestorChain {
 public:
  static constexpr std::size_t MAX_DEPTH = PAK_MAX_PATH_LENGTH / 2 + 2;
  // False when the chain is full (deeper than any path can reach).
  bool push(const DirectoryView& block);
  void pop() {
    if (depth_ > 0) --depth_;
  }
  std::size_t depth() const { return depth_; }
  // True when [begin, end) overlaps the table of a directory on the chain.
  bool overlaps(std::uint64_t begin, std::uint64_t end) const;

 private:
  std::uint64_t begin_[MAX_DEPTH] = {};
  std::uint64_t end_[MAX_DEPTH] = {};
  std::size_t depth_ = 0;
};

// Enters subdirectory record index (presumed < count - 1) of parent. ancestors holds
// the tables from the root to parent (parent included).
Subdirectory enter_subdirectory(const DirectoryView& parent, std::uint32_t index, const AncestorChain& ancestors);

// Whether an entry's bytes are an EnCode stream as the loader sees it: at least 10
// bytes (magic and decoded size) beginning with "EnCo".
bool looks_encoded(ByteView entry);

// The u32 decoded size at byte 6 of an entry for which looks_encoded holds.
inline std::uint32_t encoded_size(ByteView entry) { return load_u32(entry.data() + 6); }

}  // namespace pak
