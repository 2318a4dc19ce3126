// Every text that the two programs and the web page show, in one place: the converter's
// messages, ferrolet-check's report, and the page's verdicts and sentences. Front ends say them
// with `say` (core/text.hpp); none writes a sentence of its own. The converter's and the
// verifier's wording is their established output: scripts read it, so it stays as it is, odd
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

// The web page.
inline constexpr Message<> VERDICT_BAD_NAME =
    "Refused: the file name needs a three-character extension, like firmware.hex.";
inline constexpr Message<Number, Number> VERDICT_CONVERTED =
    "Converted: {} data blocks, {} bytes, ready to download or send.";
inline constexpr Message<> VERDICT_NOT_AT_ZERO =
    "Refused: the firmware's data do not start at address 0.";
inline constexpr Message<> VERDICT_READ_ERRORS =
    "Refused: the HEX file has errors; the messages below name each one.";
inline constexpr Message<Number> VERDICT_BEYOND_MEMORY =
    "Refused: the firmware does not fit into the {} KB of program memory.";
inline constexpr Message<> VERDICT_NOTHING_BUILT = "Refused: no upload could be built.";
inline constexpr Message<> VERDICT_UPLOAD_VALID =
    "Valid: every frame, CRC and block number is right.";
inline constexpr Message<> VERDICT_UPLOAD_INVALID =
    "Invalid: the upload is broken; do not send it.";
inline constexpr Message<> VERDICT_FIRMWARE_CARRIED =
    "Valid: the upload is whole and carries exactly this firmware.";
inline constexpr Message<> VERDICT_FIRMWARE_DIFFERS =
    "Not this firmware, or a broken upload: see the report.";
inline constexpr Message<Name> DOWNLOAD_LABEL = "Download {}";
inline constexpr Message<Name, Name> HELD_FIRMWARE =
    "This page holds the firmware {} (SHA-256 {}). It is converted below, ready to download or "
    "send; you can still choose another file.";
inline constexpr Message<Name, Number> OFFER_CONVERTED = "{} (converted, {} bytes)";
inline constexpr Message<Name, Number> OFFER_CHECKED = "{} (checked, {} bytes)";
inline constexpr Message<> NOTHING_TO_SEND = "convert a firmware or check an upload first.";
inline constexpr Message<Number, Number> PAUSE_LABEL =
    "Extra pause between frames, in milliseconds ({} to {}; more for slow receivers)";
inline constexpr Message<> MIDI_MISSING =
    "This browser cannot send MIDI (it has no Web MIDI). Convert and download still work: "
    "send the .syx file with a SysEx tool, or open this page in a browser with Web MIDI.";
inline constexpr Message<> MIDI_MISSING_SAFARI =
    "Safari has no Web MIDI, so this page cannot send from it. Convert and download still work: "
    "send the .syx file with a SysEx tool, or open this page in Chrome, Edge or Firefox.";
inline constexpr Message<> MIDI_REFUSED =
    "MIDI access with SysEx was not allowed, so the page cannot send. Convert and download "
    "still work; allow MIDI for this page in the browser settings to send from here.";
inline constexpr Message<> MIDI_REFUSED_FIREFOX =
    "Firefox did not allow MIDI for this page, so it cannot send. Press Find MIDI ports again "
    "and allow it when Firefox asks (Firefox adds a small site permission add-on for it), or "
    "allow MIDI for this site in Settings, Privacy & Security, Permissions. Convert and "
    "download still work.";
inline constexpr Message<> MIDI_READY =
    "MIDI is ready. Choose the port the device is connected to.";
inline constexpr Message<> MIDI_NO_PORT =
    "MIDI is ready, but no output port is connected. Connect the interface; it appears here.";
inline constexpr Message<Name, Number> SENDING = "{} (being sent, {} bytes)";
inline constexpr Message<Number, Number> SEND_PROGRESS = "block {} of {}";
inline constexpr Message<Number, Number> SEND_CANCELLED =
    "Cancelled after block {} of {}; send the whole upload again.";
inline constexpr Message<Number, Number> SEND_LOST =
    "The MIDI port was lost after block {} of {}: the device now holds a partial upload. "
    "Connect the interface again, then send the whole upload again.";
inline constexpr Message<> SEND_LOST_BEFORE_ANY =
    "The MIDI port was lost before anything was sent: nothing reached the device. Connect the "
    "interface again, then press Send again.";
inline constexpr Message<Name> PORT_UNAVAILABLE =
    "The MIDI port {} could not be opened: another program may be using it, or it is not "
    "available. Close the other program (a music or SysEx program, say), then press Send again. "
    "Nothing was sent.";
inline constexpr Message<Name, Number, Number> SEND_INTERRUPTED =
    "The last send of {} was cut off after block {} of {} when the page was closed or "
    "reloaded: the device holds a partial upload. Send the whole upload again.";
inline constexpr Message<Name, Number, Number, Name, Seconds, Grouped, Number> SEND_DONE =
    "Sent {}: {} data blocks, {} bytes, to {} in {} s, paced at DIN MIDI speed ({} bytes/s) with "
    "{} ms extra between frames.";
inline constexpr Message<Name, Grouped, Grouped> READING = "Reading {}: {} of {} bytes";
inline constexpr Message<Name> READING_STOPPED =
    "Stopped reading {}. Choose the file again to start over.";
inline constexpr Message<Name> READING_STALLED =
    "Reading {} stopped making progress, so it was ended. Choose the file again to try again; "
    "if it lies on a removable drive or a network folder, copy it to this computer first.";
inline constexpr Message<Number> LOOP_RUNNING =
    "Testing the interface with {} ms extra between frames: the frames go out of the output and "
    "should come back on the input.";
inline constexpr Message<Number, Number, Number, Number, Number> LOOP_COUNTS =
    "At {} ms extra between frames: {} of {} frames came back intact, {} lost, {} changed.\n";
inline constexpr Message<Name, Number, Hex, Hex> LOOP_FIRST_CHANGE =
    "First change: {}, byte {}: sent 0x{}, came back 0x{}.\n";
inline constexpr Message<Name, Number> LOOP_FIRST_CUT =
    "First change: {} came back {} bytes long.\n";
inline constexpr Message<Seconds, Seconds> LOOP_TIME =
    "It took {} s; a DIN MIDI line needs {} s for these frames.\n";
inline constexpr Message<Number, Number, Number, Number, Number> LOOP_STRAYS =
    "Ignored {} messages that were not sent: {} MIDI clock, {} active sensing, {} SysEx of "
    "another program, {} other. Traffic like this during an upload can itself break it: stop the "
    "programs and devices that send it.\n";
inline constexpr Message<> LOOP_PREAMBLE = "the preamble";
inline constexpr Message<> LOOP_HEADER = "the header block";
inline constexpr Message<Number> LOOP_BLOCK = "data block {}";
inline constexpr Message<Number> LOOP_CARRIES =
    "The interface carries this upload with the extra pause Send uses ({} ms).";
inline constexpr Message<Number, Number> LOOP_FOUND =
    "The interface lost or changed frames with shorter pauses; with {} ms extra between frames it "
    "carried the upload twice in a row, so Send now uses {} ms.";
inline constexpr Message<Number> LOOP_GAVE_UP =
    "This interface cannot carry this upload: frames were lost or changed even with {} ms extra "
    "between frames. Try another cable or another USB port, or a powered USB hub, and test "
    "again.";
inline constexpr Message<Number, Number> LOOP_CANCELLED =
    "Test cancelled at {} ms extra between frames after block {}.";
inline constexpr Message<> TEST_PATTERN_NAME = "test-pattern.syx";
inline constexpr Message<Name, Name, Name, Name, Name, Number, Number, Name, Number, Grouped>
    PAGE_REPORT =
        "ferrolet {} web page\n"
        "Browser: {}\n"
        "MIDI output: {}\n"
        "MIDI input: {}\n"
        "Upload: {}, {} bytes, {} data blocks, SHA-256 {}\n"
        "Pacing: {} ms extra between frames at DIN MIDI speed ({} bytes/s)\n";
inline constexpr Message<Name> REPORT_OUTCOME = "Outcome: {}\n";
inline constexpr Message<> NO_INPUT_PORT = "none";

// Beyond this many faults the page says how many more there are; its counts stay exact.
inline constexpr std::int64_t SHOWN_PAGE_FAULTS = 1000;
inline constexpr Message<Number> MORE_FAULTS = "... and {} more\n";
// The page cannot show a raw byte: one that is no printable ASCII is shown by its value.
inline constexpr Message<Number, Hex> UNEXPECTED_BYTE =
    "Line {} unexpected character (byte 0x{})\n";
inline constexpr Message<Name> HINT_EMPTY_FIRMWARE =
    "{} is empty: choose the firmware's HEX file (.hex).";
inline constexpr Message<Name> HINT_UPLOAD_IN_CONVERT =
    "{} is an upload (.syx), not a HEX file: check it in box 2 and send it from there.";
inline constexpr Message<Name> HINT_NOT_HEX =
    "{} does not look like a HEX file (its records would start with ':'): choose the "
    "firmware's .hex file.";
inline constexpr Message<Name> HINT_HEX_IN_CHECK =
    "{} is a HEX file, not an upload: convert it in box 1, then download or send the upload "
    "from there.";
inline constexpr Message<Name> HINT_EMPTY_UPLOAD = "{} is empty: choose an upload file (.syx).";
inline constexpr Message<> VERDICT_NOT_AN_UPLOAD = "Not an upload: this is a HEX file.";
inline constexpr Message<> VERDICT_UNREADABLE =
    "Refused: the file could not be read. Choose it again; if it lies on a removable drive or "
    "a network folder, copy it to this computer first.";

// How a message shows an unexpected character: as the byte itself, as the command prints it,
// or by its value where it is no printable ASCII, as the page shows it.
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
