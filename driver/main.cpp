// ferrolet: converts an Intel HEX firmware image into the SysEx upload file for the device.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "driver/output_file.hpp"
#include "driver/platform.hpp"
#include "hex/hex_reader.hpp"
#include "sysex/sysex_upload.hpp"

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

// The argument must name a file with a three-character extension; the extension itself is not
// examined.
[[nodiscard]] bool valid_command_line(int argc, char** argv) {
  if (argc != 2) return false;
  const std::size_t length = std::strlen(argv[1]);
  return length >= 5 && argv[1][length - 4] == '.';
}

// The input path with its three-character extension replaced by "syx" (a.b.c gives a.syx).
[[nodiscard]] std::string derive_output_path(std::string_view input_path) {
  std::string output(input_path.substr(0, input_path.size() - 3));
  output += "syx";
  return output;
}

int run(int argc, char** argv) {
  std::printf("ferrolet Version 1.00\nHex-File to Sys-Ex Converter for ATMega168 on Tarvenbox\n");
  if (!valid_command_line(argc, argv)) {
    std::printf("\nUsage: ferrolet filename.hex\n");
    return EXIT_WRONG_COMMAND_LINE;
  }
  const char* input_path = argv[1];
  const std::string output_path = derive_output_path(input_path);
  // Decided before the input is opened: opening a FIFO or a device could block or read anything.
  if (would_replace_input(input_path, output_path)) {
    std::printf("Output file %s would replace the input file\n", output_path.c_str());
    return EXIT_WRONG_COMMAND_LINE;
  }
  std::FILE* input = open_file(input_path, "rb");
  if (input == nullptr) {
    // Some systems refuse to open a folder at all; it is still there, just not readable.
    std::error_code ec;
    if (std::filesystem::is_directory(file_path(input_path), ec)) {
      std::printf("Input file %s cannot be read\n", input_path);
    } else {
      std::printf("Input file %s not found\n", input_path);
    }
    return EXIT_INPUT_UNREADABLE;
  }

  static FirmwareImage image{};
  HexSummary summary;
  const bool read_to_end = read_hex_stream(input, image, summary);
  static_cast<void>(std::fclose(input));
  if (!read_to_end) {
    std::printf("Input file %s cannot be read\n", input_path);
    return EXIT_INPUT_UNREADABLE;
  }

  std::printf("\nread %lld charactes, from adress %d to %d with %lld errors\n",
              static_cast<long long>(summary.characters), summary.lowest, summary.highest,
              static_cast<long long>(summary.errors));
  if (summary.lowest != 0) {
    std::printf("Lowest adress %d is not zero!\n", summary.lowest);
    return EXIT_REFUSED_INPUT;
  }
  if (summary.errors != 0) return EXIT_REFUSED_INPUT;
  if (summary.highest >= IMAGE_SIZE) {
    std::printf("Highest address %d does not fit into %d bytes of program memory!\n",
                summary.highest, IMAGE_SIZE);
    return EXIT_REFUSED_INPUT;
  }

  static UploadBuffer upload;
  const std::int32_t blocks = build_upload(image, summary.highest, upload);
  switch (replace_file(output_path, std::span(upload.bytes).first(upload.used))) {
    case WriteResult::Written:
      break;
    case WriteResult::CannotOpen:
      std::printf("Cant open output file %s\n", output_path.c_str());
      return EXIT_OUTPUT_UNWRITABLE;
    case WriteResult::CannotWrite:
      std::printf("Cannot write output file %s\n", output_path.c_str());
      return EXIT_OUTPUT_UNWRITABLE;
  }
  std::printf("%d sysEx data blocks in %d bytes written\n", blocks, static_cast<int>(upload.used));
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
