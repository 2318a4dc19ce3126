// How an upload goes out through a MIDI port that takes only whole messages (Web MIDI, say): the
// preamble, a pause where the gap's zero bytes would be, then each frame, no faster than a DIN
// MIDI line carries them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "sysex/sysex_upload.hpp"

namespace ferrolet {

// The longest extra pause between frames a sender offers, for slow receivers.
inline constexpr std::int64_t MAX_EXTRA_PAUSE_MICROSECONDS = 1000000;
inline constexpr std::int64_t MAX_EXTRA_PAUSE_MILLISECONDS = MAX_EXTRA_PAUSE_MICROSECONDS / 1000;

// One message to send: upload[offset .. offset + length), due `at_us` microseconds after the
// start and through a DIN line by `end_us`; `block` is -1 for the preamble, 0 for the header
// block, k for data block k.
struct SendStep {
  std::size_t offset = 0;
  std::size_t length = 0;
  std::int64_t at_us = 0;
  std::int64_t end_us = 0;
  std::int32_t block = 0;
};

// The preamble, the header block and every data block.
using SendPlan = std::array<SendStep, MAX_BLOCKS + 2>;

// Plans the sending of a valid upload: every message starts no sooner than the previous one (and
// after the preamble, the gap) would have taken on a DIN line, plus `extra_pause_us` (clamped to
// 0 .. MAX_EXTRA_PAUSE_MICROSECONDS) after each frame; `content` receives the decoded blocks.
// Returns the number of steps, 0 if `upload` is not a valid upload.
[[nodiscard]] std::size_t plan_send(std::span<const std::uint8_t> upload,
                                    std::int64_t extra_pause_us, SendPlan& plan,
                                    UploadContent& content) noexcept;

}  // namespace ferrolet
