#include "check/check_report.hpp"

#include <algorithm>

#include "core/conversion.hpp"
#include "core/messages.hpp"

namespace ferrolet {

namespace {

constexpr std::int32_t MAP_WIDTH = 64;

// Where a fault lies, as the fault line names it: the file layout, the header block or a block.
void say_fault_line(const TextSink& sink, const UploadCheck& check) noexcept {
  const auto offset = static_cast<Number>(check.offset);
  if (check.frame < 0) {
    say(sink, FAULT_IN_LAYOUT, offset);
  } else if (check.frame == 0) {
    say(sink, FAULT_IN_HEADER, offset);
  } else {
    say(sink, FAULT_IN_BLOCK, check.frame, offset);
  }
  say_upload_fault(sink, check.fault);
  say(sink, INVALID);
}

[[nodiscard]] std::span<const std::uint8_t> block_content(const UploadContent& content,
                                                          std::int32_t block) noexcept {
  return std::span<const std::uint8_t>(content).subspan(
      static_cast<std::size_t>(block) * BLOCK_SIZE, BLOCK_SIZE);
}

// The firmware's bytes for the addresses of `block`, up to its highest address.
[[nodiscard]] std::span<const std::uint8_t> firmware_part(const FirmwareRead* firmware,
                                                          std::int32_t block) noexcept {
  if (firmware == nullptr) return {};
  const std::int32_t first = block * BLOCK_SIZE;
  const std::int32_t count = std::clamp(firmware->summary.highest + 1 - first, 0, BLOCK_SIZE);
  return std::span<const std::uint8_t>(firmware->image)
      .subspan(static_cast<std::size_t>(first), static_cast<std::size_t>(count));
}

// The firmware's faults and what the converter would make of it; false if it would refuse it.
[[nodiscard]] bool report_firmware(const FirmwareRead& firmware, std::string_view name,
                                   const TextSink& sink, RawBytes raw) noexcept {
  const std::size_t shown =
      std::min(static_cast<std::size_t>(firmware.fault_count), firmware.faults.size());
  for (std::size_t i = 0; i < shown; ++i) {
    say(sink, FIRMWARE_FAULT, name);
    say_hex_event(sink, firmware.faults[i], raw);
  }
  if (firmware.fault_count > static_cast<std::int64_t>(shown)) {
    say(sink, FIRMWARE_MORE_FAULTS, name, firmware.fault_count - static_cast<std::int64_t>(shown));
  }
  const HexSummary& summary = firmware.summary;
  if (refusal_of(summary) != Refusal::None) {
    say(sink, FIRMWARE_REFUSED, name, summary.errors, summary.lowest, summary.highest);
    say(sink, DIFFERENT);
    return false;
  }
  say(sink, FIRMWARE_ACCEPTED, name, summary.highest, upload_block_count(summary.highest));
  return true;
}

// The legend and the map lines of the decoded content's first `blocks` blocks.
void say_map(std::int32_t blocks, const UploadContent& content, const FirmwareRead* firmware,
             const TextSink& sink) noexcept {
  say_map_legend(sink, firmware != nullptr);
  std::array<char, MAP_WIDTH + 1> line{};
  std::size_t used = 0;
  for (std::int32_t block = 0; block < blocks; ++block) {
    const bool last = block == blocks - 1;
    line[used++] = static_cast<char>(
        classify_block(block_content(content, block), last, firmware_part(firmware, block)));
    if ((block + 1) % MAP_WIDTH == 0 || last) {
      line[used++] = '\n';
      say_text(sink, std::string_view(line.data(), used));
      used = 0;
    }
  }
}

// The verdict of the comparison with an accepted firmware.
[[nodiscard]] int report_comparison(std::int32_t blocks, const UploadContent& content,
                                    const FirmwareRead& firmware, const TextSink& sink) noexcept {
  const std::int32_t highest = firmware.summary.highest;
  const std::int32_t carried = std::min(highest + 1, blocks * BLOCK_SIZE);
  for (std::int32_t a = 0; a < carried; ++a) {
    const auto at = static_cast<std::size_t>(a);
    if (content[at] != firmware.image[at]) {
      say(sink, FIRST_DIFFERENCE, a, Hex{static_cast<std::uint32_t>(a), 4}, Hex{content[at], 2},
          Hex{firmware.image[at], 2});
      say(sink, DIFFERENT);
      return CHECK_INVALID;
    }
  }
  const std::int32_t needed = upload_block_count(highest);
  if (blocks != needed) {
    say(sink, BLOCK_COUNT_DIFFERS, blocks, needed);
    say(sink, DIFFERENT);
    return CHECK_INVALID;
  }
  // Behind the firmware's last byte the upload must carry the filler, not more data.
  if (!block_ends_in_filler(block_content(content, needed - 1),
                            static_cast<std::size_t>(highest + 1 - (needed - 1) * BLOCK_SIZE))) {
    say(sink, MORE_THAN_FIRMWARE, highest);
    say(sink, DIFFERENT);
    return CHECK_INVALID;
  }
  say(sink, CARRIES_EXACTLY);
  say(sink, VALID);
  return CHECK_VALID;
}

}  // namespace

void keep_firmware_fault(const HexEvent& event, void* firmware) {
  auto& read = *static_cast<FirmwareRead*>(firmware);
  if (read.fault_count < static_cast<std::int64_t>(read.faults.size())) {
    read.faults[static_cast<std::size_t>(read.fault_count)] = event;
  }
  read.fault_count += 1;
}

bool say_block_map(std::span<const std::uint8_t> upload, UploadContent& content,
                   const TextSink& sink) noexcept {
  const UploadCheck check = decode_upload(upload, content);
  if (check.fault != UploadFault::None) return false;
  say_map(check.blocks, content, nullptr, sink);
  return true;
}

int write_check_report(std::span<const std::uint8_t> upload, std::string_view upload_name,
                       const FirmwareRead* firmware, std::string_view firmware_name,
                       UploadContent& content, const TextSink& sink, RawBytes raw) noexcept {
  if (upload.size() > OUTPUT_CAPACITY) {
    say(sink, UPLOAD_TOO_LONG, upload_name, static_cast<Number>(OUTPUT_CAPACITY));
    say(sink, INVALID);
    return CHECK_INVALID;
  }
  const UploadCheck check = decode_upload(upload, content);
  say(sink, UPLOAD_ANNOUNCED, upload_name, static_cast<Number>(upload.size()), check.blocks);
  if (check.fault != UploadFault::None) {
    say_fault_line(sink, check);
    return CHECK_INVALID;
  }
  say(sink, ALL_FRAMES_VALID);
  if (firmware != nullptr && !report_firmware(*firmware, firmware_name, sink, raw)) {
    return CHECK_INVALID;
  }
  say_map(check.blocks, content, firmware, sink);
  if (firmware == nullptr) {
    say(sink, VALID);
    return CHECK_VALID;
  }
  return report_comparison(check.blocks, content, *firmware, sink);
}

}  // namespace ferrolet
