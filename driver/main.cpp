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

// Messages go out as formatted, byte for byte: an unexpected character may be a NUL.
void print(std::string_view text, void* /*context*/ = nullptr) {
  static_cast<void>(std::fwrite(text.data(), 1, text.size(), stdout));
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
  TextTarget printer{print, nullptr};
  const bool read_to_end = read_hex_stream(input, image, summary, say_hex_event, &printer);
  static_cast<void>(std::fclose(input));
  if (!read_to_end) {
    std::printf(INPUT_UNREADABLE, input_path);
    return EXIT_INPUT_UNREADABLE;
  }
  static UploadBuffer upload;
  const Conversion conversion = conclude_read(image, summary, upload, print, nullptr);
  if (conversion.refusal != Refusal::None) return EXIT_REFUSED_INPUT;
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
  MessageBuffer message;
  print(std::string_view(message.data(), format_written(conversion, message)));
  return EXIT_CONVERTED;
}

}  // namespace
}  // namespace ferrolet

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  return ferrolet::run_program(argc, argv, ferrolet::run, "ferrolet");
}
#else
int main(int argc, char** argv) {
  return ferrolet::run_program(argc, argv, ferrolet::run, "ferrolet");
}
#endif
