#include "pak/pack_walk.h"

namespace pak {
namespace {

class Walker {
 public:
  Walker(const std::uint8_t* view, std::size_t view_size, const WalkCallbacks& callbacks)
      : view_(view), view_size_(view_size), callbacks_(callbacks) {}

  bool run() {
    auto root = DirectoryView::at(view_, view_size_, 0);
    if (!root) {
      problem(0, "root directory table does not fit in the pack");
      return false;
    }
    path_.reserve(PAK_MAX_PATH_LENGTH + PAK_NAME_SIZE);
    walk(*root, view_size_);
    return sound_;
  }

 private:
  void problem(std::uint64_t offset, std::string text) {
    sound_ = false;
    if (callbacks_.on_problem) callbacks_.on_problem({path_, offset, std::move(text)});
  }

  // Walks block, whose stretch ends at stretch_end; path_ holds its full path.
  void walk(const DirectoryView& block, std::uint64_t stretch_end) {
    // Sound directories never share bytes, so their tables together fit in the pack;
    // more means shared blocks, which could make the walk take exponential time.
    table_bytes_ += block.table_end() - block.offset();
    if (table_bytes_ > view_size_) {
      problem(block.offset(), "directory tables overlap: blocks are shared");
      stopped_ = true;
      return;
    }
    if (!ancestors_.push(block)) {
      problem(block.offset(), "directories nested too deep");
      return;
    }
    if (callbacks_.on_directory) callbacks_.on_directory({path_, block, stretch_end});
    const std::size_t prefix = path_.size();
    for (std::uint32_t i = 0; i + 1 < block.count() && !stopped_; ++i) {
      visit(block, i);
      path_.resize(prefix);
    }
    ancestors_.pop();
  }

  void visit(const DirectoryView& block, std::uint32_t index) {
    const std::uint64_t record = block.record(index) - view_;
    const auto name = block.name(index);
    if (!name) {
      problem(record, "record name has no NUL within its 32 bytes");
      return;
    }
    if (name->empty()) {
      problem(record, "record " + std::to_string(index) + " of " + std::to_string(block.count()) +
                          " has an empty name but is not the end record");
      return;
    }
    path_ += *name;
    if (path_.size() > PAK_MAX_PATH_LENGTH) {
      problem(record, "full path longer than " + std::to_string(PAK_MAX_PATH_LENGTH) + " bytes");
      return;
    }
    if (classify_name(name) == NameKind::directory) {
      const Subdirectory sub = enter_subdirectory(block, index, ancestors_);
      switch (sub.status) {
        case SubdirectoryStatus::empty:
          return;
        case SubdirectoryStatus::damaged:
          problem(record,
                  "directory block at " + std::to_string(block.record_offset(index)) + " does not fit in the pack");
          return;
        case SubdirectoryStatus::cycle:
          problem(record, "directory block at " + std::to_string(block.record_offset(index)) +
                              " overlaps an enclosing directory's table (a loop)");
          return;
        case SubdirectoryStatus::ok:
          walk(*sub.block, block.record_offset(index + 1));
          return;
      }
      return;
    }
    const auto bytes = block.stretch(index);
    if (!bytes) {
      problem(record, "entry bytes [" + std::to_string(block.record_offset(index)) + ", " +
                          std::to_string(block.record_offset(index + 1)) + ") do not lie in the pack");
      return;
    }
    if (callbacks_.on_entry) callbacks_.on_entry({path_, *bytes, static_cast<std::uint32_t>(record)});
  }

  const std::uint8_t* view_;
  std::size_t view_size_;
  const WalkCallbacks& callbacks_;
  AncestorChain ancestors_;
  std::string path_;
  std::uint64_t table_bytes_ = 0;
  bool sound_ = true;
  bool stopped_ = false;
};

}  // namespace

bool walk_pack(const std::uint8_t* view, std::size_t view_size, const WalkCallbacks& callbacks) {
  return Walker(view, view_size, callbacks).run();
}

}  // namespace pak
