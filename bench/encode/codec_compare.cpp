// Side-by-side speed of the EnCode codec and common codecs on the same files.
//
//   encode_codec_compare [--seconds S] [--check] [--encode-only | --decode-only] [--levels] FILE...
//   encode_codec_compare --write OUT FILE...
//
// A FILE of "gen:runs", "gen:ascending" or "gen:stairs" is generated here instead of
// read (see README.md). For every file it prints MB/s (input bytes per CPU second) of
// each codec and the compressed size, then the ratios that the project's speed goals
// are stated in, with their medians over the files. Every MB/s figure is the median of
// repeated runs; the decode/inflate, streaming/whole-buffer and encode/zlib-6 ratios
// are timed in pairs (see paired()).
//   --check        first compares every file's exact stream, whole, with the plain model
//                  encoder's, and stops with status 1 at the first difference
//   --encode-only  times only the exact encoder against zlib -6 (quick before/after runs)
//   --levels       adds the fast and best levels: sizes against the exact level, speed
//                  against zlib -6, the fast level timed in pairs as well
//   --decode-only  times only the decoders (whole-buffer, streaming, inflate) and the
//                  ratios between them (quick before/after runs of the decoder)
//   --write OUT    only writes the files, generated ones included, one after the other
//                  into OUT (the corpus as one file, for timing whole processes)

#include <lz4.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "encode/decoder.h"
#include "encode/encoder.h"
#include "encode/stream_decoder.h"
#include "tests/encode/model_encoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
double g_seconds = 0.5;
bool g_check = false;
bool g_encode_only = false;
bool g_levels = false;
bool g_decode_only = false;

Bytes generate(const std::string& name) {
  Bytes b;
  std::mt19937 rng(1);
  if (name == "gen:runs") {
    // Runs of 1 to 100,000 equal bytes between short stretches of text-like bytes.
    while (b.size() < (2u << 20)) {
      const std::size_t run = 1 + rng() % (rng() % 4 == 0 ? 100000 : 300);
      b.insert(b.end(), run, static_cast<std::uint8_t>(rng() % 4 == 0 ? 0 : rng()));
      for (unsigned i = rng() % 64; i > 0; --i) b.push_back(static_cast<std::uint8_t>('a' + rng() % 26));
    }
  } else if (name == "gen:ascending") {
    // A 32-bit big-endian counter: every key is greater than all before it, so the
    // match tree degenerates into one long right spine.
    for (std::uint32_t i = 0; b.size() < (1u << 20); ++i) {
      b.insert(b.end(), {static_cast<std::uint8_t>(i >> 24), static_cast<std::uint8_t>(i >> 16),
                         static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)});
    }
  } else if (name == "gen:stairs") {
    // Each byte value 16 times, 0 to 255 and again: the keys ascend across the whole
    // window, the worst shape for the match tree.
    for (std::size_t i = 0; i < (1u << 20); ++i) b.push_back(static_cast<std::uint8_t>(i / 16));
  }
  return b;
}

Bytes load(const std::string& path) {
  if (path.rfind("gen:", 0) == 0) return generate(path);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    std::exit(1);
  }
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Median CPU seconds of one call, repeating for about g_seconds of CPU time (at least
// three calls). CPU time rather than wall time: the machine may be shared.
double time_it(const std::function<void()>& run) {
  std::vector<double> times;
  const std::clock_t start = std::clock();
  do {
    const std::clock_t t0 = std::clock();
    run();
    times.push_back(static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC);
  } while (times.size() < 3 || static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC < g_seconds);
  std::sort(times.begin(), times.end());
  return std::max(times[times.size() / 2], 1e-9);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Row {
  std::string name;
  std::size_t size = 0;
  std::size_t encoded = 0, deflated6 = 0;
  double enc = 0, dec = 0, z1 = 0, z6 = 0, z9 = 0, inflate = 0, lz4c = 0, lz4d = 0, zstd1c = 0, zstd1d = 0,
         copy = 0;                                 // MB/s
  double stream = 0;                               // MB/s of the streaming decoder
  double dec_vs_inflate = 0, enc_vs_deflate6 = 0;  // paired speed ratios
  double stream_vs_dec = 0;                        // streaming against whole-buffer, paired
  // --levels: sizes, MB/s and the fast level's paired ratio to zlib -6.
  std::size_t fast_size = 0, best_size = 0;
  double fast = 0, best = 0, fast_vs_deflate6 = 0;
};

// Median over rounds of (time of theirs / time of ours), each round running ours once
// and then theirs once: the two see the same load, which keeps the ratio steady on a
// shared machine even when both speeds move.
double paired(const std::function<void()>& ours, const std::function<void()>& theirs) {
  std::vector<double> ratios;
  const std::clock_t start = std::clock();
  do {
    const std::clock_t t0 = std::clock();
    ours();
    const std::clock_t t1 = std::clock();
    theirs();
    const std::clock_t t2 = std::clock();
    ratios.push_back(static_cast<double>(t2 - t1) / static_cast<double>(std::max<std::clock_t>(t1 - t0, 1)));
  } while (ratios.size() < 5 || static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC < 2 * g_seconds);
  return median(ratios);
}

Row measure(const std::string& path) {
  Row row;
  const Bytes input = load(path);
  row.name = path.substr(path.find_last_of('/') + 1);
  row.size = input.size();
  const double mb = static_cast<double>(input.size()) / 1e6;
  auto rate = [mb](double seconds) { return mb / seconds; };

  MemorySink sink;
  const auto encode_at = [&](EncodeLevel level) {
    return [&, level] {
      sink.clear();  // reuses the memory, as zlib's runs below reuse their buffer
      encode_stream(sink, input.data(), static_cast<std::int32_t>(input.size()), level);
    };
  };
  const auto encode = encode_at(EncodeLevel::exact);
  encode();
  const Bytes stream = sink.take();
  row.encoded = stream.size();
  if (g_check && model_encode(input) != stream) {
    std::fprintf(stderr, "%s: the exact stream differs from the model encoder's\n", path.c_str());
    std::exit(1);
  }
  const auto deflate6 = [&, again = Bytes(compressBound(input.size()))]() mutable {
    uLongf size = again.size();
    compress2(again.data(), &size, input.data(), input.size(), 6);
  };
  if (g_encode_only) {
    row.enc_vs_deflate6 = paired(encode, deflate6);
    row.enc = rate(time_it(encode));
    row.z6 = rate(time_it(deflate6));
  } else if (!g_decode_only) {
    row.enc = rate(time_it(encode));
  }
  if (g_levels) {
    encode_at(EncodeLevel::fast)();
    row.fast_size = sink.take().size();
    encode_at(EncodeLevel::best)();
    row.best_size = sink.take().size();
    row.fast_vs_deflate6 = paired(encode_at(EncodeLevel::fast), deflate6);
    row.fast = rate(time_it(encode_at(EncodeLevel::fast)));
    row.best = rate(time_it(encode_at(EncodeLevel::best)));
  }
  if (g_encode_only) return row;
  Bytes output(input.size());
  const auto decode = [&] {
    if (!decode_stream(output.data(), output.size(), stream.data(), stream.size()).ok()) std::abort();
  };
  row.dec = rate(time_it(decode));
  // The streaming decoder handing its chunks to a sink that only counts them: the
  // decoding itself, chunk hand-over and window moves included.
  StreamDecoder stream_decoder;
  const auto stream_decode = [&] {
    CountingSink counter;
    if (!stream_decoder.decode(stream.data(), stream.size(), counter).ok()) std::abort();
  };
  row.stream = rate(time_it(stream_decode));
  row.stream_vs_dec = paired(stream_decode, decode);
  if (output != input) {
    std::fprintf(stderr, "%s: round trip failed\n", path.c_str());
    std::exit(1);
  }

  Bytes deflated(compressBound(input.size()));
  uLongf deflated_size = 0;
  auto deflate_at = [&](int level) {
    return rate(time_it([&] {
      deflated_size = deflated.size();
      compress2(deflated.data(), &deflated_size, input.data(), input.size(), level);
    }));
  };
  if (g_decode_only) {
    deflated_size = deflated.size();
    compress2(deflated.data(), &deflated_size, input.data(), input.size(), 6);
  } else {
    row.z1 = deflate_at(1);
    row.z9 = deflate_at(9);
    row.z6 = deflate_at(6);
  }
  row.deflated6 = deflated_size;
  const auto inflate = [&] {
    uLongf out_size = output.size();
    if (uncompress(output.data(), &out_size, deflated.data(), deflated_size) != Z_OK) std::abort();
  };
  row.inflate = rate(time_it(inflate));
  row.dec_vs_inflate = paired(decode, inflate);
  if (g_decode_only) return row;
  row.enc_vs_deflate6 = paired(encode, deflate6);

  Bytes lz4(LZ4_compressBound(static_cast<int>(input.size())));
  int lz4_size = 0;
  row.lz4c = rate(time_it([&] {
    lz4_size = LZ4_compress_default(reinterpret_cast<const char*>(input.data()), reinterpret_cast<char*>(lz4.data()),
                                    static_cast<int>(input.size()), static_cast<int>(lz4.size()));
  }));
  row.lz4d = rate(time_it([&] {
    LZ4_decompress_safe(reinterpret_cast<const char*>(lz4.data()), reinterpret_cast<char*>(output.data()), lz4_size,
                        static_cast<int>(output.size()));
  }));

  Bytes zst(ZSTD_compressBound(input.size()));
  std::size_t zst_size = 0;
  row.zstd1c = rate(time_it([&] { zst_size = ZSTD_compress(zst.data(), zst.size(), input.data(), input.size(), 1); }));
  row.zstd1d = rate(time_it([&] { ZSTD_decompress(output.data(), output.size(), zst.data(), zst_size); }));

  row.copy = rate(time_it([&] {
    std::memcpy(output.data(), input.data(), input.size());
    asm volatile("" : : "r"(output.data()) : "memory");
  }));
  return row;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  std::string write_to;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc) {
      g_seconds = std::atof(argv[++i]);
    } else if (arg == "--check") {
      g_check = true;
    } else if (arg == "--encode-only") {
      g_encode_only = true;
    } else if (arg == "--levels") {
      g_levels = true;
    } else if (arg == "--decode-only") {
      g_decode_only = true;
    } else if (arg == "--write" && i + 1 < argc) {
      write_to = argv[++i];
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) {
    std::fprintf(
        stderr,
        "usage: encode_codec_compare [--seconds S] [--check] [--encode-only | --decode-only] [--levels] FILE...\n"
        "       encode_codec_compare --write OUT FILE...\n");
    return 2;
  }

  if (!write_to.empty()) {
    std::ofstream out(write_to, std::ios::binary | std::ios::trunc);
    for (const std::string& f : files) {
      const Bytes bytes = load(f);
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    return out.flush() ? 0 : 1;
  }

  std::vector<Row> rows;
  if (g_decode_only) {
    std::printf("%-24s %9s %7s | %8s %8s %8s | %10s %10s\n", "MB/s", "size", "enc%", "decode", "stream", "inflate",
                "dec/infl", "stream/dec");
    std::vector<double> c[2];
    for (const std::string& f : files) {
      const Row r = measure(f);
      c[0].push_back(r.dec_vs_inflate);
      c[1].push_back(r.stream_vs_dec);
      std::printf("%-24s %9zu %6.1f%% | %8.1f %8.1f %8.1f | %10.2f %10.2f\n", r.name.c_str(), r.size,
                  100.0 * r.encoded / r.size, r.dec, r.stream, r.inflate, r.dec_vs_inflate, r.stream_vs_dec);
      std::fflush(stdout);
    }
    std::printf("%-24s %9s %7s | %8s %8s %8s | %10.2f %10.2f\n", "median", "", "", "", "", "", median(c[0]),
                median(c[1]));
    std::printf("\ngoals: decode >= 4x inflate; streaming decode >= 0.95x whole-buffer (medians)\n");
    return 0;
  }
  if (g_encode_only) {
    std::printf("%-24s %9s %7s | %8s %8s | %9s\n", "MB/s", "size", "enc%", "encode", "zlib-6", "enc/zlib6");
  } else {
    std::printf("%-24s %9s %7s %7s | %8s %8s %8s | %7s %7s %7s %8s | %7s %7s | %7s %7s | %8s\n", "MB/s", "size", "enc%",
                "zlib6%", "encode", "decode", "stream", "zlib-1", "zlib-6", "zlib-9", "inflate", "lz4", "lz4-d",
                "zstd-1", "zstd-d", "memcpy");
  }
  for (const std::string& f : files) {
    const Row r = measure(f);
    rows.push_back(r);
    if (g_encode_only) {
      std::printf("%-24s %9zu %6.1f%% | %8.1f %8.1f | %9.2f\n", r.name.c_str(), r.size, 100.0 * r.encoded / r.size,
                  r.enc, r.z6, r.enc_vs_deflate6);
    } else {
      std::printf(
          "%-24s %9zu %6.1f%% %6.1f%% | %8.1f %8.1f %8.1f | %7.1f %7.1f %7.1f %8.1f | %7.1f %7.1f | %7.1f %7.1f | "
          "%8.1f\n",
          r.name.c_str(), r.size, 100.0 * r.encoded / r.size, 100.0 * r.deflated6 / r.size, r.enc, r.dec, r.stream,
          r.z1, r.z6, r.z9, r.inflate, r.lz4c, r.lz4d, r.zstd1c, r.zstd1d, r.copy);
    }
    std::fflush(stdout);
  }

  std::vector<double> encs;
  for (const Row& r : rows) encs.push_back(r.enc);
  const double median_enc = median(encs);
  if (g_encode_only) {
    std::vector<double> ratios;
    for (const Row& r : rows) ratios.push_back(r.enc_vs_deflate6);
    std::printf("%-24s %9s %7s | %8.1f %8s | %9.2f\n", "median", "", "", median_enc, "", median(ratios));
  } else {
    std::printf("\n%-24s %10s %10s %10s %10s %10s %10s %10s %12s\n", "ratios", "dec/infl", "stream/dec", "dec/lz4d",
                "dec/memcpy", "enc/zlib6", "enc/zlib1", "enc/zstd1", "slow/median");
    std::vector<double> c[8];
    for (const Row& r : rows) {
      const double v[8] = {r.dec_vs_inflate,  r.stream_vs_dec, r.dec / r.lz4d,   r.dec / r.copy,
                           r.enc_vs_deflate6, r.enc / r.z1,    r.enc / r.zstd1c, median_enc / r.enc};
      for (int i = 0; i < 8; ++i) c[i].push_back(v[i]);
      std::printf("%-24s %10.2f %10.2f %10.2f %10.2f %10.2f %10.2f %10.2f %12.2f\n", r.name.c_str(), v[0], v[1], v[2],
                  v[3], v[4], v[5], v[6], v[7]);
    }
    std::printf("%-24s %10.2f %10.2f %10.2f %10.2f %10.2f %10.2f %10.2f %12.2f\n", "median", median(c[0]), median(c[1]),
                median(c[2]), median(c[3]), median(c[4]), median(c[5]), median(c[6]), median(c[7]));
  }
  if (g_levels) {
    // Sizes in per cent of the exact level's stream; the fast ratio is timed in pairs.
    std::printf("\n%-24s %10s %10s %10s %10s %10s\n", "levels", "fast size", "fast MB/s", "fast/zlib6", "best size",
                "best MB/s");
    std::vector<double> c[3];
    for (const Row& r : rows) {
      const double fast_size = 100.0 * (static_cast<double>(r.fast_size) / r.encoded - 1);
      const double best_size = 100.0 * (static_cast<double>(r.best_size) / r.encoded - 1);
      c[0].push_back(fast_size);
      c[1].push_back(r.fast_vs_deflate6);
      c[2].push_back(best_size);
      std::printf("%-24s %+9.2f%% %10.1f %10.2f %+9.2f%% %10.1f\n", r.name.c_str(), fast_size, r.fast,
                  r.fast_vs_deflate6, best_size, r.best);
    }
    std::printf("%-24s %+9.2f%% %10s %10.2f %+9.2f%% %10s\n", "median", median(c[0]), "", median(c[1]), median(c[2]),
                "");
  }
  if (g_check) std::printf("\nexact streams equal the model encoder's for every file\n");
  if (!g_encode_only) {
    std::printf(
        "\ngoals: decode >= 4x inflate; streaming decode >= 0.95x whole-buffer; encode >= 1x zlib -6; slow/median "
        "(encode time per byte against the "
        "corpus median) <= 5 for every file\n");
  }
  if (g_levels) std::printf("fast level: >= 5x zlib -6, <= 3%% larger than exact (medians)\n");
  return 0;
}
