// ferrolet-check: verifies an upload file before it is sent to the device, and optionally that it
// carries exactly a given firmware.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

#include "driver/platform.hpp"
#include "hex/hex_reader.hpp"
#include "sysex/sysex_upload.hpp"

namespace ferrolet {
namespace {

enum CheckExit : int {
  CHECK_VALID = 0,
  CHECK_INVALID = 1,  // the upload is broken, or does not carry the firmware
  CHECK_USAGE = 2,    // wrong command line, or a file that cannot be read
};

constexpr int MAP_WIDTH = 64;

// Block map characters.
constexpr char MAP_DATA = '#';
constexpr char MAP_ZERO = '.';
constexpr char MAP_FILLER = '+';
constexpr char MAP_DIFFERS = 'X';

// Room for the largest upload and one byte more, so that a longer file is recognised as such.
std::array<std::uint8_t, OUTPUT_CAPACITY + 1> file_bytes;
std::array<std::uint8_t, IMAGE_SIZE> content;
FirmwareImage image;

void usage() {
  std::printf(
      "Usage: ferrolet-check FILE.syx [FIRMWARE.hex]\n"
      "Checks an upload file made by ferrolet; with a HEX file, also that the upload carries\n"
      "exactly that firmware. Exit status: 0 valid, 1 invalid or different, 2 usage or unreadable "
      "file.\n");
}

// True if block[used ..] is the filler text from its first character (with the 0x00 that follows
// a single image byte).
[[nodiscard]] bool tail_is_filler(std::span<const std::uint8_t> block, int used) {
  for (int i = used; i < BLOCK_SIZE; ++i) {
    const auto k = static_cast<std::size_t>(i - used);
    const std::uint8_t expected =
        k < UPLOAD_FILLER.size() ? static_cast<std::uint8_t>(UPLOAD_FILLER[k]) : 0;
    if (block[static_cast<std::size_t>(i)] != expected) return false;
  }
  return true;
}

// Whether a last block, judged from its content alone, ends in filler.
[[nodiscard]] bool has_filler(std::span<const std::uint8_t> block) {
  for (int used = 1; used < BLOCK_SIZE; ++used) {
    if (tail_is_filler(block, used)) return true;
  }
  return false;
}

[[nodiscard]] bool all_zero(std::span<const std::uint8_t> bytes) {
  for (const std::uint8_t b : bytes) {
    if (b != 0) return false;
  }
  return true;
}

[[nodiscard]] const char* frame_name(std::int32_t frame, char (&text)[32]) {
  if (frame < 0) return "the file layout";
  if (frame == 0) return "the header block";
  static_cast<void>(std::snprintf(text, sizeof text, "data block %d", frame));
  return text;
}

// Reads a whole file into `into`; returns its length, or -1 if it cannot be read, or the capacity
// if it is longer.
[[nodiscard]] long read_file(const char* path, std::span<std::uint8_t> into) {
  std::FILE* file = open_file(path, "rb");
  if (file == nullptr) return -1;
  const std::size_t got = std::fread(into.data(), 1, into.size(), file);
  const bool failed = std::ferror(file) != 0;
  static_cast<void>(std::fclose(file));
  return failed ? -1 : static_cast<long>(got);
}

int run(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    usage();
    return CHECK_USAGE;
  }
  const char* upload_path = argv[1];
  const long length = read_file(upload_path, file_bytes);
  if (length < 0) {
    std::printf("Cannot read upload file %s\n", upload_path);
    return CHECK_USAGE;
  }
  if (length > static_cast<long>(OUTPUT_CAPACITY)) {
    std::printf("upload %s: more than %d bytes, longer than any upload\nINVALID\n", upload_path,
                static_cast<int>(OUTPUT_CAPACITY));
    return CHECK_INVALID;
  }
  const auto file =
      std::span<const std::uint8_t>(file_bytes).first(static_cast<std::size_t>(length));
  const UploadCheck check = decode_upload(file, content);
  std::printf("upload %s: %ld bytes, %d data blocks announced\n", upload_path, length,
              check.blocks);
  if (check.fault != UploadFault::None) {
    char name[32];
    const std::string_view text = upload_fault_text(check.fault);
    std::printf("fault in %s at byte %llu: %.*s\nINVALID\n", frame_name(check.frame, name),
                static_cast<unsigned long long>(check.offset), static_cast<int>(text.size()),
                text.data());
    return CHECK_INVALID;
  }
  std::printf("every frame, CRC and block number is valid\n");

  // With a HEX file: the firmware's highest address, and the first block that differs.
  const char* hex_path = argc == 3 ? argv[2] : nullptr;
  std::int32_t highest = -1;
  long first_difference = -1;
  if (hex_path != nullptr) {
    std::FILE* input = open_file(hex_path, "rb");
    if (input == nullptr) {
      std::printf("Cannot read firmware file %s\n", hex_path);
      return CHECK_USAGE;
    }
    image.fill(0);
    HexSummary summary;
    const bool read_to_end = read_hex_stream(input, image, summary);
    static_cast<void>(std::fclose(input));
    if (!read_to_end) {
      std::printf("Cannot read firmware file %s\n", hex_path);
      return CHECK_USAGE;
    }
    if (summary.errors != 0 || summary.lowest != 0 || summary.highest >= IMAGE_SIZE) {
      std::printf(
          "firmware %s: %lld errors, addresses %d to %d; ferrolet would not convert it\n"
          "DIFFERENT\n",
          hex_path, static_cast<long long>(summary.errors), summary.lowest, summary.highest);
      return CHECK_INVALID;
    }
    highest = summary.highest;
    std::printf("firmware %s: addresses 0 to %d, %d data blocks\n", hex_path, highest,
                highest / BLOCK_SIZE + 1);
    const std::int32_t carried = std::min(highest + 1, check.blocks * BLOCK_SIZE);
    for (std::int32_t a = 0; a < carried && first_difference < 0; ++a) {
      if (content[static_cast<std::size_t>(a)] != image[static_cast<std::size_t>(a)]) {
        first_difference = a;
      }
    }
  }

  std::printf("block map (%c data, %c all 0x00, %c data then filler%s):\n", MAP_DATA, MAP_ZERO,
              MAP_FILLER, hex_path != nullptr ? ", X differs from the firmware" : "");
  for (std::int32_t block = 0; block < check.blocks; ++block) {
    const auto bytes = std::span<const std::uint8_t>(content).subspan(
        static_cast<std::size_t>(block) * BLOCK_SIZE, BLOCK_SIZE);
    const bool last = block == check.blocks - 1;
    char mark = all_zero(bytes) ? MAP_ZERO : MAP_DATA;
    if (last && has_filler(bytes)) mark = MAP_FILLER;
    if (hex_path != nullptr) {
      for (std::int32_t i = 0; i < BLOCK_SIZE; ++i) {
        const std::int32_t address = block * BLOCK_SIZE + i;
        if (address <= highest &&
            bytes[static_cast<std::size_t>(i)] != image[static_cast<std::size_t>(address)]) {
          mark = MAP_DIFFERS;
          break;
        }
      }
    }
    std::putchar(mark);
    if ((block + 1) % MAP_WIDTH == 0 || last) std::putchar('\n');
  }

  if (hex_path == nullptr) {
    std::printf("VALID\n");
    return CHECK_VALID;
  }
  const std::int32_t needed = highest / BLOCK_SIZE + 1;
  if (first_difference >= 0) {
    const auto a = static_cast<std::size_t>(first_difference);
    std::printf("first difference at address %ld (0x%04lX): upload 0x%02X, firmware 0x%02X\n",
                first_difference, static_cast<unsigned long>(first_difference), content[a],
                image[a]);
    std::printf("DIFFERENT\n");
    return CHECK_INVALID;
  }
  if (check.blocks != needed) {
    std::printf("the upload has %d data blocks, the firmware needs %d\nDIFFERENT\n", check.blocks,
                needed);
    return CHECK_INVALID;
  }
  // Behind the firmware's last byte the upload must carry the filler, not more data.
  const auto last_block = std::span<const std::uint8_t>(content).subspan(
      static_cast<std::size_t>(needed - 1) * BLOCK_SIZE, BLOCK_SIZE);
  if (!tail_is_filler(last_block, highest + 1 - (needed - 1) * BLOCK_SIZE)) {
    std::printf("the upload carries more than the firmware past address %d\nDIFFERENT\n", highest);
    return CHECK_INVALID;
  }
  std::printf("the upload carries exactly this firmware\nVALID\n");
  return CHECK_VALID;
}

}  // namespace
}  // namespace ferrolet

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  const int result = run_with_utf8_arguments(argc, argv, ferrolet::run);
  ferrolet::report_lost_output("ferrolet-check");
  return result;
}
#else
int main(int argc, char** argv) {
  const int result = ferrolet::run(argc, argv);
  ferrolet::report_lost_output("ferrolet-check");
  return result;
}
#endif
