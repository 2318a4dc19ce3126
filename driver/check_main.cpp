// ferrolet-check: verifies an upload file before it is sent to the device, and optionally that it
// carries exactly a given firmware.
#include <cstdio>
#include <span>
#include <string_view>

#include "check/check_report.hpp"
#include "core/messages.hpp"
#include "driver/platform.hpp"

namespace ferrolet {
namespace {

// What one check reads and works on.
struct CheckFiles {
  std::array<std::uint8_t, UPLOAD_READ_CAPACITY> upload{};
  std::size_t upload_length = 0;
  FirmwareRead firmware;
  UploadContent content{};
};

// Reads a whole file, at most `into.size()` bytes of it; false if it cannot be read.
[[nodiscard]] bool load_upload(const char* path, std::span<std::uint8_t> into,
                               std::size_t& length) {
  std::FILE* file = open_file(path, "rb");
  if (file == nullptr) return false;
  length = std::fread(into.data(), 1, into.size(), file);
  const bool failed = std::ferror(file) != 0;
  static_cast<void>(std::fclose(file));
  return !failed;
}

// Reads a HEX file with the converter's own reader, keeping its first faults for the report.
[[nodiscard]] bool load_firmware(const char* path, FirmwareRead& read) {
  std::FILE* input = open_file(path, "rb");
  if (input == nullptr) return false;
  const bool read_to_end =
      read_hex_stream(input, read.image, read.summary, keep_firmware_fault, &read);
  static_cast<void>(std::fclose(input));
  return read_to_end;
}

// Both files are read before anything is said, so that a file that cannot be read is reported
// alone, on standard error.
int check(const char* upload_path, const char* firmware_path) {
  CheckFiles files;
  if (!load_upload(upload_path, files.upload, files.upload_length)) {
    say(STANDARD_ERROR, CANNOT_READ_UPLOAD, upload_path);
    return CHECK_USAGE;
  }
  if (firmware_path != nullptr && !load_firmware(firmware_path, files.firmware)) {
    say(STANDARD_ERROR, CANNOT_READ_FIRMWARE, firmware_path);
    return CHECK_USAGE;
  }
  return write_check_report(std::span(files.upload).first(files.upload_length), upload_path,
                            firmware_path != nullptr ? &files.firmware : nullptr,
                            firmware_path != nullptr ? firmware_path : "", files.content,
                            STANDARD_OUTPUT);
}

int run(int argc, char** argv) {
  const std::string_view option = argc == 2 ? argv[1] : "";
  if (option == "--version") {
    say(STANDARD_OUTPUT, CHECK_VERSION);
    return CHECK_VALID;
  }
  const bool help = option == "--help";
  if (help || (argc != 2 && argc != 3)) {
    say(STANDARD_OUTPUT, CHECK_USAGE_TEXT, CHECK_VALID, CHECK_INVALID, CHECK_USAGE);
    return help ? CHECK_VALID : CHECK_USAGE;
  }
  return check(argv[1], argc == 3 ? argv[2] : nullptr);
}

}  // namespace
}  // namespace ferrolet

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  return ferrolet::run_program(argc, argv, ferrolet::run, "ferrolet-check");
}
#else
int main(int argc, char** argv) {
  return ferrolet::run_program(argc, argv, ferrolet::run, "ferrolet-check");
}
#endif
