#include "core/check_report.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace ferrolet {

namespace {

constexpr std::int32_t MAP_WIDTH = 64;

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void say(ReportText& report, const char* text, ...) noexcept {
  const std::size_t room = report.text.size() - report.used;
  std::va_list args;
  va_start(args, text);
  const int length = std::vsnprintf(report.text.data() + report.used, room, text, args);
  va_end(args);
  if (length > 0) report.used += std::min(static_cast<std::size_t>(length), room - 1);
}

void say_raw(ReportText& report, const char* bytes, std::size_t length) noexcept {
  const std::size_t fits = std::min(length, report.text.size() - 1 - report.used);
  std::copy(bytes, bytes + fits, report.text.data() + report.used);
  report.used += fits;
}

[[nodiscard]] const char* frame_name(std::int32_t frame, std::array<char, 32>& text) noexcept {
  if (frame < 0) return "the file layout";
  if (frame == 0) return "the header block";
  static_cast<void>(std::snprintf(text.data(), text.size(), "data block %d", frame));
  return text.data();
}

// The decoded content of the upload's data blocks.
std::array<std::uint8_t, IMAGE_SIZE> content;

[[nodiscard]] std::span<const std::uint8_t> block_content(std::int32_t block) noexcept {
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
[[nodiscard]] bool report_firmware(const FirmwareRead& firmware, const char* name,
                                   ReportText& report) noexcept {
  const std::size_t shown =
      std::min(static_cast<std::size_t>(firmware.fault_count), firmware.faults.size());
  MessageBuffer message;
  for (std::size_t i = 0; i < shown; ++i) {
    const std::size_t length = format_hex_event(firmware.faults[i], message);
    // Raw, as the converter prints it: an unexpected character may be any byte, NUL included.
    say(report, "firmware %s: ", name);
    say_raw(report, message.data(), length);
  }
  if (firmware.fault_count > static_cast<std::int64_t>(shown)) {
    say(report, "firmware %s: %lld more faults\n", name,
        static_cast<long long>(firmware.fault_count) - static_cast<long long>(shown));
  }
  const HexSummary& summary = firmware.summary;
  if (refusal_of(summary) != Refusal::None) {
    say(report,
        "firmware %s: %lld errors, addresses %d to %d; ferrolet would not convert it\n"
        "DIFFERENT\n",
        name, static_cast<long long>(summary.errors), summary.lowest, summary.highest);
    return false;
  }
  say(report, "firmware %s: addresses 0 to %d, %d data blocks\n", name, summary.highest,
      upload_block_count(summary.highest));
  return true;
}

// The map lines of the decoded content's first `blocks` blocks.
std::size_t draw_map(std::int32_t blocks, const FirmwareRead* firmware,
                     BlockMapText& map) noexcept {
  std::size_t used = 0;
  for (std::int32_t block = 0; block < blocks; ++block) {
    const bool last = block == blocks - 1;
    map[used++] = static_cast<char>(
        classify_block(block_content(block), last, firmware_part(firmware, block)));
    if ((block + 1) % MAP_WIDTH == 0 || last) map[used++] = '\n';
  }
  return used;
}

void report_map(std::int32_t blocks, const FirmwareRead* firmware, ReportText& report) noexcept {
  say(report, "block map (%c data, %c all 0x00, %c data then filler%s):\n",
      static_cast<char>(BlockMark::Data), static_cast<char>(BlockMark::Zero),
      static_cast<char>(BlockMark::Filler),
      firmware != nullptr ? ", X differs from the firmware" : "");
  BlockMapText map;
  say_raw(report, map.data(), draw_map(blocks, firmware, map));
}

// The verdict of the comparison with an accepted firmware.
[[nodiscard]] int report_comparison(std::int32_t blocks, const FirmwareRead& firmware,
                                    ReportText& report) noexcept {
  const std::int32_t highest = firmware.summary.highest;
  const std::int32_t carried = std::min(highest + 1, blocks * BLOCK_SIZE);
  for (std::int32_t a = 0; a < carried; ++a) {
    const auto at = static_cast<std::size_t>(a);
    if (content[at] != firmware.image[at]) {
      say(report,
          "first difference at address %d (0x%04X): upload 0x%02X, firmware 0x%02X\nDIFFERENT\n", a,
          static_cast<unsigned>(a), content[at], firmware.image[at]);
      return CHECK_INVALID;
    }
  }
  const std::int32_t needed = upload_block_count(highest);
  if (blocks != needed) {
    say(report, "the upload has %d data blocks, the firmware needs %d\nDIFFERENT\n", blocks,
        needed);
    return CHECK_INVALID;
  }
  // Behind the firmware's last byte the upload must carry the filler, not more data.
  if (!block_ends_in_filler(block_content(needed - 1),
                            static_cast<std::size_t>(highest + 1 - (needed - 1) * BLOCK_SIZE))) {
    say(report, "the upload carries more than the firmware past address %d\nDIFFERENT\n", highest);
    return CHECK_INVALID;
  }
  say(report, "the upload carries exactly this firmware\nVALID\n");
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

std::size_t draw_upload_block_map(std::span<const std::uint8_t> upload,
                                  BlockMapText& map) noexcept {
  const UploadCheck check = decode_upload(upload, content);
  if (check.fault != UploadFault::None) return 0;
  return draw_map(check.blocks, nullptr, map);
}

int write_check_report(std::span<const std::uint8_t> upload, const char* upload_name,
                       const FirmwareRead* firmware, const char* firmware_name,
                       ReportText& report) noexcept {
  if (upload.size() > OUTPUT_CAPACITY) {
    say(report, "upload %s: more than %d bytes, longer than any upload\nINVALID\n", upload_name,
        static_cast<int>(OUTPUT_CAPACITY));
    return CHECK_INVALID;
  }
  const UploadCheck check = decode_upload(upload, content);
  say(report, "upload %s: %ld bytes, %d data blocks announced\n", upload_name,
      static_cast<long>(upload.size()), check.blocks);
  if (check.fault != UploadFault::None) {
    std::array<char, 32> name{};
    const std::string_view text = upload_fault_text(check.fault);
    say(report, "fault in %s at byte %llu: %.*s\nINVALID\n", frame_name(check.frame, name),
        static_cast<unsigned long long>(check.offset), static_cast<int>(text.size()), text.data());
    return CHECK_INVALID;
  }
  say(report, "every frame, CRC and block number is valid\n");
  if (firmware != nullptr && !report_firmware(*firmware, firmware_name, report)) {
    return CHECK_INVALID;
  }
  report_map(check.blocks, firmware, report);
  if (firmware == nullptr) {
    say(report, "VALID\n");
    return CHECK_VALID;
  }
  return report_comparison(check.blocks, *firmware, report);
}

}  // namespace ferrolet
