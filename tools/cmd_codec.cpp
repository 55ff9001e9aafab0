// pak encode IN OUT / pak decode IN OUT: one EnCode stream per file; "-" is
// stdin or stdout. OUT is written beside itself under a temporary name and renamed
// into place only when everything succeeded, so a failure leaves no OUT behind.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "encode/decoder.h"
#include "encode/encoder.h"
#include "tools/command_registry.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void fail(const std::string& message) { std::cerr << "pak: " << message << "\n"; }

std::optional<Bytes> read_input(const std::string& path) {
  if (path == "-") {
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
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) return std::nullopt;
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

bool write_output(const std::string& path, const std::uint8_t* data, std::size_t size) {
  if (path == "-") {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    return std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0;
  }
  const std::filesystem::path target = std::filesystem::path(path);
  std::filesystem::path temporary = target;
  temporary += ".pak-tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (out) out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (out) out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, target, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    return false;
  }
  return true;
}

int run_encode(const std::string& in_path, const std::string& out_path) {
  const std::optional<Bytes> input = read_input(in_path);
  if (!input) return fail("cannot read " + in_path), 1;
  if (input->size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return fail(in_path + ": too large for one stream (2 GiB at most)"), 1;
  }
  MemorySink sink;
  encode_stream(sink, input->data(), static_cast<std::int32_t>(input->size()));
  if (sink.failed()) return fail("out of memory encoding " + in_path), 1;
  if (!write_output(out_path, sink.bytes().data(), sink.bytes().size())) return fail("cannot write " + out_path), 1;
  return 0;
}

int run_decode(const std::string& in_path, const std::string& out_path) {
  const std::optional<Bytes> input = read_input(in_path);
  if (!input) return fail("cannot read " + in_path), 1;
  // Check the header first: an absurd decoded_size is refused before allocating.
  StreamHeader header;
  DecodeResult result = read_stream_header(input->data(), input->size(), header);
  Bytes output;
  if (result.ok()) {
    output.resize(header.decoded_size);
    result = decode_stream(output.data(), output.size(), input->data(), input->size());
  }
  if (!result.ok()) {
    return fail(in_path + ": " + decode_status_text(result.status) + " at offset " + std::to_string(result.offset)), 1;
  }
  if (header.stream_size < input->size()) {
    // Bytes after the stream are not ours to judge; say so rather than drop them silently.
    std::cerr << "pak: " << in_path << ": warning: " << input->size() - header.stream_size
              << " bytes after the end of the stream ignored\n";
  }
  if (!write_output(out_path, output.data(), output.size())) return fail("cannot write " + out_path), 1;
  return 0;
}

void add_codec_commands(CLI::App& app, int& exit_code) {
  struct Paths {
    std::string in, out;
  };
  static Paths encode_paths, decode_paths;

  CLI::App* encode = app.add_subcommand("encode", "Compress a file into one EnCode stream");
  encode->add_option("IN", encode_paths.in, "input file, - for stdin")->required();
  encode->add_option("OUT", encode_paths.out, "output file, - for stdout")->required();
  encode->callback([&exit_code] { exit_code = run_encode(encode_paths.in, encode_paths.out); });

  CLI::App* decode = app.add_subcommand("decode", "Decode one EnCode stream into a file");
  decode->add_option("IN", decode_paths.in, "input stream, - for stdin")->required();
  decode->add_option("OUT", decode_paths.out, "output file, - for stdout")->required();
  decode->callback([&exit_code] { exit_code = run_decode(decode_paths.in, decode_paths.out); });
}

CommandRegistration registration{20, add_codec_commands};

}  // namespace
