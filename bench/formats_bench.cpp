// Encoding and decoding of a 16 MiB image in memory (no file system): the readers' and
// writers' own throughput, in image bytes per second. formats_bench.sh compares whole
// conversions with srec_cat.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "hexedit/file_io.h"
#include "hexedit/formats.h"

namespace {

constexpr size_t kSize = size_t{16} << 20;

const std::vector<uint8_t>& Image() {
  static const std::vector<uint8_t> image = [] {
    std::vector<uint8_t> v(kSize);
    std::mt19937 rng(3);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
  }();
  return image;
}

const std::string& Text(hexedit::TBufferFormat format) {
  static const std::string hex = [] {
    hexedit::TStringSink s;
    hexedit::EncodeIntelHex(Image(), s);
    return s.text;
  }();
  static const std::string srec = [] {
    hexedit::TStringSink s;
    hexedit::EncodeSRecords(Image(), "bench", s);
    return s.text;
  }();
  return format == hexedit::TBufferFormat::IntelHex ? hex : srec;
}

// Counts the bytes without keeping them, so that only the encoder is measured.
class TCountingSink final : public hexedit::TByteSink {
 public:
  bool Write(const void*, size_t n) override {
    bytes += n;
    return true;
  }
  size_t bytes = 0;
};

void BM_Encode(benchmark::State& state) {
  const auto format = static_cast<hexedit::TBufferFormat>(state.range(0));
  for (auto _ : state) {
    TCountingSink sink;
    if (format == hexedit::TBufferFormat::IntelHex)
      hexedit::EncodeIntelHex(Image(), sink);
    else
      hexedit::EncodeSRecords(Image(), "bench", sink);
    benchmark::DoNotOptimize(sink.bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void BM_Decode(benchmark::State& state) {
  const auto format = static_cast<hexedit::TBufferFormat>(state.range(0));
  const std::string& text = Text(format);
  std::vector<uint8_t> image;
  for (auto _ : state) {
    hexedit::TMemorySource source(text);
    hexedit::TFileError error;
    if (!hexedit::Decode(format, source, image, error)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(image.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

}  // namespace

BENCHMARK(BM_Encode)
    ->ArgName("format")
    ->Arg(static_cast<int>(hexedit::TBufferFormat::IntelHex))
    ->Arg(static_cast<int>(hexedit::TBufferFormat::MotorolaS))
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode)
    ->ArgName("format")
    ->Arg(static_cast<int>(hexedit::TBufferFormat::IntelHex))
    ->Arg(static_cast<int>(hexedit::TBufferFormat::MotorolaS))
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
