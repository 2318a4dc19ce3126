#include "core/conversion.hpp"

#include <algorithm>
#include <cstdio>

namespace ferrolet {

namespace {

// The length snprintf reports, never more than the buffer holds.
std::size_t fitted(int length, const MessageBuffer& out) noexcept {
  if (length <= 0) return 0;
  return std::min(static_cast<std::size_t>(length), out.size() - 1);
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
                         UploadBuffer& upload, TextSink say, void* context) {
  MessageBuffer message;
  say(std::string_view(message.data(), format_summary(summary, message)), context);
  const Conversion conversion = convert_read(image, summary, upload);
  say(std::string_view(message.data(), format_refusal(conversion.refusal, summary, message)),
      context);
  return conversion;
}

void say_hex_event(const HexEvent& event, void* text_target) {
  const auto& target = *static_cast<const TextTarget*>(text_target);
  MessageBuffer message;
  target.say(std::string_view(message.data(), format_hex_event(event, message)), target.context);
}

bool valid_input_name(std::string_view name) noexcept {
  return name.size() >= 5 && name[name.size() - 4] == '.';
}

std::string derive_output_path(std::string_view input_path) {
  std::string output(input_path.substr(0, input_path.size() - 3));
  output += "syx";
  return output;
}

std::size_t format_hex_event(const HexEvent& event, MessageBuffer& out) noexcept {
  const auto line = static_cast<long long>(event.line);
  switch (event.fault) {
    case HexFault::None:
      return 0;
    case HexFault::UnexpectedCharacter:
      // The byte goes out raw, whatever it is: a tab as a tab, 0x80..0xFF as that byte.
      return fitted(std::snprintf(out.data(), out.size(), "Line %lld unexpected character (%c)\n",
                                  line, event.value),
                    out);
    case HexFault::ChecksumError:
      return fitted(std::snprintf(out.data(), out.size(), "Line %lld Checksum error (sum=%d)\n",
                                  line, event.value),
                    out);
    case HexFault::IncompleteRecord:
      return fitted(std::snprintf(out.data(), out.size(), "Line %lld incomplete record\n", line),
                    out);
  }
  return 0;
}

std::size_t format_summary(const HexSummary& summary, MessageBuffer& out) noexcept {
  return fitted(std::snprintf(out.data(), out.size(),
                              "\nread %lld charactes, from adress %d to %d with %lld errors\n",
                              static_cast<long long>(summary.characters), summary.lowest,
                              summary.highest, static_cast<long long>(summary.errors)),
                out);
}

std::size_t format_refusal(Refusal refusal, const HexSummary& summary,
                           MessageBuffer& out) noexcept {
  switch (refusal) {
    case Refusal::None:
    case Refusal::ReadErrors:
      return 0;
    case Refusal::LowestNotZero:
      return fitted(
          std::snprintf(out.data(), out.size(), "Lowest adress %d is not zero!\n", summary.lowest),
          out);
    case Refusal::BeyondMemory:
      return fitted(
          std::snprintf(out.data(), out.size(),
                        "Highest address %d does not fit into %d bytes of program memory!\n",
                        summary.highest, IMAGE_SIZE),
          out);
    case Refusal::NothingBuilt:
      return fitted(
          std::snprintf(out.data(), out.size(), "No upload could be built for addresses 0 to %d\n",
                        summary.highest),
          out);
  }
  return 0;
}

std::size_t format_written(const Conversion& conversion, MessageBuffer& out) noexcept {
  return fitted(std::snprintf(out.data(), out.size(), "%d sysEx data blocks in %d bytes written\n",
                              conversion.blocks, static_cast<int>(conversion.bytes)),
                out);
}

}  // namespace ferrolet
