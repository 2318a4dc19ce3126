#include "send/loop_test.hpp"

#include <algorithm>

namespace ferrolet {

namespace {

[[nodiscard]] Stray stray_kind(std::span<const std::uint8_t> message) noexcept {
  if (message.empty()) return Stray::Other;
  switch (message[0]) {
    case 0xF8:
      return Stray::Clock;
    case 0xFE:
      return Stray::ActiveSensing;
    case 0xF0:
      return Stray::SysEx;
    default:
      return Stray::Other;
  }
}

// True if a SysEx message came from this upload's sending, however damaged: it begins as the
// preamble or as a frame does.
[[nodiscard]] bool looks_sent(std::span<const std::uint8_t> message) noexcept {
  const auto starts = [message](std::span<const std::uint8_t> start) {
    return message.size() >= start.size() &&
           std::equal(start.begin(), start.end(), message.begin());
  };
  return starts(std::span(PREAMBLE).first(3)) || starts(std::span(FRAME_START).first(3));
}

// Notes where `got` first differs from the frame `sent` of plan step `step`.
void note_change(LoopReport& report, std::int32_t step, std::span<const std::uint8_t> sent,
                 std::span<const std::uint8_t> got) noexcept {
  report.changed += 1;
  if (report.changed_step >= 0) return;
  const auto first = std::mismatch(sent.begin(), sent.end(), got.begin(), got.end());
  report.changed_step = step;
  report.changed_at = static_cast<std::size_t>(first.first - sent.begin());
  report.sent_byte = first.first == sent.end() ? -1 : *first.first;
  report.got_byte = first.second == got.end() ? -1 : *first.second;
}

}  // namespace

LoopReport compare_loop(std::span<const std::uint8_t> upload, std::span<const SendStep> plan,
                        std::span<const std::uint8_t> bytes, std::span<const LoopMessage> received,
                        double start_ms) noexcept {
  LoopReport report;
  report.frames = static_cast<std::int32_t>(plan.size());
  report.line_ms = plan.empty() ? 0 : static_cast<double>(plan.back().end_us) / 1000;
  const auto frame = [&](std::size_t step) {
    return upload.subspan(plan[step].offset, plan[step].length);
  };
  std::size_t next = 0;  // the first step not yet accounted for
  for (const LoopMessage& message : received) {
    const auto got = bytes.subspan(message.offset, message.length);
    const auto match = [&](std::size_t step) {
      const auto sent = frame(step);
      return std::equal(sent.begin(), sent.end(), got.begin(), got.end());
    };
    std::size_t step = next;
    while (step < plan.size() && !match(step))
      ++step;
    if (step < plan.size()) {
      report.lost += static_cast<std::int32_t>(step - next);
      report.intact += 1;
      next = step + 1;
    } else if (next < plan.size() && !got.empty() && got[0] == 0xF0 && looks_sent(got)) {
      note_change(report, static_cast<std::int32_t>(next), frame(next), got);
      next += 1;
    } else {
      report.strays[static_cast<std::size_t>(stray_kind(got))] += 1;
      continue;
    }
    report.took_ms = message.at_ms - start_ms;
  }
  report.lost += static_cast<std::int32_t>(plan.size() - next);
  return report;
}

SearchStep next_pause(PauseSearch& search, bool passed) noexcept {
  if (search.tried < 0 && passed) return SearchStep::Carries;
  if (passed && ++search.passes == 2) return SearchStep::Found;
  if (passed) return SearchStep::Run;
  // The next longer pause than the one that failed.
  auto tried = static_cast<std::size_t>(search.tried + 1);
  while (tried < TRIED_PAUSES_MS.size() && TRIED_PAUSES_MS[tried] <= search.pause_ms)
    ++tried;
  if (tried == TRIED_PAUSES_MS.size()) return SearchStep::GaveUp;
  search = {TRIED_PAUSES_MS[tried], static_cast<std::int32_t>(tried), 0};
  return SearchStep::Run;
}

std::int32_t build_test_pattern(FirmwareImage& image, UploadBuffer& upload) noexcept {
  // Every byte value, in an order that changes from block to block.
  for (std::size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<std::uint8_t>(i ^ (i >> 7));
  return build_upload(image, IMAGE_SIZE - 1, upload);
}

}  // namespace ferrolet
