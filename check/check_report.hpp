// ferrolet-check's report on an upload file, and its comparison with a firmware: the same report
// for the command and the web page.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/conversion.hpp"
#include "core/text.hpp"
#include "hex/hex_reader.hpp"
#include "sysex/sysex_upload.hpp"

namespace ferrolet {

enum CheckStatus : int {
  CHECK_VALID = 0,
  CHECK_INVALID = 1,  // the upload is broken, or does not carry the firmware
  CHECK_USAGE = 2,    // wrong command line, or a file that cannot be read
};

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

// Says the block map of a valid upload (its legend, then one mark per data block, 64 to a line),
// decoding it into `content`; says nothing and returns false if `upload` is not a valid upload.
bool say_block_map(std::span<const std::uint8_t> upload, UploadContent& content,
                   const TextSink& sink) noexcept;

// Says the report on `upload`, the bytes of the file `upload_name` (more than OUTPUT_CAPACITY
// of them: longer than any upload), compared with `firmware` (read from `firmware_name`) unless
// it is null; `content` receives the decoded blocks; the firmware's unexpected characters are
// shown as `raw` asks. Returns CHECK_VALID or CHECK_INVALID.
[[nodiscard]] int write_check_report(std::span<const std::uint8_t> upload,
                                     std::string_view upload_name, const FirmwareRead* firmware,
                                     std::string_view firmware_name, UploadContent& content,
                                     const TextSink& sink,
                                     RawBytes raw = RawBytes::AsTheyAre) noexcept;

}  // namespace ferrolet
