// libFuzzer target: arbitrary bytes as a HEX file. The block reader must match the plain
// per-character step exactly, and every input that would convert must give an upload that obeys
// the upload format, decodes back to the image, and is refused by the decoder once any one of its
// bytes is changed. The same bytes also go to the decoder as an upload file, as ferrolet-check
// would take them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "check/check_report.hpp"
#include "core/conversion.hpp"
#include "send/send_plan.hpp"

namespace {

using namespace ferrolet;

void require(bool condition) {
  if (!condition) std::abort();
}

// Folds one fault into a running fingerprint of the fault sequence.
std::uint64_t fold(std::uint64_t hash, const HexEvent& event) {
  if (event.fault == HexFault::None) return hash;
  for (const std::uint64_t part :
       {static_cast<std::uint64_t>(event.fault), static_cast<std::uint64_t>(event.line),
        static_cast<std::uint64_t>(event.value)}) {
    hash = (hash ^ part) * 0x100000001B3ULL;
  }
  return hash;
}

// Everything one input is worked through; a fresh one for every input.
struct FuzzWork {
  FirmwareImage image_by_step{};
  FirmwareImage image_by_block{};
  UploadContent content{};
  UploadBuffer upload;
  FirmwareRead firmware;
  SendPlan plan{};
};

void count_text(std::string_view piece, void* said) {
  *static_cast<std::size_t*>(said) += piece.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const char> input(reinterpret_cast<const char*>(data), size);
  const auto work = std::make_unique<FuzzWork>();
  auto& [image_by_step, image_by_block, content, upload, firmware, plan] = *work;

  const UploadCheck as_upload = decode_upload(std::span(data, size), content);
  if (as_upload.fault == UploadFault::None) {
    require(as_upload.blocks >= 1 && as_upload.blocks <= MAX_BLOCKS);
    require(size == upload_size(as_upload.blocks));
  } else {
    require(as_upload.offset <= size);
  }
  // The verifier's report and the send plan, as ferrolet-check and the web page make them: the
  // same bytes as the upload and, read by the reader, as its firmware.
  read_hex_bytes(input, firmware.image, firmware.summary, keep_firmware_fault, &firmware);
  std::size_t said = 0;
  const int status = write_check_report(std::span(data, size), "fuzz.syx", &firmware, "fuzz.hex",
                                        content, {count_text, &said});
  require(said > 0);
  require(status == CHECK_VALID || status == CHECK_INVALID);
  const std::int64_t pause_us = size > 0 ? std::int64_t{data[0]} * 5000 : 0;
  const std::size_t steps = plan_send(std::span(data, size), pause_us, plan, content);
  require(
      steps ==
      (as_upload.fault == UploadFault::None ? static_cast<std::size_t>(as_upload.blocks) + 2 : 0));

  HexReader step_reader;
  HexSummary by_step;
  std::uint64_t step_faults = 0xCBF29CE484222325ULL;
  for (const char ch : input)
    step_faults = fold(step_faults, hex_step(step_reader, image_by_step, by_step, ch));
  step_faults = fold(step_faults, hex_finish(step_reader, by_step));

  // Blocks of an input-chosen length, so that block edges fall everywhere.
  HexReader block_reader;
  HexSummary by_block;
  std::uint64_t block_faults = 0xCBF29CE484222325ULL;
  const std::size_t block_size = size == 0 ? 1 : 1 + data[0] % 97;
  for (std::size_t start = 0; start < size; start += block_size) {
    std::span<const char> rest = input.subspan(start, std::min(block_size, size - start));
    while (!rest.empty()) {
      HexEvent event;
      rest = rest.subspan(hex_feed(block_reader, image_by_block, by_block, rest, event));
      block_faults = fold(block_faults, event);
    }
  }
  block_faults = fold(block_faults, hex_finish(block_reader, by_block));

  require(by_step.characters == static_cast<std::int64_t>(size));
  require(by_block.characters == by_step.characters && by_block.records == by_step.records &&
          by_block.errors == by_step.errors && by_block.lowest == by_step.lowest &&
          by_block.highest == by_step.highest);
  require(block_faults == step_faults);
  require(image_by_block == image_by_step);

  // The refusal decision and the build, as every front end makes them.
  const Conversion conversion = convert_read(image_by_step, by_step, upload);
  if (conversion.refusal != Refusal::None) {
    require(conversion.bytes == 0 && upload.used == 0);
    return 0;
  }
  const std::int32_t blocks = conversion.blocks;
  require(by_step.lowest == 0 && by_step.errors == 0 && by_step.highest < IMAGE_SIZE);
  require(blocks == upload_block_count(by_step.highest));
  require(upload.used == upload_size(blocks) && conversion.bytes == upload.used);
  bool inside = false;
  for (std::size_t i = 0; i < upload.used; ++i) {
    const std::uint8_t byte = upload.bytes[i];
    if (byte == 0xF0) {
      inside = true;
    } else if (byte == 0xF7) {
      inside = false;
    } else {
      require(!inside || byte <= 0x7F);
    }
  }

  const UploadCheck check = decode_upload(std::span(upload.bytes).first(upload.used), content);
  require(check.fault == UploadFault::None && check.blocks == blocks);
  const auto used = static_cast<std::size_t>(by_step.highest) + 1;
  require(std::memcmp(content.data(), image_by_step.data(), used) == 0);
  for (std::size_t i = used; i < static_cast<std::size_t>(blocks) * BLOCK_SIZE; ++i)
    require(content[i] == filler_byte(i - used));

  // A single changed byte anywhere must be caught.
  std::uint32_t pick = 2166136261U;
  for (std::size_t i = 0; i < size; ++i)
    pick = (pick ^ data[i]) * 16777619U;
  const std::size_t at = pick % upload.used;
  const auto flip = static_cast<std::uint8_t>(1U + (pick >> 16) % 255U);
  upload.bytes[at] ^= flip;
  const UploadCheck damaged = decode_upload(std::span(upload.bytes).first(upload.used), content);
  require(damaged.fault != UploadFault::None);
  return 0;
}
