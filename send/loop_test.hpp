// The interface test: the frames of an upload sent out of a MIDI interface whose output is cabled
// to its own input, what came back compared with what was sent, and the search for an extra pause
// between frames that the interface carries without loss.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "send/send_plan.hpp"
#include "sysex/sysex_upload.hpp"

namespace ferrolet {

// One MIDI message that came back: bytes[offset .. offset + length) of what the input received,
// and when, in milliseconds on the same clock as the start of the sending.
struct LoopMessage {
  std::size_t offset = 0;
  std::size_t length = 0;
  double at_ms = 0;
};

// Messages that came back but were never sent, by kind.
enum class Stray : std::uint8_t { Clock, ActiveSensing, SysEx, Other };
inline constexpr std::size_t STRAY_KINDS = 4;

// What came back of one run of the test.
struct LoopReport {
  std::int32_t frames = 0;  // sent: the preamble, the header block and every data block
  std::int32_t intact = 0;
  std::int32_t lost = 0;
  std::int32_t changed = 0;
  // The first frame that came back changed (its plan step), the byte where it first differs (or
  // where the shorter of the two ends), and the byte sent and the byte received there (-1 where
  // one of them had ended).
  std::int32_t changed_step = -1;
  std::size_t changed_at = 0;
  std::int32_t sent_byte = -1;
  std::int32_t got_byte = -1;
  std::array<std::int64_t, STRAY_KINDS> strays{};
  double took_ms = 0;  // from the start to the last frame that came back
  double line_ms = 0;  // what a DIN line needs for the whole plan
};

// Compares the messages that came back (`received`, whose bytes are in `bytes`) with the frames
// of `upload` sent as `plan` says, from `start_ms` on. A message that was not sent is counted as a
// stray and left out of the comparison.
[[nodiscard]] LoopReport compare_loop(std::span<const std::uint8_t> upload,
                                      std::span<const SendStep> plan,
                                      std::span<const std::uint8_t> bytes,
                                      std::span<const LoopMessage> received,
                                      double start_ms) noexcept;

// True if every frame came back as it was sent.
[[nodiscard]] constexpr bool loop_passed(const LoopReport& report) noexcept {
  return report.lost == 0 && report.changed == 0 && report.intact == report.frames;
}

// The extra pauses tried, in turn, when the interface loses or changes frames.
inline constexpr std::array<std::int64_t, 8> TRIED_PAUSES_MS = {5, 10, 20, 50, 100, 200, 500, 1000};

// Where the search for a working pause stands: the pause of the next run, the entry of
// TRIED_PAUSES_MS it is (-1 for the pause Send uses, tried first), and how many runs in a row have
// passed at it.
struct PauseSearch {
  std::int64_t pause_ms = 0;
  std::int32_t tried = -1;
  std::int32_t passes = 0;
};

// What comes after a run.
enum class SearchStep : std::uint8_t {
  Run,      // run again at search.pause_ms
  Carries,  // the pause Send uses passed at once; it stays as it is
  Found,    // search.pause_ms passed twice in a row
  GaveUp,   // no pause up to the longest passed twice in a row
};

// Takes the outcome of the run at search.pause_ms and says what comes next, moving `search` on.
[[nodiscard]] SearchStep next_pause(PauseSearch& search, bool passed) noexcept;

// Fills `upload` with a full-memory upload of a test pattern, for testing an interface before any
// firmware is chosen. Returns its data blocks.
[[nodiscard]] std::int32_t build_test_pattern(FirmwareImage& image, UploadBuffer& upload) noexcept;

}  // namespace ferrolet
