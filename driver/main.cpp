// ferrolet: converts an Intel HEX firmware image into the SysEx upload file for the device. The
// run itself is the core's; this program supplies the files and the process.
#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/conversion.hpp"
#include "core/messages.hpp"
#include "driver/output_file.hpp"
#include "driver/platform.hpp"

namespace ferrolet {
namespace {

[[nodiscard]] bool replaces_input(std::string_view input, const std::string& output,
                                  void* /*context*/) {
  return would_replace_input(std::string(input), output);
}

[[nodiscard]] InputRead read_file(std::string_view input, FirmwareImage& image, HexSummary& summary,
                                  HexEventSink fault, void* fault_context, void* /*context*/) {
  const std::string path(input);
  std::FILE* file = open_file(path.c_str(), "rb");
  if (file == nullptr) {
    // Some systems refuse to open a folder at all; it is still there, just not readable.
    std::error_code ec;
    return std::filesystem::is_directory(file_path(path), ec) ? InputRead::CannotRead
                                                              : InputRead::NotFound;
  }
  const bool read_to_end = read_hex_stream(file, image, summary, fault, fault_context);
  static_cast<void>(std::fclose(file));
  return read_to_end ? InputRead::Read : InputRead::CannotRead;
}

[[nodiscard]] WriteResult write_upload(const std::string& output,
                                       std::span<const std::uint8_t> upload, void* /*context*/) {
  return replace_file(output, upload);
}

int run(int argc, char** argv) {
  say(STANDARD_OUTPUT, BANNER);
  // One argument is a command line; the run refuses anything else, and two stand for many.
  std::array<std::string_view, 2> arguments{};
  const auto given = static_cast<std::size_t>(std::clamp(argc - 1, 0, 2));
  for (std::size_t i = 0; i < given; ++i)
    arguments[i] = argv[i + 1];
  const ConversionFrontEnd files{STANDARD_OUTPUT, RawBytes::AsTheyAre, replaces_input,
                                 read_file,       write_upload,        nullptr};
  ConversionWork work;
  return run_conversion(std::span(arguments).first(given), files, work);
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
