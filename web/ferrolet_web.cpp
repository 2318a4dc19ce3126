// The web page's entry points: the conversion core compiled to WebAssembly. The page hands over
// file bytes and names, and gets back exactly what the command and ferrolet-check would show,
// the upload, and the plan for sending it; it reimplements none of the rules.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/check_report.hpp"
#include "core/conversion.hpp"
#include "core/send_plan.hpp"

namespace ferrolet {
namespace {

// What the page filled in before a call.
std::vector<std::uint8_t> first_input;
std::vector<std::uint8_t> second_input;

// What a call leaves for the page to read.
std::string text;
std::string verdict;
std::string upload_name;
UploadBuffer upload;
std::size_t upload_bytes = 0;
BlockMapText block_map;
std::size_t block_map_length = 0;
SendPlan plan;
std::size_t plan_steps = 0;

FirmwareImage image;
FirmwareRead firmware;
ReportText report;

void append(std::string_view said, void* /*context*/) {
  text.append(said);
}

std::string_view as_text(const std::vector<std::uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// A sentence for the page's verdict line.
std::string verdict_of(int exit_code, Refusal refusal, const Conversion& conversion) {
  if (exit_code == EXIT_WRONG_COMMAND_LINE) {
    return "Refused: the file name needs a three-character extension, like firmware.hex.";
  }
  switch (refusal) {
    case Refusal::None:
      return "Converted: " + std::to_string(conversion.blocks) + " data blocks, " +
             std::to_string(conversion.bytes) + " bytes, ready to download or send.";
    case Refusal::LowestNotZero:
      return "Refused: the firmware's data do not start at address 0.";
    case Refusal::ReadErrors:
      return "Refused: the HEX file has errors; the messages below name each one.";
    case Refusal::BeyondMemory:
      return "Refused: the firmware does not fit into the 16 KB of program memory.";
    case Refusal::NothingBuilt:
      return "Refused: no upload could be built.";
  }
  return {};
}

}  // namespace
}  // namespace ferrolet

using namespace ferrolet;

extern "C" {

// Room for the page to copy a file of `size` bytes into: the first or the second input.
EMSCRIPTEN_KEEPALIVE std::uint8_t* web_input(int which, std::size_t size) {
  std::vector<std::uint8_t>& input = which == 0 ? first_input : second_input;
  input.assign(size, 0);
  return input.data();
}

// Converts the first input as `ferrolet NAME` would; the messages after the banner, the
// verdict, the upload, its name and its block map are left to read. Returns the exit code.
EMSCRIPTEN_KEEPALIVE int web_convert(const char* name) {
  text.clear();
  upload_bytes = 0;
  block_map_length = 0;
  upload_name.clear();
  if (!valid_input_name(name)) {
    text = USAGE;
    verdict = verdict_of(EXIT_WRONG_COMMAND_LINE, Refusal::None, {});
    return EXIT_WRONG_COMMAND_LINE;
  }
  image.fill(0);
  HexSummary summary;
  TextTarget target{append, nullptr};
  read_hex_bytes(as_text(first_input), image, summary, say_hex_event, &target);
  const Conversion conversion = conclude_read(image, summary, upload, append, nullptr);
  verdict = verdict_of(EXIT_CONVERTED, conversion.refusal, conversion);
  if (conversion.refusal != Refusal::None) return EXIT_REFUSED_INPUT;
  // In the page the upload is delivered at once: the download is offered with this name.
  upload_bytes = conversion.bytes;
  upload_name = derive_output_path(name);
  MessageBuffer message;
  text.append(message.data(), format_written(conversion, message));
  block_map_length = draw_upload_block_map(std::span(upload.bytes).first(upload_bytes), block_map);
  return EXIT_CONVERTED;
}

// Checks the first input as an upload named `upload_file`, against the second input read as the
// firmware named `firmware_file` unless that is empty, as ferrolet-check would. Returns its exit
// status; the report is left to read.
EMSCRIPTEN_KEEPALIVE int web_check(const char* upload_file, const char* firmware_file) {
  const bool with_firmware = firmware_file != nullptr && *firmware_file != '\0';
  if (with_firmware) {
    firmware = FirmwareRead{};
    read_hex_bytes(as_text(second_input), firmware.image, firmware.summary, keep_firmware_fault,
                   &firmware);
  }
  report.used = 0;
  const int status = write_check_report(first_input, upload_file,
                                        with_firmware ? &firmware : nullptr, firmware_file, report);
  text.assign(report.text.data(), report.used);
  if (status == CHECK_VALID) {
    verdict = with_firmware ? "Valid: the upload is whole and carries exactly this firmware."
                            : "Valid: every frame, CRC and block number is right.";
  } else {
    verdict = with_firmware ? "Not this firmware, or a broken upload: see the report."
                            : "Invalid: the upload is broken; do not send it.";
  }
  return status;
}

// Plans the sending of the first input, an upload, with `extra_pause_us` between frames; returns
// the number of messages (0 for an invalid upload).
EMSCRIPTEN_KEEPALIVE int web_plan_send(double extra_pause_us) {
  plan_steps = plan_send(first_input, static_cast<std::int64_t>(extra_pause_us), plan);
  return static_cast<int>(plan_steps);
}

// Message `i` of the plan: `field` asks for its offset, length, due time, end time (µs) or block.
EMSCRIPTEN_KEEPALIVE double web_plan_step(int i, int field) {
  const SendStep& step = plan[static_cast<std::size_t>(i)];
  switch (field) {
    case 0:
      return static_cast<double>(step.offset);
    case 1:
      return static_cast<double>(step.length);
    case 2:
      return static_cast<double>(step.at_us);
    case 3:
      return static_cast<double>(step.end_us);
    default:
      return step.block;
  }
}

EMSCRIPTEN_KEEPALIVE const char* web_text() {
  return text.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t web_text_size() {
  return text.size();
}
EMSCRIPTEN_KEEPALIVE const char* web_verdict() {
  return verdict.c_str();
}
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_upload() {
  return upload.bytes.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t web_upload_size() {
  return upload_bytes;
}
EMSCRIPTEN_KEEPALIVE const char* web_upload_name() {
  return upload_name.c_str();
}
EMSCRIPTEN_KEEPALIVE const char* web_block_map() {
  return block_map.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t web_block_map_size() {
  return block_map_length;
}

}  // extern "C"
