// pak list PACK [--json], pak cat PACK PATH, pak verify PACK: look into a pack.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/package_check.h"
#include "encode/decoded_sink.h"
#include "pak/archive.h"
#include "pak/directory_view.h"
#include "pak/entry_decoding.h"
#include "pak/pack_checks.h"
#include "pak/pack_walk.h"
#include "pak/path_lookup.h"
#include "platform/codepage.h"
#include "platform/executable_image.h"
#include "platform/package_record.h"
#include "platform/resource_table.h"
#include "platform/text.h"
#include "tools/command_registry.h"
#include "tools/display_path.h"
#include "tools/entry_path_argument.h"
#include "tools/utf8_paths.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

class StandardOutputSink final : public DecodedSink {
 public:
  bool write(const std::uint8_t* data, std::size_t size) override { return std::fwrite(data, 1, size, stdout) == size; }
};

bool read_pack(const std::string& path, std::vector<std::uint8_t>& bytes) {
  std::error_code error;
  const std::filesystem::path native = tools::utf8_path(path);
  if (!std::filesystem::is_regular_file(native, error)) {
    std::cerr << "pak: cannot read " << path << "\n";
    return false;
  }
  std::ifstream in(native, std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in.eof() && in.fail()) {
    std::cerr << "pak: cannot read " << path << "\n";
    return false;
  }
  return true;
}

std::string problem_line(const pak::WalkProblem& problem) {
  const std::string where = problem.path.empty() ? "\\" : display_path(problem.path);
  return where + " (offset " + std::to_string(problem.offset) + "): " + problem.text;
}

int list(const std::string& pack_path, bool json) {
  std::vector<std::uint8_t> pack;
  if (!read_pack(pack_path, pack)) return 1;
  bool first = true;
  if (json) std::cout << "[";
  pak::WalkCallbacks callbacks;
  callbacks.on_entry = [&](const pak::WalkEntry& entry) {
    const bool encoded = pak::looks_encoded(entry.bytes);
    const std::uint64_t decoded = encoded ? pak::encoded_size(entry.bytes) : entry.bytes.size();
    const std::string path = display_path(entry.path);
    if (json) {
      std::cout << (first ? "\n" : ",\n") << "  {\"stored\": " << entry.bytes.size() << ", \"kind\": \""
                << (encoded ? "encode" : "raw") << "\", \"decoded\": " << decoded << ", \"path\": " << json_string(path)
                << "}";
    } else {
      std::cout << entry.bytes.size() << ' ' << (encoded ? "encode" : "raw") << ' ' << decoded << ' ' << path << '\n';
    }
    first = false;
  };
  callbacks.on_problem = [&](const pak::WalkProblem& problem) {
    std::cerr << "pak: " << pack_path << ": " << problem_line(problem) << "\n";
  };
  const bool sound = pak::walk_pack(pack.data(), pack.size(), callbacks);
  if (json) std::cout << (first ? "]\n" : "\n]\n");
  return sound ? 0 : 1;
}

int cat(const std::string& pack_path, const std::string& typed_path) {
  std::vector<std::uint8_t> pack;
  if (!read_pack(pack_path, pack)) return 1;
  PakArchive archive;
  if (archive.open_memory(pack.data(), pack.size(), 1) != 1) {
    std::cerr << "pak: " << pack_path << ": not a pack (its root table does not fit)\n";
    return 1;
  }
  const auto typed = entry_path_argument(typed_path);
  if (!typed) {
    std::cerr << "pak: " << typed_path << ": the path has characters outside code page 950\n";
    return 1;
  }
  std::string path = *typed;
  fold_name(path);
  const auto found = pak::lookup_path(pack.data(), pack.size(), path);
  if (!found || found->kind != pak::NameKind::file) {
    const bool present = archive.find_record(typed->c_str()) != nullptr;
    std::cerr << "pak: " << pack_path << ": " << typed_path
              << (present ? " is a directory or a damaged entry\n" : " is not in the pack\n");
    return 1;
  }
  const pak::ByteView entry = *found->directory.stretch(found->index);
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  if (!pak::looks_encoded(entry)) {
    if (std::fwrite(entry.data(), 1, entry.size(), stdout) != entry.size() || std::fflush(stdout) != 0) {
      std::cerr << "pak: cannot write to the standard output\n";
      return 1;
    }
    return 0;
  }
  // Decoded in chunks straight to the standard output: nothing of the size the stream
  // claims is held. A damaged stream ends the output early, with its problem on stderr.
  StandardOutputSink out;
  const pak::StreamedEntry decoded = pak::decode_entry_to(entry, out);
  if (decoded.sink_refused || std::fflush(stdout) != 0) {
    std::cerr << "pak: cannot write to the standard output\n";
    return 1;
  }
  if (!decoded.ok) {
    std::cerr << "pak: " << pack_path << ": " << typed_path << ": EnCode stream: " << decoded.problem << "\n";
    return 1;
  }
  return 0;
}

// pak verify of an installer: its appended package table, the checksum record against
// every file, and every pack inside. Problems go to stdout, one a line.
int verify_installer(const std::string& path, const std::vector<std::uint8_t>& file) {
  const platform::AttachedTable attached = platform::locate_attached_table(file);
  if (attached.state == platform::AttachedState::none) {
    std::cerr << "pak: " << path << ": an installer without an update package attached\n";
    return 1;
  }
  if (attached.state == platform::AttachedState::damaged) {
    std::cout << "package table: cut short or damaged\n";
    std::cerr << "pak: " << path << ": 1 problem\n";
    return 1;
  }
  auto lookup = [&](std::string_view name) -> std::optional<std::span<const std::uint8_t>> {
    for (const auto& entry : attached.table.entries)
      if (platform::resource_name_equal(entry.name, name))
        return std::span<const std::uint8_t>(file).subspan(std::size_t(entry.offset), std::size_t(entry.size));
    return std::nullopt;
  };
  // Whatever the installer would refuse, by the check it makes at start.
  platform::OwnTable table;
  for (const auto& entry : attached.table.entries) table.names.push_back(entry.name);
  const PackageVerdict verdict = check_package(lookup, table);
  std::vector<platform::PackageProblem> refused = verdict.problems;
  if (verdict.state == PackageVerdict::State::none) refused.push_back({"package table", "holds no files"});
  if (verdict.state == PackageVerdict::State::empty_configuration) refused.push_back({verdict.file, verdict.text});
  std::uint64_t problems = 0;
  for (const auto& problem : refused) {
    std::cout << display_path(problem.name) << ": " << problem.text << "\n";
    ++problems;
  }
  std::uint64_t packs = 0;
  for (const auto& entry : attached.table.entries) {
    const std::string& name = entry.name;
    if (name.size() < 4 || !platform::resource_name_equal(std::string_view(name).substr(name.size() - 4), ".pak"))
      continue;
    ++packs;
    // A pack already named above (missing, changed, no pack at all) is not walked again.
    const bool named = std::any_of(refused.begin(), refused.end(), [&](const platform::PackageProblem& problem) {
      return platform::resource_name_equal(problem.name, name);
    });
    if (named) continue;
    const auto bytes = *lookup(name);
    problems += pak::check_pack(bytes.data(), bytes.size(), [&](const pak::WalkProblem& problem) {
                  std::cout << display_path(name) << ": " << problem_line(problem) << "\n";
                }).problems;
  }
  if (problems != 0) {
    std::cerr << "pak: " << path << ": " << problems << " problem" << (problems == 1 ? "" : "s") << "\n";
    return 1;
  }
  std::cout << "ok: installer package of " << attached.table.entries.size() - 1 << " files, checksums match, " << packs
            << " pack" << (packs == 1 ? "" : "s") << " sound\n";
  return 0;
}

int verify(const std::string& pack_path) {
  std::vector<std::uint8_t> pack;
  if (!read_pack(pack_path, pack)) return 1;
  if (platform::inspect_executable(pack)) return verify_installer(pack_path, pack);
  const pak::PackCheckSummary summary = pak::check_pack(
      pack.data(), pack.size(), [](const pak::WalkProblem& problem) { std::cout << problem_line(problem) << "\n"; });
  if (summary.problems != 0) {
    std::cerr << "pak: " << pack_path << ": " << summary.problems << " problem" << (summary.problems == 1 ? "" : "s")
              << "\n";
    return 1;
  }
  std::cout << "ok: " << summary.files << " files (" << summary.encoded << " EnCode), " << summary.directories
            << " directories, " << summary.stored_bytes << " bytes stored, " << summary.decoded_bytes
            << " bytes decoded, pack " << pack.size() << " bytes\n";
  return 0;
}

void add_inspect_commands(CLI::App& app, int& exit_code) {
  static std::string list_pack, cat_pack, cat_path, verify_pack;
  static bool list_json = false;

  auto* list_command = app.add_subcommand(
      "list", "List the file entries of a pack: STORED KIND DECODED PATH, one line each, in walk order");
  list_command->add_option("PACK", list_pack, "the pack file")->required();
  list_command->add_flag("--json", list_json, "print a JSON array of {stored, kind, decoded, path} instead");
  list_command->callback([&exit_code] { exit_code = list(list_pack, list_json); });

  auto* cat_command = app.add_subcommand("cat", "Write an entry's bytes (decoded) to the standard output");
  cat_command->add_option("PACK", cat_pack, "the pack file")->required();
  cat_command->add_option("PATH", cat_path, "the entry's path inside the pack ('\\' or '/' between levels)")
      ->required();
  cat_command->callback([&exit_code] { exit_code = cat(cat_pack, cat_path); });

  auto* verify_command = app.add_subcommand(
      "verify",
      "Check a pack: bounds, table order, folded names, end records, every EnCode stream decoded; of a "
      "bundled installer: its package table, every file's checksum and every pack");
  verify_command->add_option("PACK", verify_pack, "the pack file, or a bundled installer")->required();
  verify_command->callback([&exit_code] { exit_code = verify(verify_pack); });
}

CommandRegistration registration{20, add_inspect_commands};

}  // namespace
