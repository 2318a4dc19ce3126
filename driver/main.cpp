// ferrolet: converts an Intel HEX firmware image into the SysEx upload file for the device.
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/conversion.hpp"
#include "driver/output_file.hpp"
#include "driver/platform.hpp"

namespace ferrolet {
namespace {

// Exit codes; where only 8 bits of the status survive, -1 ... -4 read 255 ... 252.
enum ExitCode : int {
  EXIT_CONVERTED = 0,
  EXIT_WRONG_COMMAND_LINE = -1,
  EXIT_REFUSED_INPUT = -2,
  EXIT_INPUT_UNREADABLE = -3,
  EXIT_OUTPUT_UNWRITABLE = -4,
};

// Messages go out as formatted, byte for byte: an unexpected character may be a NUL.
void print(std::string_view text) {
  static_cast<void>(std::fwrite(text.data(), 1, text.size(), stdout));
}

void print(const MessageBuffer& message, std::size_t length) {
  print(std::string_view(message.data(), length));
}

void print_hex_event(const HexEvent& event, void* /*context*/) {
  MessageBuffer message;
  print(message, format_hex_event(event, message));
}

int run(int argc, char** argv) {
  print(BANNER);
  // The argument count is tested before the argument is looked at.
  if (argc != 2 || !valid_input_name(argv[1])) {
    print(USAGE);
    return EXIT_WRONG_COMMAND_LINE;
  }
  const char* input_path = argv[1];
  const std::string output_path = derive_output_path(input_path);
  // Decided before the input is opened: opening a FIFO or a device could block or read anything.
  if (would_replace_input(input_path, output_path)) {
    std::printf(WOULD_REPLACE_INPUT, output_path.c_str());
    return EXIT_WRONG_COMMAND_LINE;
  }
  std::FILE* input = open_file(input_path, "rb");
  if (input == nullptr) {
    // Some systems refuse to open a folder at all; it is still there, just not readable.
    std::error_code ec;
    const bool folder = std::filesystem::is_directory(file_path(input_path), ec);
    std::printf(folder ? INPUT_UNREADABLE : INPUT_NOT_FOUND, input_path);
    return EXIT_INPUT_UNREADABLE;
  }

  static FirmwareImage image{};
  HexSummary summary;
  const bool read_to_end = read_hex_stream(input, image, summary, print_hex_event, nullptr);
  static_cast<void>(std::fclose(input));
  if (!read_to_end) {
    std::printf(INPUT_UNREADABLE, input_path);
    return EXIT_INPUT_UNREADABLE;
  }
  MessageBuffer message;
  print(message, format_summary(summary, message));

  static UploadBuffer upload;
  const Conversion conversion = convert_read(image, summary, upload);
  if (conversion.refusal != Refusal::None) {
    print(message, format_refusal(conversion.refusal, summary, message));
    return EXIT_REFUSED_INPUT;
  }
  switch (replace_file(output_path, std::span(upload.bytes).first(conversion.bytes))) {
    case WriteResult::Written:
      break;
    case WriteResult::CannotOpen:
      std::printf(CANNOT_OPEN_OUTPUT, output_path.c_str());
      return EXIT_OUTPUT_UNWRITABLE;
    case WriteResult::CannotWrite:
      std::printf(CANNOT_WRITE_OUTPUT, output_path.c_str());
      return EXIT_OUTPUT_UNWRITABLE;
  }
  print(message, format_written(conversion, message));
  return EXIT_CONVERTED;
}

}  // namespace
}  // namespace ferrolet

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  const int result = run_with_utf8_arguments(argc, argv, ferrolet::run);
  ferrolet::report_lost_output("ferrolet");
  return result;
}
#else
int main(int argc, char** argv) {
  const int result = ferrolet::run(argc, argv);
  ferrolet::report_lost_output("ferrolet");
  return result;
}
#endif
