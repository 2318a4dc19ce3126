// ferrolet-check's report on an upload file, and its comparison with a firmware: the same text
// for the command and the web page.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/conversion.hpp"

namespace ferrolet {

enum CheckStatus : int {
  CHECK_VALID = 0,
  CHECK_INVALID = 1,  // the upload is broken, or does not carry the firmware
  CHECK_USAGE = 2,    // wrong command line, or a file that cannot be read
};

inline constexpr std::string_view CHECK_USAGE_TEXT =
    "Usage: ferrolet-check FILE.syx [FIRMWARE.hex]\n"
    "Checks an upload file made by ferrolet; with a HEX file, also that the upload carries\n"
    "exactly that firmware. Exit status: 0 valid, 1 invalid or different, 2 usage or unreadable "
    "file.\n";
inline constexpr const char* CANNOT_READ_UPLOAD = "Cannot read upload file %s\n";
inline constexpr const char* CANNOT_READ_FIRMWARE = "Cannot read firmware file %s\n";

// Room for the largest upload and one byte more, so that a longer file is recognised as such.
inline constexpr std::size_t UPLOAD_READ_CAPACITY = OUTPUT_CAPACITY + 1;

// The firmware's faults that a report shows; it counts the rest.
inline constexpr std::size_t SHOWN_FIRMWARE_FAULTS = 8;

// A firmware read for comparison: its image, its summary and the first of its reader faults.
struct FirmwareRead {
  FirmwareImage image{};
  HexSummary summary;
  std::array<HexEvent, SHOWN_FIRMWARE_FAULTS> faults{};
  std::int64_t fault_count = 0;
};

// A HexEventSink that keeps the fault in the FirmwareRead given as its context.
void keep_firmware_fault(const HexEvent& event, void* firmware);

// The text of a report; whatever would not fit is cut off.
struct ReportText {
  std::array<char, std::size_t{1} << 18> text{};
  std::size_t used = 0;
};

// The block map as the report draws it: one mark per data block, 64 to a line.
inline constexpr std::size_t BLOCK_MAP_CAPACITY = MAX_BLOCKS + MAX_BLOCKS / 64 + 1;
using BlockMapText = std::array<char, BLOCK_MAP_CAPACITY>;

// Draws the block map of a valid upload without a firmware; returns its length in characters, 0
// if `upload` is not a valid upload.
[[nodiscard]] std::size_t draw_upload_block_map(std::span<const std::uint8_t> upload,
                                                BlockMapText& map) noexcept;

// Writes the report on `upload`, the bytes of the file `upload_name` (more than OUTPUT_CAPACITY
// of them: longer than any upload), compared with `firmware` (read from `firmware_name`) unless
// it is null. Returns the exit status: CHECK_VALID or CHECK_INVALID.
[[nodiscard]] int write_check_report(std::span<const std::uint8_t> upload, const char* upload_name,
                                     const FirmwareRead* firmware, const char* firmware_name,
                                     ReportText& report) noexcept;

}  // namespace ferrolet
