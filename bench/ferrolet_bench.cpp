// Micro-benchmarks of the reader and the upload encoder, on in-memory inputs.
#include <benchmark/benchmark.h>

#include <vector>

#include "check/check_report.hpp"
#include "core/conversion.hpp"
#include "tests/workload.hpp"

namespace {

using namespace ferrolet;

const std::string& stream_8m() {
  static const std::string text = workload::record_stream(8 * 1024 * 1024);
  return text;
}

void BM_ReadBlocks(benchmark::State& state) {
  const std::string& text = stream_8m();
  static FirmwareImage image;
  for (auto _ : state) {
    HexReader reader;
    HexSummary summary;
    std::span<const char> rest(text.data(), text.size());
    while (!rest.empty()) {
      HexEvent event;
      rest = rest.subspan(hex_feed(reader, image, summary, rest, event));
    }
    benchmark::DoNotOptimize(summary);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ReadBlocks);

void BM_ReadByteByByte(benchmark::State& state) {
  const std::string& text = stream_8m();
  static FirmwareImage image;
  for (auto _ : state) {
    HexReader reader;
    HexSummary summary;
    for (const char ch : text)
      benchmark::DoNotOptimize(hex_step(reader, image, summary, ch));
    benchmark::DoNotOptimize(summary);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ReadByteByByte);

void BM_Crc16Modbus(benchmark::State& state) {
  std::vector<std::uint8_t> block(129);
  for (std::size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<std::uint8_t>(i * 31);
  for (auto _ : state)
    benchmark::DoNotOptimize(crc16_modbus(block));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(block.size()));
}
BENCHMARK(BM_Crc16Modbus);

void BM_Pack7Bit(benchmark::State& state) {
  std::vector<std::uint8_t> block(131);
  for (std::size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<std::uint8_t>(i * 31);
  std::vector<std::uint8_t> out(packed_size(block.size()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(pack_7bit(block, out));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(block.size()));
}
BENCHMARK(BM_Pack7Bit);

void BM_BuildUploadFullImage(benchmark::State& state) {
  static FirmwareImage image;
  for (std::size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<std::uint8_t>(i * 13);
  static UploadBuffer upload;
  for (auto _ : state) {
    benchmark::DoNotOptimize(build_upload(image, IMAGE_SIZE - 1, upload));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(IMAGE_SIZE));
}
BENCHMARK(BM_BuildUploadFullImage);

// The whole conversion of the full 16 KB image as the web page does it: read the 46 KB of HEX,
// conclude, build the upload and draw its block map. The page's own time is set beside this one.
void BM_ConvertFullImageAsThePage(benchmark::State& state) {
  static const std::string text = workload::record_stream(1024 * 45);
  static FirmwareImage image;
  static UploadBuffer upload;
  static UploadContent content;
  const TextSink ignore{[](std::string_view, void*) {}, nullptr};
  for (auto _ : state) {
    image.fill(0);
    HexSummary summary;
    read_hex_bytes(text, image, summary, say_hex_fault, const_cast<TextSink*>(&ignore));
    const Conversion conversion = conclude_read(image, summary, upload, ignore);
    benchmark::DoNotOptimize(
        say_block_map(std::span(upload.bytes).first(conversion.bytes), content, ignore));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ConvertFullImageAsThePage);

}  // namespace

BENCHMARK_MAIN();
