// Google Benchmark micro benchmarks of the EnCode codec on generated inputs; the
// comparison with other codecs on real files is encode_codec_compare.

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "encode/decoder.h"
#include "encode/encoder.h"
#include "encode/stream_decoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

enum Input { kWords, kRandom, kRuns, kAscending };

Bytes make_input(int kind, std::size_t size) {
  std::mt19937 rng(3);
  Bytes b;
  const char* words[] = {"update ", "pack ", "entry ", "stream ", "window ", "\r\n", "name=", "0x1F ", "[inst] "};
  while (b.size() < size) {
    switch (kind) {
      case kWords: {
        const char* w = words[rng() % 9];
        b.insert(b.end(), w, w + std::strlen(w));
        break;
      }
      case kRandom:
        b.push_back(static_cast<std::uint8_t>(rng()));
        break;
      case kRuns:
        b.insert(b.end(), 1 + rng() % 5000, static_cast<std::uint8_t>(rng() % 3));
        break;
      case kAscending: {
        const std::uint32_t i = static_cast<std::uint32_t>(b.size() / 4);
        b.insert(b.end(), {static_cast<std::uint8_t>(i >> 24), static_cast<std::uint8_t>(i >> 16),
                           static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)});
        break;
      }
    }
  }
  b.resize(size);
  return b;
}

void BM_Encode(benchmark::State& state) {
  const Bytes input = make_input(static_cast<int>(state.range(0)), 1 << 20);
  for (auto _ : state) {
    MemorySink sink;
    benchmark::DoNotOptimize(encode_stream(sink, input.data(), static_cast<std::int32_t>(input.size())));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

void BM_Decode(benchmark::State& state) {
  const Bytes input = make_input(static_cast<int>(state.range(0)), 1 << 20);
  MemorySink sink;
  encode_stream(sink, input.data(), static_cast<std::int32_t>(input.size()));
  Bytes output(input.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(decode_stream(output.data(), output.size(), sink.bytes().data(), sink.bytes().size()));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

// The streaming decoder into a sink that only counts: the decoding itself, chunk
// hand-over and window moves included, to compare with BM_Decode.
void BM_DecodeStreaming(benchmark::State& state) {
  const Bytes input = make_input(static_cast<int>(state.range(0)), 1 << 20);
  MemorySink sink;
  encode_stream(sink, input.data(), static_cast<std::int32_t>(input.size()));
  StreamDecoder decoder;
  for (auto _ : state) {
    CountingSink counter;
    benchmark::DoNotOptimize(decoder.decode(sink.bytes().data(), sink.bytes().size(), counter));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

BENCHMARK(BM_Encode)->ArgName("input")->DenseRange(kWords, kAscending);
BENCHMARK(BM_Decode)->ArgName("input")->DenseRange(kWords, kAscending);
BENCHMARK(BM_DecodeStreaming)->ArgName("input")->DenseRange(kWords, kAscending);

}  // namespace

BENCHMARK_MAIN();
