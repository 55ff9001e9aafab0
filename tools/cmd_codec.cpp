// pak encode IN OUT / pak decode IN OUT: one EnCode stream per file; "-" is
// stdin or stdout. OUT is written through the tool's durable write path
// (tools/output_file.h): it takes its name only when everything succeeded, so a
// failure leaves the old OUT or none. A decode streams its output into that file or
// the pipe: memory stays bounded whatever the stream claims.

#include <algorithm>
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
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "encode/decoded_sink.h"
#include "encode/decoder.h"
#include "encode/encoder.h"
#include "encode/stream_decoder.h"
#include "tools/command_registry.h"
#include "tools/level_option.h"
#include "tools/output_file.h"
#include "tools/utf8_paths.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void fail(const std::string& message) { std::cerr << "pak: " << message << "\n"; }

// A command's input, whole: a regular file mapped where the system allows (its pages
// are the page cache's, nothing is copied), or bytes read into memory.
class Input {
 public:
  Input() = default;
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;
  ~Input() {
#ifndef _WIN32
    if (mapped_ != nullptr) ::munmap(mapped_, size_);
#endif
  }

  const std::uint8_t* data() const {
    return mapped_ != nullptr ? static_cast<const std::uint8_t*>(mapped_) : bytes_.data();
  }
  std::size_t size() const { return mapped_ != nullptr ? size_ : bytes_.size(); }

  bool read_stdin() {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    char buffer[1 << 16];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) != 0) bytes_.insert(bytes_.end(), buffer, buffer + got);
    return !std::ferror(stdin);
  }

  // Takes a whole regular file. Anything else (a directory, a FIFO, a device) is
  // refused before a byte is read; opening never waits for a writer. Sets `problem`
  // on failure.
  bool read_regular_file(const std::string& path, std::string& problem) {
#ifdef _WIN32
    std::error_code error;
    const std::filesystem::path native = tools::utf8_path(path);
    if (!std::filesystem::is_regular_file(native, error)) {
      problem = error ? error.message() : "not a regular file";
      return false;
    }
    std::ifstream in(native, std::ios::binary);
    if (!in) {
      problem = "cannot open";
      return false;
    }
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) bytes_.insert(bytes_.end(), buffer, buffer + in.gcount());
    if (in.bad()) {
      problem = "read error";
      return false;
    }
    return true;
#else
    // O_NONBLOCK: opening a FIFO must not wait for a writer; fstat then refuses it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      problem = std::strerror(errno);
      return false;
    }
    struct Closer {
      int fd;
      ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info;
    if (::fstat(fd, &info) != 0) {
      problem = std::strerror(errno);
      return false;
    }
    if (!S_ISREG(info.st_mode)) {
      problem = S_ISDIR(info.st_mode) ? "is a directory" : "not a regular file";
      return false;
    }
    const std::size_t size = static_cast<std::size_t>(info.st_size);
    if (size != 0) {
      // Mapped with its pages entered at once: no copy, and no fault per page.
      void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
      if (mapped != MAP_FAILED) {
        mapped_ = mapped;
        size_ = size;
        return true;
      }
    }
    // Read instead (a file system without mappings): straight into the buffer, which
    // grows if the file does.
    bytes_.resize(std::max<std::size_t>(size, 1 << 16));
    std::size_t have = 0;
    for (;;) {
      if (have == bytes_.size()) bytes_.resize(2 * have);
      const ssize_t got = ::read(fd, bytes_.data() + have, bytes_.size() - have);
      if (got == 0) break;
      if (got < 0) {
        if (errno == EINTR) continue;
        problem = std::strerror(errno);
        return false;
      }
      have += static_cast<std::size_t>(got);
    }
    bytes_.resize(have);
    return true;
#endif
  }

 private:
  Bytes bytes_;
  void* mapped_ = nullptr;
  std::size_t size_ = 0;
};

bool read_input(const std::string& path, Input& input) {
  if (path == "-") {
    if (!input.read_stdin()) return fail("cannot read the standard input"), false;
    return true;
  }
  std::string problem;
  if (!input.read_regular_file(path, problem)) return fail("cannot read " + path + ": " + problem), false;
  return true;
}

// The standard output as a stream (OUT "-"), switched to binary on Windows.
class StandardOutput final : public DecodedSink {
 public:
  StandardOutput() {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
  }
  bool write(const std::uint8_t* data, std::size_t size) override { return std::fwrite(data, 1, size, stdout) == size; }
  bool finish() { return std::fflush(stdout) == 0 && !std::ferror(stdout); }
};

// Decodes a stream into the file being written; result tells why it stopped. A
// stream that fails leaves no file (the write path drops the temporary file).
class DecodedFile final : public platform::FileProducer {
 public:
  DecodedFile(const std::uint8_t* stream, std::size_t size) : stream_(stream), size_(size) {}
  bool produce(platform::FileWriter& writer) override {
    struct Sink final : DecodedSink {
      explicit Sink(platform::FileWriter& writer) : writer(writer) {}
      bool write(const std::uint8_t* data, std::size_t size) override { return writer.write(data, size); }
      platform::FileWriter& writer;
    } sink(writer);
    result = decode_stream_to(sink, stream_, size_);
    return result.ok();
  }
  DecodeResult result;

 private:
  const std::uint8_t* stream_;
  std::size_t size_;
};

bool cannot_write(const std::string& out_path, const std::string& why) {
  fail("cannot write " + out_path + (why.empty() ? "" : ": " + why));
  return false;
}

int run_encode(const std::string& in_path, const std::string& out_path, EncodeLevel level) {
  Input input;
  if (!read_input(in_path, input)) return 1;
  if (input.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return fail(in_path + ": too large for one stream (2 GiB at most)"), 1;
  }
  MemorySink sink;
  encode_stream(sink, input.data(), static_cast<std::int32_t>(input.size()), level);
  if (sink.failed()) return fail("out of memory encoding " + in_path), 1;
  if (out_path == "-") {
    StandardOutput output;
    if (!output.write(sink.bytes().data(), sink.bytes().size()) || !output.finish()) return cannot_write("-", {}), 1;
    return 0;
  }
  std::string error;
  if (!tools::write_output_file(out_path, sink.bytes(), error)) return cannot_write(out_path, error), 1;
  return 0;
}

int run_decode(const std::string& in_path, const std::string& out_path) {
  Input input;
  if (!read_input(in_path, input)) return 1;
  // The header first: a stream that cannot be decoded creates no output file.
  StreamHeader header;
  DecodeResult result = read_stream_header(input.data(), input.size(), header);
  if (!result.ok()) {
    return fail(in_path + ": " + decode_status_text(result.status) + " at offset " + std::to_string(result.offset)), 1;
  }
  std::string error;
  bool written = true;
  if (out_path == "-") {
    StandardOutput output;
    result = decode_stream_to(output, input.data(), input.size());
    written = result.status != DecodeStatus::sink_refused && output.finish();
  } else {
    DecodedFile output(input.data(), input.size());
    written = tools::write_output_file(out_path, output, error);
    result = output.result;
  }
  if (!result.ok() && result.status != DecodeStatus::sink_refused) {
    return fail(in_path + ": " + decode_status_text(result.status) + " at offset " + std::to_string(result.offset)), 1;
  }
  if (!written) return cannot_write(out_path, error), 1;
  if (header.stream_size < input.size()) {
    // Bytes after the stream are not ours to judge; say so rather than drop them silently.
    std::cerr << "pak: " << in_path << ": warning: " << input.size() - header.stream_size
              << " bytes after the end of the stream ignored\n";
  }
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
