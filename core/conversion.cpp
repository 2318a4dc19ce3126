#include "core/conversion.hpp"

#include "core/messages.hpp"

namespace ferrolet {

namespace {

void say_readable_hex_fault(const HexEvent& event, void* text_sink) {
  say_hex_event(*static_cast<const TextSink*>(text_sink), event, RawBytes::Readable);
}

void say_refusal(const TextSink& sink, Refusal refusal, const HexSummary& summary) noexcept {
  switch (refusal) {
    case Refusal::None:
    case Refusal::ReadErrors:  // the faults have been said one by one
      return;
    case Refusal::LowestNotZero:
      return say(sink, LOWEST_NOT_ZERO, summary.lowest);
    case Refusal::BeyondMemory:
      return say(sink, BEYOND_MEMORY, summary.highest, IMAGE_SIZE);
    case Refusal::NothingBuilt:
      return say(sink, NOTHING_BUILT, summary.highest);
  }
}

// Says why the input could not be read, if it could not; returns false then.
[[nodiscard]] bool say_unread(InputRead read, const ConversionFrontEnd& front_end,
                              const ConversionWork& work) {
  switch (read) {
    case InputRead::Read:
      return true;
    case InputRead::NotFound:
      say(front_end.say, INPUT_NOT_FOUND, work.input);
      return false;
    case InputRead::CannotRead:
      say(front_end.say, INPUT_UNREADABLE, work.input);
      return false;
  }
  return false;
}

// Delivers the built upload and says how that ended; returns the exit code.
[[nodiscard]] int deliver(const ConversionFrontEnd& front_end, const ConversionWork& work) {
  const auto upload = std::span(work.upload.bytes).first(work.conversion.bytes);
  switch (front_end.deliver(work.output, upload, front_end.context)) {
    case WriteResult::Written:
      say(front_end.say, WRITTEN, work.conversion.blocks,
          static_cast<Number>(work.conversion.bytes));
      return EXIT_CONVERTED;
    case WriteResult::CannotOpen:
      say(front_end.say, CANNOT_OPEN_OUTPUT, work.output);
      return EXIT_OUTPUT_UNWRITABLE;
    case WriteResult::CannotWrite:
      say(front_end.say, CANNOT_WRITE_OUTPUT, work.output);
      return EXIT_OUTPUT_UNWRITABLE;
  }
  return EXIT_OUTPUT_UNWRITABLE;
}

}  // namespace

Refusal refusal_of(const HexSummary& summary) noexcept {
  if (summary.lowest != 0) return Refusal::LowestNotZero;
  if (summary.errors != 0) return Refusal::ReadErrors;
  if (summary.highest >= IMAGE_SIZE) return Refusal::BeyondMemory;
  return Refusal::None;
}

Conversion convert_read(const FirmwareImage& image, const HexSummary& summary,
                        UploadBuffer& upload) noexcept {
  upload.used = 0;
  const Refusal refusal = refusal_of(summary);
  if (refusal != Refusal::None) return {refusal, 0, 0};
  const std::int32_t blocks = build_upload(image, summary.highest, upload);
  if (blocks <= 0 || upload.used == 0) return {Refusal::NothingBuilt, 0, 0};
  return {Refusal::None, blocks, upload.used};
}

Conversion conclude_read(const FirmwareImage& image, const HexSummary& summary,
                         UploadBuffer& upload, const TextSink& sink) noexcept {
  say_summary(sink, summary);
  const Conversion conversion = convert_read(image, summary, upload);
  say_refusal(sink, conversion.refusal, summary);
  return conversion;
}

void say_hex_fault(const HexEvent& event, void* text_sink) {
  say_hex_event(*static_cast<const TextSink*>(text_sink), event);
}

bool valid_input_name(std::string_view name) noexcept {
  return name.size() >= 5 && name[name.size() - 4] == '.';
}

std::string derive_output_path(std::string_view input_path) {
  std::string output(input_path.substr(0, input_path.size() - 3));
  output += "syx";
  return output;
}

std::optional<int> begin_conversion(std::span<const std::string_view> arguments,
                                    const ConversionFrontEnd& front_end, ConversionWork& work) {
  // The argument count is tested before the argument is looked at.
  if (arguments.size() != 1 || !valid_input_name(arguments[0])) {
    say(front_end.say, USAGE);
    return EXIT_WRONG_COMMAND_LINE;
  }
  work.input = arguments[0];
  work.output = derive_output_path(work.input);
  // Decided before the input is opened: opening a FIFO or a device could block or read anything.
  if (front_end.would_replace_input(work.input, work.output, front_end.context)) {
    say(front_end.say, WOULD_REPLACE_INPUT, work.output);
    return EXIT_WRONG_COMMAND_LINE;
  }
  return std::nullopt;
}

int end_conversion(InputRead read, const ConversionFrontEnd& front_end, ConversionWork& work) {
  if (!say_unread(read, front_end, work)) return EXIT_INPUT_UNREADABLE;
  work.conversion = conclude_read(work.image, work.summary, work.upload, front_end.say);
  if (work.conversion.refusal != Refusal::None) return EXIT_REFUSED_INPUT;
  return deliver(front_end, work);
}

HexEventSink fault_sayer(RawBytes raw) noexcept {
  return raw == RawBytes::Readable ? say_readable_hex_fault : say_hex_fault;
}

int run_conversion(std::span<const std::string_view> arguments, const ConversionFrontEnd& front_end,
                   ConversionWork& work) {
  if (const std::optional<int> ended = begin_conversion(arguments, front_end, work)) return *ended;
  TextSink faults = front_end.say;
  const InputRead read = front_end.read_input(
      work.input, work.image, work.summary, fault_sayer(front_end.raw), &faults, front_end.context);
  return end_conversion(read, front_end, work);
}

}  // namespace ferrolet
