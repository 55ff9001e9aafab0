#include "pak/directory_view.h"

#include <cstring>

#include "platform/codepage.h"

namespace pak {

std::optional<std::string_view> record_name(const std::uint8_t* record) {
  const char* name = reinterpret_cast<const char*>(record + 4);
  const void* nul = std::memchr(name, 0, PAK_NAME_SIZE);
  if (nul == nullptr) return std::nullopt;
  return std::string_view(name, static_cast<const char*>(nul) - name);
}

bool ends_in_separator(std::string_view name) {
  if (name.empty()) return false;
  return platform::find_last_separator(name) == name.size() - 1;
}

NameKind classify_name(std::optional<std::string_view> name) {
  if (!name) return NameKind::invalid;
  if (name->empty()) return NameKind::end;
  return ends_in_separator(*name) ? NameKind::directory : NameKind::file;
}

std::optional<DirectoryView> DirectoryView::at(const std::uint8_t* view, std::size_t view_size, std::uint64_t offset) {
  if (view == nullptr || offset > view_size || view_size - offset < 4) return std::nullopt;
  const std::uint32_t count = load_u32(view + offset);
  if (count == 0) return std::nullopt;
  const std::uint64_t table = 4 + std::uint64_t(count) * PAK_RECORD_SIZE;
  if (table > view_size - offset) return std::nullopt;
  return DirectoryView(view, view_size, static_cast<std::uint32_t>(offset), count);
}

namespace {

// Unsigned byte order; a prefix sorts first.
int compare_names(std::string_view a, std::string_view b) {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  const int order = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
  if (order != 0) return order;
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// The stored bytes of a name for ordering: up to the NUL, or all 32 when there is none.
std::string_view sort_key(const std::uint8_t* record) {
  const char* name = reinterpret_cast<const char*>(record + 4);
  const void* nul = std::memchr(name, 0, PAK_NAME_SIZE);
  return std::string_view(name, nul ? static_cast<const char*>(nul) - name : PAK_NAME_SIZE);
}

}  // namespace

std::optional<std::uint32_t> DirectoryView::find(std::string_view component) const {
  if (component.empty() || component.size() > PAK_MAX_NAME_LENGTH) return std::nullopt;
  std::uint32_t low = 0;
  std::uint32_t high = count_ - 1;  // records [low, high) remain; the end record is left out
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    const int order = compare_names(sort_key(record(middle)), component);
    if (order == 0) return middle;
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return std::nullopt;
}

std::optional<ByteView> DirectoryView::stretch(std::uint32_t index) const {
  const std::uint32_t begin = record_offset(index);
  const std::uint32_t end = record_offset(index + 1);
  if (end < begin || end > view_size_) return std::nullopt;
  return ByteView(view_ + begin, end - begin);
}

bool AncestorChain::push(const DirectoryView& block) {
  if (depth_ == MAX_DEPTH) return false;
  begin_[depth_] = block.offset();
  end_[depth_] = block.table_end();
  ++depth_;
  return true;
}

bool AncestorChain::overlaps(std::uint64_t begin, std::uint64_t end) const {
  for (std::size_t i = 0; i < depth_; ++i) {
    if (begin < end_[i] && begin_[i] < end) return true;
  }
  return false;
}

Subdirectory enter_subdirectory(const DirectoryView& parent, std::uint32_t index, const AncestorChain& ancestors) {
  if (parent.span(index) <= 0) return {SubdirectoryStatus::empty, std::nullopt};
  auto block = DirectoryView::at(parent.view(), parent.view_size(), parent.record_offset(index));
  if (!block) return {SubdirectoryStatus::damaged, std::nullopt};
  if (ancestors.overlaps(block->offset(), block->table_end())) return {SubdirectoryStatus::cycle, std::nullopt};
  return {SubdirectoryStatus::ok, block};
}

bool looks_encoded(ByteView entry) { return entry.size() >= 10 && std::memcmp(entry.data(), "EnCo", 4) == 0; }

}  // namespace pak
