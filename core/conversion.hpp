// The conversion core that every front end shares (the command, ferrolet-check, the fuzz target,
// the web page): the decision on a read, the build of the upload, the naming rules and the text
// of every message. It never prints and never touches a file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "hex/hex_reader.hpp"
#include "sysex/sysex_upload.hpp"

// FERROLET_VERSION comes from the build (CMakeLists.txt), the one place the version is written.

namespace ferrolet {

// The command's exit codes; where only 8 bits of the status survive, -1 ... -4 read 255 ... 252.
enum ExitCode : int {
  EXIT_CONVERTED = 0,
  EXIT_WRONG_COMMAND_LINE = -1,
  EXIT_REFUSED_INPUT = -2,
  EXIT_INPUT_UNREADABLE = -3,
  EXIT_OUTPUT_UNWRITABLE = -4,
};

// Receives text a front end shows, in order; it may hold NUL bytes.
using TextSink = void (*)(std::string_view text, void* context);

// Why a read may not be converted; the refusals are tested in this order.
enum class Refusal : std::uint8_t {
  None,
  LowestNotZero,  // also an input without any data byte (lowest still 0xFFFF)
  ReadErrors,     // faults were reported; no message beyond them
  BeyondMemory,   // data at or above IMAGE_SIZE
  NothingBuilt,   // the encoder produced no upload: never an empty file
};

// The first refusal that applies to a finished read, or Refusal::None.
[[nodiscard]] Refusal refusal_of(const HexSummary& summary) noexcept;

// The outcome of a conversion: the refusal, or the data blocks and bytes of the built upload.
struct Conversion {
  Refusal refusal = Refusal::None;
  std::int32_t blocks = 0;
  std::size_t bytes = 0;
};

// Decides on a finished read and, if it may be converted, builds the whole upload into `upload`.
[[nodiscard]] Conversion convert_read(const FirmwareImage& image, const HexSummary& summary,
                                      UploadBuffer& upload) noexcept;

// Ends a read as every front end does: says the summary and, for a refused read, why; otherwise
// builds the upload. The result message is the caller's to say once the upload is delivered.
[[nodiscard]] Conversion conclude_read(const FirmwareImage& image, const HexSummary& summary,
                                       UploadBuffer& upload, TextSink say, void* context);

// Says the message of a reader fault: a HexEventSink whose context is a TextSink's pair.
struct TextTarget {
  TextSink say;
  void* context;
};
void say_hex_event(const HexEvent& event, void* text_target);

// The command-line rule for the input's name: at least 5 bytes with a '.' fourth from the end,
// a three-character extension that is not examined.
[[nodiscard]] bool valid_input_name(std::string_view name) noexcept;

// The upload's name for a valid input name: its three-character extension replaced by "syx"
// (a.b.c gives a.syx).
[[nodiscard]] std::string derive_output_path(std::string_view input_path);

// Messages. Those that name a file are printf formats with the name as their one argument; the
// others are formatted here into a buffer of MESSAGE_CAPACITY bytes.
inline constexpr std::string_view BANNER =
    "ferrolet Version " FERROLET_VERSION
    "\nHex-File to Sys-Ex Converter for ATMega168 on Tarvenbox\n";
inline constexpr std::string_view USAGE = "\nUsage: ferrolet filename.hex\n";
inline constexpr const char* INPUT_NOT_FOUND = "Input file %s not found\n";
inline constexpr const char* INPUT_UNREADABLE = "Input file %s cannot be read\n";
inline constexpr const char* WOULD_REPLACE_INPUT = "Output file %s would replace the input file\n";
inline constexpr const char* CANNOT_OPEN_OUTPUT = "Cant open output file %s\n";
inline constexpr const char* CANNOT_WRITE_OUTPUT = "Cannot write output file %s\n";

inline constexpr std::size_t MESSAGE_CAPACITY = 160;
using MessageBuffer = std::array<char, MESSAGE_CAPACITY>;

// Each returns the message's length (it may hold a NUL: an unexpected character is shown raw),
// 0 where there is nothing to say.
[[nodiscard]] std::size_t format_hex_event(const HexEvent& event, MessageBuffer& out) noexcept;
[[nodiscard]] std::size_t format_summary(const HexSummary& summary, MessageBuffer& out) noexcept;
[[nodiscard]] std::size_t format_refusal(Refusal refusal, const HexSummary& summary,
                                         MessageBuffer& out) noexcept;
[[nodiscard]] std::size_t format_written(const Conversion& conversion, MessageBuffer& out) noexcept;

}  // namespace ferrolet
