// The conversion core that every front end shares (the command, the fuzz target, the web page):
// the run's sequence from the file name to the result message, the decision on a read, the build
// of the upload and the naming rules. It never touches a file or the process: the front end
// hands it the ways to read the input and to deliver the upload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/messages.hpp"
#include "core/text.hpp"
#include "hex/hex_reader.hpp"
#include "sysex/sysex_upload.hpp"

namespace ferrolet {

// The command's exit codes; where only 8 bits of the status survive, -1 ... -4 read 255 ... 252.
enum ExitCode : int {
  EXIT_CONVERTED = 0,
  EXIT_WRONG_COMMAND_LINE = -1,
  EXIT_REFUSED_INPUT = -2,
  EXIT_INPUT_UNREADABLE = -3,
  EXIT_OUTPUT_UNWRITABLE = -4,
};

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

// Says the summary of a finished read and, for a refused read, why; otherwise builds the upload.
[[nodiscard]] Conversion conclude_read(const FirmwareImage& image, const HexSummary& summary,
                                       UploadBuffer& upload, const TextSink& say) noexcept;

// A HexEventSink that says each reader fault to the TextSink given as its context.
void say_hex_fault(const HexEvent& event, void* text_sink);

// The command-line rule for the input's name: at least 5 bytes with a '.' fourth from the end,
// a three-character extension that is not examined.
[[nodiscard]] bool valid_input_name(std::string_view name) noexcept;

// The upload's name for a valid input name: its three-character extension replaced by "syx"
// (a.b.c gives a.syx).
[[nodiscard]] std::string derive_output_path(std::string_view input_path);

// How a front end's read of the input ended.
enum class InputRead : std::uint8_t {
  Read,        // to its end
  NotFound,    // missing, or it could not be opened
  CannotRead,  // it opened but could not be read to its end (a folder, a read error)
};

// How a front end's delivery of the upload ended.
enum class WriteResult : std::uint8_t {
  Written,
  CannotOpen,   // the path is not a regular file, or no file can be created beside it
  CannotWrite,  // the write, the close or the final replacement failed; nothing was changed
};

// What a front end supplies to a conversion run; `context` is handed to each.
struct ConversionFrontEnd {
  TextSink say;
  // How an unexpected character is shown: raw, as the command prints it, or readable.
  RawBytes raw;
  // True if writing `output` would replace the file `input` names.
  bool (*would_replace_input)(std::string_view input, const std::string& output, void* context);
  // Reads `input` to its end with the reader, handing each fault to `fault` with `fault_context`
  // (run_conversion calls it; a front end that reads on its own calls the two halves instead).
  InputRead (*read_input)(std::string_view input, FirmwareImage& image, HexSummary& summary,
                          HexEventSink fault, void* fault_context, void* context);
  // Delivers the finished upload under the name `output`.
  WriteResult (*deliver)(const std::string& output, std::span<const std::uint8_t> upload,
                         void* context);
  void* context;
};

// Everything a run works on; a fresh one for every run.
struct ConversionWork {
  FirmwareImage image{};
  HexSummary summary;
  UploadBuffer upload;
  Conversion conversion;
  std::string input;
  std::string output;
};

// Runs one conversion of the command-line arguments that follow the program's name: checks
// them, reads the input, decides, builds and delivers the upload, and says each message on the
// way. Returns the exit code. It is the two halves below with the front end's read between them.
[[nodiscard]] int run_conversion(std::span<const std::string_view> arguments,
                                 const ConversionFrontEnd& front_end, ConversionWork& work);

// The run up to the read: checks the arguments and that the upload would not replace the input.
// Returns the exit code if the run ends there (having said why), nothing if the input is to be
// read into work.image and work.summary.
[[nodiscard]] std::optional<int> begin_conversion(std::span<const std::string_view> arguments,
                                                  const ConversionFrontEnd& front_end,
                                                  ConversionWork& work);

// The run after the read, which ended as `read` says: the summary, the decision, the build and
// the delivery of the upload, each with its message. Returns the exit code.
[[nodiscard]] int end_conversion(InputRead read, const ConversionFrontEnd& front_end,
                                 ConversionWork& work);

// The HexEventSink that says each reader fault, shown as `raw` asks, to the TextSink given as its
// context.
[[nodiscard]] HexEventSink fault_sayer(RawBytes raw) noexcept;

}  // namespace ferrolet
