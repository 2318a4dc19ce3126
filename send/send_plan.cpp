#include "send/send_plan.hpp"

#include <algorithm>

namespace ferrolet {

std::size_t plan_send(std::span<const std::uint8_t> upload, std::int64_t extra_pause_us,
                      SendPlan& plan, UploadContent& content) noexcept {
  const UploadCheck check = decode_upload(upload, content);
  if (check.fault != UploadFault::None) return 0;
  const std::int64_t pause =
      std::clamp<std::int64_t>(extra_pause_us, 0, MAX_EXTRA_PAUSE_MICROSECONDS);
  const auto wire_time = [](std::size_t bytes) {
    return static_cast<std::int64_t>(bytes) * DIN_MICROSECONDS_PER_BYTE;
  };
  plan[0] = {0, PREAMBLE_SIZE, 0, wire_time(PREAMBLE_SIZE), -1};
  // The gap travels as silence: its zero bytes are no MIDI message.
  std::int64_t next = wire_time(PREAMBLE_SIZE + GAP_SIZE);
  std::size_t offset = PREAMBLE_SIZE + GAP_SIZE;
  std::size_t steps = 1;
  for (std::int32_t block = 0; block <= check.blocks; ++block) {
    const std::size_t length = block == 0 ? HEADER_FRAME_SIZE : DATA_FRAME_SIZE;
    plan[steps++] = {offset, length, next, next + wire_time(length), block};
    next += wire_time(length) + pause;
    offset += length;
  }
  return steps;
}

}  // namespace ferrolet
