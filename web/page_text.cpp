#include "web/page_text.hpp"

#include <string>

#include "check/check_report.hpp"
#include "web/page_messages.hpp"

namespace ferrolet {

void say_conversion_verdict(const TextSink& sink, int exit_code, const ConversionWork& work) {
  if (exit_code == EXIT_WRONG_COMMAND_LINE) return say(sink, VERDICT_BAD_NAME);
  if (exit_code == EXIT_INPUT_UNREADABLE) return say(sink, VERDICT_UNREADABLE);
  switch (work.conversion.refusal) {
    case Refusal::None:
      return say(sink, VERDICT_CONVERTED, work.conversion.blocks,
                 static_cast<Number>(work.conversion.bytes));
    case Refusal::LowestNotZero:
      return say(sink, VERDICT_NOT_AT_ZERO);
    case Refusal::ReadErrors:
      return say(sink, VERDICT_READ_ERRORS);
    case Refusal::BeyondMemory:
      return say(sink, VERDICT_BEYOND_MEMORY, IMAGE_SIZE / 1024);
    case Refusal::NothingBuilt:
      return say(sink, VERDICT_NOTHING_BUILT);
  }
}

FileKind file_kind(std::span<const std::uint8_t> start, std::uint64_t size) noexcept {
  if (size == 0) return FileKind::Empty;
  if (!start.empty() && start[0] == PREAMBLE[0]) return FileKind::Upload;
  constexpr std::string_view SPACE = " \t\r\n\xEF\xBB\xBF";  // with a UTF-8 byte order mark
  for (const std::uint8_t byte : start) {
    if (byte == ':') return FileKind::HexText;
    if (SPACE.find(static_cast<char>(byte)) == std::string_view::npos) return FileKind::Other;
  }
  return FileKind::Other;
}

void say_firmware_hint(const TextSink& sink, std::string_view name, FileKind kind) noexcept {
  switch (kind) {
    case FileKind::Empty:
      return say(sink, HINT_EMPTY_FIRMWARE, name);
    case FileKind::Upload:
      return say(sink, HINT_UPLOAD_IN_CONVERT, name);
    case FileKind::Other:
      return say(sink, HINT_NOT_HEX, name);
    case FileKind::HexText:
      return;
  }
}

void say_upload_hint(const TextSink& sink, std::string_view name, FileKind kind) noexcept {
  switch (kind) {
    case FileKind::Empty:
      return say(sink, HINT_EMPTY_UPLOAD, name);
    case FileKind::HexText:
      return say(sink, HINT_HEX_IN_CHECK, name);
    case FileKind::Upload:
    case FileKind::Other:
      return;
  }
}

void say_check_verdict(const TextSink& sink, int status, bool with_firmware,
                       FileKind kind) noexcept {
  if (status != CHECK_VALID && kind == FileKind::HexText) {
    say(sink, VERDICT_NOT_AN_UPLOAD);
  } else if (status == CHECK_VALID) {
    say(sink, with_firmware ? VERDICT_FIRMWARE_CARRIED : VERDICT_UPLOAD_VALID);
  } else {
    say(sink, with_firmware ? VERDICT_FIRMWARE_DIFFERS : VERDICT_UPLOAD_INVALID);
  }
}

Browser browser_of(std::string_view user_agent) {
  if (user_agent.find("Firefox/") != std::string_view::npos) return Browser::Firefox;
  const bool chromium = user_agent.find("Chrome/") != std::string_view::npos ||
                        user_agent.find("Chromium/") != std::string_view::npos;
  if (!chromium && user_agent.find("Safari/") != std::string_view::npos) return Browser::Safari;
  return Browser::Other;
}

namespace {

void append(std::string_view piece, void* text) {
  static_cast<std::string*>(text)->append(piece);
}

}  // namespace

TextSink into(std::string& text) {
  return {append, &text};
}

namespace {

// The frame of plan step `step`, as the test report names it.
std::string frame_name(std::span<const SendStep> plan, std::int32_t step) {
  const std::int32_t block = plan[static_cast<std::size_t>(step)].block;
  std::string name;
  const TextSink sink = into(name);
  if (block < 0) {
    say(sink, LOOP_PREAMBLE);
  } else if (block == 0) {
    say(sink, LOOP_HEADER);
  } else {
    say(sink, LOOP_BLOCK, block);
  }
  return name;
}

}  // namespace

void say_loop_report(const TextSink& sink, const LoopReport& report, std::span<const SendStep> plan,
                     std::int64_t pause_ms) {
  say(sink, LOOP_COUNTS, pause_ms, report.intact, report.frames, report.lost, report.changed);
  if (report.changed_step >= 0 && report.sent_byte >= 0 && report.got_byte >= 0) {
    say(sink, LOOP_FIRST_CHANGE, frame_name(plan, report.changed_step),
        static_cast<Number>(report.changed_at),
        Hex{static_cast<std::uint32_t>(report.sent_byte), 2},
        Hex{static_cast<std::uint32_t>(report.got_byte), 2});
  } else if (report.changed_step >= 0) {
    say(sink, LOOP_FIRST_CUT, frame_name(plan, report.changed_step),
        static_cast<Number>(report.changed_at + (report.got_byte >= 0 ? 1 : 0)));
  }
  say(sink, LOOP_TIME, Seconds{static_cast<std::int64_t>(report.took_ms * 1000)},
      Seconds{static_cast<std::int64_t>(report.line_ms * 1000)});
  const auto& strays = report.strays;
  const std::int64_t all = strays[0] + strays[1] + strays[2] + strays[3];
  if (all > 0) say(sink, LOOP_STRAYS, all, strays[0], strays[1], strays[2], strays[3]);
}

}  // namespace ferrolet
