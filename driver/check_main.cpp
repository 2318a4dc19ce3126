// ferrolet-check: verifies an upload file before it is sent to the device, and optionally that it
// carries exactly a given firmware.
#include <cstdio>
#include <span>
#include <string_view>

#include "core/check_report.hpp"
#include "driver/platform.hpp"

namespace ferrolet {
namespace {

std::array<std::uint8_t, UPLOAD_READ_CAPACITY> upload_bytes;
FirmwareRead firmware;
ReportText report;

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

int run(int argc, char** argv) {
  const std::string_view option = argc == 2 ? argv[1] : "";
  if (option == "--help") {
    std::printf("%.*s", static_cast<int>(CHECK_USAGE_TEXT.size()), CHECK_USAGE_TEXT.data());
    return CHECK_VALID;
  }
  if (option == "--version") {
    std::printf("ferrolet-check " FERROLET_VERSION "\n");
    return CHECK_VALID;
  }
  if (argc != 2 && argc != 3) {
    std::printf("%.*s", static_cast<int>(CHECK_USAGE_TEXT.size()), CHECK_USAGE_TEXT.data());
    return CHECK_USAGE;
  }
  // Both files are read before anything is said, so that a file that cannot be read is reported
  // alone, on standard error.
  const char* upload_path = argv[1];
  std::size_t length = 0;
  if (!load_upload(upload_path, upload_bytes, length)) {
    std::fprintf(stderr, CANNOT_READ_UPLOAD, upload_path);
    return CHECK_USAGE;
  }
  const char* firmware_path = argc == 3 ? argv[2] : nullptr;
  if (firmware_path != nullptr && !load_firmware(firmware_path, firmware)) {
    std::fprintf(stderr, CANNOT_READ_FIRMWARE, firmware_path);
    return CHECK_USAGE;
  }
  const int status =
      write_check_report(std::span<const std::uint8_t>(upload_bytes).first(length), upload_path,
                         firmware_path != nullptr ? &firmware : nullptr, firmware_path, report);
  static_cast<void>(std::fwrite(report.text.data(), 1, report.used, stdout));
  return status;
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
