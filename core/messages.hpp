// Every text that the two programs show, in one place: the converter's messages and
// ferrolet-check's report. Front ends say them with `say` (core/text.hpp); none writes a sentence
// of its own, and one that says more keeps its own sentences on its own floor. The converter's and
// the verifier's wording is their established output: scripts read it, so it stays as it is, odd
// spellings included.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/text.hpp"
#include "hex/hex_reader.hpp"
#include "sysex/sysex_upload.hpp"

// FERROLET_VERSION comes from the build (CMakeLists.txt), the one place the version is written.

namespace ferrolet {

using Name = std::string_view;
using Number = std::int64_t;

// The converter, ferrolet.
inline constexpr Message<> BANNER = "ferrolet Version " FERROLET_VERSION
                                    "\nHex-File to Sys-Ex Converter for ATMega168 on Tarvenbox\n";
inline constexpr Message<> USAGE = "\nUsage: ferrolet filename.hex\n";
inline constexpr Message<Name> INPUT_NOT_FOUND = "Input file {} not found\n";
inline constexpr Message<Name> INPUT_UNREADABLE = "Input file {} cannot be read\n";
inline constexpr Message<Name> WOULD_REPLACE_INPUT =
    "Output file {} would replace the input file\n";
inline constexpr Message<Name> CANNOT_OPEN_OUTPUT = "Cant open output file {}\n";
inline constexpr Message<Name> CANNOT_WRITE_OUTPUT = "Cannot write output file {}\n";
// The offending byte goes out raw, whatever it is: a tab as a tab, 0x80..0xFF as that byte.
inline constexpr Message<Number, char> UNEXPECTED_CHARACTER = "Line {} unexpected character ({})\n";
inline constexpr Message<Number, Number> CHECKSUM_ERROR = "Line {} Checksum error (sum={})\n";
inline constexpr Message<Number> INCOMPLETE_RECORD = "Line {} incomplete record\n";
inline constexpr Message<Number, Number, Number, Number> SUMMARY =
    "\nread {} charactes, from adress {} to {} with {} errors\n";
inline constexpr Message<Number> LOWEST_NOT_ZERO = "Lowest adress {} is not zero!\n";
inline constexpr Message<Number, Number> BEYOND_MEMORY =
    "Highest address {} does not fit into {} bytes of program memory!\n";
inline constexpr Message<Number> NOTHING_BUILT = "No upload could be built for addresses 0 to {}\n";
inline constexpr Message<Number, Number> WRITTEN = "{} sysEx data blocks in {} bytes written\n";
inline constexpr Message<Name> MESSAGES_LOST =
    "{}: messages could not be written to standard output\n";

// The verifier, ferrolet-check.
inline constexpr Message<Number, Number, Number> CHECK_USAGE_TEXT =
    "Usage: ferrolet-check FILE.syx [FIRMWARE.hex]\n"
    "Checks an upload file made by ferrolet; with a HEX file, also that the upload carries\n"
    "exactly that firmware. Exit status: {} valid, {} invalid or different, {} usage or "
    "unreadable file.\n";
inline constexpr Message<> CHECK_VERSION = "ferrolet-check " FERROLET_VERSION "\n";
inline constexpr Message<Name> CANNOT_READ_UPLOAD = "Cannot read upload file {}\n";
inline constexpr Message<Name> CANNOT_READ_FIRMWARE = "Cannot read firmware file {}\n";
inline constexpr Message<Name, Number> UPLOAD_TOO_LONG =
    "upload {}: more than {} bytes, longer than any upload\n";
inline constexpr Message<Name, Number, Number> UPLOAD_ANNOUNCED =
    "upload {}: {} bytes, {} data blocks announced\n";
inline constexpr Message<Number> FAULT_IN_LAYOUT = "fault in the file layout at byte {}: ";
inline constexpr Message<Number> FAULT_IN_HEADER = "fault in the header block at byte {}: ";
inline constexpr Message<Number, Number> FAULT_IN_BLOCK = "fault in data block {} at byte {}: ";
inline constexpr Message<> ALL_FRAMES_VALID = "every frame, CRC and block number is valid\n";
inline constexpr Message<Name> FIRMWARE_FAULT = "firmware {}: ";
inline constexpr Message<Name, Number> FIRMWARE_MORE_FAULTS = "firmware {}: {} more faults\n";
inline constexpr Message<Name, Number, Number, Number> FIRMWARE_REFUSED =
    "firmware {}: {} errors, addresses {} to {}; ferrolet would not convert it\n";
inline constexpr Message<Name, Number, Number> FIRMWARE_ACCEPTED =
    "firmware {}: addresses 0 to {}, {} data blocks\n";
inline constexpr Message<char, char, char> MAP_LEGEND =
    "block map ({} data, {} all 0x00, {} data then filler):\n";
inline constexpr Message<char, char, char, char> MAP_LEGEND_WITH_FIRMWARE =
    "block map ({} data, {} all 0x00, {} data then filler, {} differs from the firmware):\n";
inline constexpr Message<Number, Hex, Hex, Hex> FIRST_DIFFERENCE =
    "first difference at address {} (0x{}): upload 0x{}, firmware 0x{}\n";
inline constexpr Message<Number, Number> BLOCK_COUNT_DIFFERS =
    "the upload has {} data blocks, the firmware needs {}\n";
inline constexpr Message<Number> MORE_THAN_FIRMWARE =
    "the upload carries more than the firmware past address {}\n";
inline constexpr Message<> CARRIES_EXACTLY = "the upload carries exactly this firmware\n";
inline constexpr Message<> VALID = "VALID\n";
inline constexpr Message<> INVALID = "INVALID\n";
inline constexpr Message<> DIFFERENT = "DIFFERENT\n";

// A fault's byte where it cannot be shown raw: one that is no printable ASCII is shown by its
// value.
inline constexpr Message<Number, Hex> UNEXPECTED_BYTE =
    "Line {} unexpected character (byte 0x{})\n";

// How a message shows an unexpected character: as the byte itself, as the command prints it,
// or by its value where it is no printable ASCII, for a front end that cannot show a raw byte.
enum class RawBytes : std::uint8_t { AsTheyAre, Readable };

// A reader fault as the converter reports it.
void say_hex_event(const TextSink& sink, const HexEvent& event,
                   RawBytes raw = RawBytes::AsTheyAre) noexcept;

// The summary line of a finished read.
void say_summary(const TextSink& sink, const HexSummary& summary) noexcept;

// The short description of an upload fault that ends the verifier's fault line.
void say_upload_fault(const TextSink& sink, UploadFault fault) noexcept;

// The block map's legend line; `with_firmware` adds the mark of a block that differs.
void say_map_legend(const TextSink& sink, bool with_firmware) noexcept;

}  // namespace ferrolet
