#include "pak/path_lookup.h"

#include "platform/codepage.h"

namespace pak {

std::optional<FoundRecord> lookup_path(const std::uint8_t* view, std::size_t view_size, std::string_view path) {
  if (path.empty() || path.size() > PAK_MAX_PATH_LENGTH) return std::nullopt;
  auto directory = DirectoryView::at(view, view_size, 0);
  if (!directory) return std::nullopt;
  AncestorChain ancestors;
  ancestors.push(*directory);
  std::size_t position = 0;
  for (;;) {
    const std::size_t separator = platform::find_separator(path, position);
    const bool last = separator + 1 >= path.size();
    const std::size_t end = separator == path.size() ? separator : separator + 1;
    const auto index = directory->find(path.substr(position, end - position));
    if (!index) return std::nullopt;
    const NameKind kind = directory->kind(*index);
    if (kind != NameKind::file && kind != NameKind::directory) return std::nullopt;
    if (kind == NameKind::file) {
      // A file name matched a component without a separator; it must be the last.
      if (!last || !directory->stretch(*index)) return std::nullopt;
      return FoundRecord{*directory, *index, kind};
    }
    const Subdirectory sub = enter_subdirectory(*directory, *index, ancestors);
    if (sub.status == SubdirectoryStatus::damaged || sub.status == SubdirectoryStatus::cycle) return std::nullopt;
    if (last) return FoundRecord{*directory, *index, kind};
    if (sub.status == SubdirectoryStatus::empty || !ancestors.push(*sub.block)) return std::nullopt;
    directory = sub.block;
    position = end;
  }
}

}  // namespace pak
