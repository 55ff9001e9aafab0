// pak encode IN OUT / pak decode IN OUT: one EnCode stream per file; "-" is
// stdin or stdout. OUT is written beside itself under a temporary name and renamed
// into place only when everything succeeded, so a failure leaves no OUT behind. A
// decode streams its output: memory stays bounded whatever the stream claims.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "encode/decoded_sink.h"
#include "encode/decoder.h"
#include "encode/encoder.h"
#include "encode/stream_decoder.h"
#include "tools/command_registry.h"
#include "tools/level_option.h"
#include "tools/utf8_paths.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void fail(const std::string& message) { std::cerr << "pak: " << message << "\n"; }

std::optional<Bytes> read_stdin() {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
#endif
  Bytes bytes;
  char buffer[1 << 16];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) != 0) bytes.insert(bytes.end(), buffer, buffer + got);
  if (std::ferror(stdin)) return std::nullopt;
  return bytes;
}

// Reads a whole regular file. Anything else (a directory, a FIFO, a device) is refused
// before a byte is read; opening never waits for a writer. Sets `problem` on failure.
std::optional<Bytes> read_regular_file(const std::string& path, std::string& problem) {
#ifdef _WIN32
  std::error_code error;
  const std::filesystem::path native = tools::utf8_path(path);
  if (!std::filesystem::is_regular_file(native, error)) {
    problem = error ? error.message() : "not a regular file";
    return std::nullopt;
  }
  std::ifstream in(native, std::ios::binary);
  if (!in) {
    problem = "cannot open";
    return std::nullopt;
  }
  Bytes bytes;
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) bytes.insert(bytes.end(), buffer, buffer + in.gcount());
  if (in.bad()) {
    problem = "read error";
    return std::nullopt;
  }
  return bytes;
#else
  // O_NONBLOCK: opening a FIFO must not wait for a writer; fstat then refuses it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    problem = std::strerror(errno);
    return std::nullopt;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    problem = std::strerror(errno);
    return std::nullopt;
  }
  if (!S_ISREG(info.st_mode)) {
    problem = S_ISDIR(info.st_mode) ? "is a directory" : "not a regular file";
    return std::nullopt;
  }
  Bytes bytes;
  bytes.reserve(static_cast<std::size_t>(info.st_size));
  std::uint8_t buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      problem = std::strerror(errno);
      return std::nullopt;
    }
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  return bytes;
#endif
}

std::optional<Bytes> read_input(const std::string& path) {
  if (path == "-") {
    std::optional<Bytes> bytes = read_stdin();
    if (!bytes) fail("cannot read the standard input");
    return bytes;
  }
  std::string problem;
  std::optional<Bytes> bytes = read_regular_file(path, problem);
  if (!bytes) fail("cannot read " + path + ": " + problem);
  return bytes;
}

// Where a command's output goes: the standard output, or a temporary file beside OUT
// that commit() renames over OUT. Destroyed without a successful commit, it removes
// the temporary file.
class Output final : public DecodedSink {
 public:
  explicit Output(const std::string& path) : path_(path) {
    if (path == "-") {
#ifdef _WIN32
      _setmode(_fileno(stdout), _O_BINARY);
#endif
      return;
    }
    temporary_ = tools::utf8_path(path);
    temporary_ += ".pak-tmp";
    file_.open(temporary_, std::ios::binary | std::ios::trunc);
    opened_ = true;
  }
  ~Output() override {
    if (!opened_) return;
    if (file_.is_open()) file_.close();
    std::error_code ignored;
    std::filesystem::remove(temporary_, ignored);
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  bool good() { return path_ == "-" || static_cast<bool>(file_); }
  bool write(const std::uint8_t* data, std::size_t size) override {
    if (path_ == "-") return std::fwrite(data, 1, size, stdout) == size;
    file_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(file_);
  }
  // Flushes and moves the output into place. False when that failed.
  bool commit() {
    if (path_ == "-") return std::fflush(stdout) == 0 && !std::ferror(stdout);
    file_.close();
    if (!file_) return false;
    std::error_code error;
    std::filesystem::rename(temporary_, tools::utf8_path(path_), error);
    if (error) return false;
    opened_ = false;
    return true;
  }

 private:
  std::string path_;
  std::filesystem::path temporary_;
  std::ofstream file_;
  bool opened_ = false;
};

int run_encode(const std::string& in_path, const std::string& out_path, EncodeLevel level) {
  const std::optional<Bytes> input = read_input(in_path);
  if (!input) return 1;
  if (input->size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return fail(in_path + ": too large for one stream (2 GiB at most)"), 1;
  }
  MemorySink sink;
  encode_stream(sink, input->data(), static_cast<std::int32_t>(input->size()), level);
  if (sink.failed()) return fail("out of memory encoding " + in_path), 1;
  Output output(out_path);
  if (!output.good() || !output.write(sink.bytes().data(), sink.bytes().size()) || !output.commit()) {
    return fail("cannot write " + out_path), 1;
  }
  return 0;
}

int run_decode(const std::string& in_path, const std::string& out_path) {
  const std::optional<Bytes> input = read_input(in_path);
  if (!input) return 1;
  // The header first: a stream that cannot be decoded creates no output file.
  StreamHeader header;
  DecodeResult result = read_stream_header(input->data(), input->size(), header);
  if (!result.ok()) {
    return fail(in_path + ": " + decode_status_text(result.status) + " at offset " + std::to_string(result.offset)), 1;
  }
  Output output(out_path);
  if (!output.good()) return fail("cannot write " + out_path), 1;
  result = decode_stream_to(output, input->data(), input->size());
  if (result.status == DecodeStatus::sink_refused) return fail("cannot write " + out_path), 1;
  if (!result.ok()) {
    return fail(in_path + ": " + decode_status_text(result.status) + " at offset " + std::to_string(result.offset)), 1;
  }
  if (header.stream_size < input->size()) {
    // Bytes after the stream are not ours to judge; say so rather than drop them silently.
    std::cerr << "pak: " << in_path << ": warning: " << input->size() - header.stream_size
              << " bytes after the end of the stream ignored\n";
  }
  if (!output.commit()) return fail("cannot write " + out_path), 1;
  return 0;
}

// Runs a command; an exception (out of memory, a file system error) becomes its one
// line of error and exit code 1.
template <typename Command>
int guarded(const Command& command) {
  try {
    return command();
  } catch (const std::exception& error) {
    fail(error.what());
  } catch (...) {
    fail("unexpected error");
  }
  return 1;
}

void add_codec_commands(CLI::App& app, int& exit_code) {
  struct Paths {
    std::string in, out;
  };
  static Paths encode_paths, decode_paths;
  static EncodeLevel level = EncodeLevel::exact;

  CLI::App* encode = app.add_subcommand("encode", "Compress a file into one EnCode stream");
  encode->add_option("IN", encode_paths.in, "input file, - for stdin")->required();
  encode->add_option("OUT", encode_paths.out, "output file, - for stdout")->required();
  tools::add_level_option(*encode, level);
  encode->callback(
      [&exit_code] { exit_code = guarded([] { return run_encode(encode_paths.in, encode_paths.out, level); }); });

  CLI::App* decode = app.add_subcommand("decode", "Decode one EnCode stream into a file");
  decode->add_option("IN", decode_paths.in, "input stream, - for stdin")->required();
  decode->add_option("OUT", decode_paths.out, "output file, - for stdout")->required();
  decode->callback([&exit_code] { exit_code = guarded([] { return run_decode(decode_paths.in, decode_paths.out); }); });
}

CommandRegistration registration{20, add_codec_commands};

}  // namespace
