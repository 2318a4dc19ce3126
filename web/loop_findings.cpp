#include "web/loop_findings.hpp"

#include <cstring>

namespace ferrolet {
namespace {

LoopStep step_of(SearchStep step) {
  switch (step) {
    case SearchStep::Run:
      return LoopStep::Run;
    case SearchStep::Carries:
      return LoopStep::Carries;
    case SearchStep::Found:
      return LoopStep::Found;
    case SearchStep::GaveUp:
      break;
  }
  return LoopStep::GaveUp;
}

}  // namespace

std::vector<LoopMessage> loop_messages(std::span<const std::uint8_t> index) {
  std::vector<LoopMessage> received(index.size() / (3 * sizeof(double)));
  for (std::size_t i = 0; i < received.size(); ++i) {
    double triple[3];
    std::memcpy(triple, index.data() + i * sizeof triple, sizeof triple);
    received[i] = {static_cast<std::size_t>(triple[0]), static_cast<std::size_t>(triple[1]),
                   triple[2]};
  }
  return received;
}

LoopResult loop_findings(const LoopReport& report, std::span<const SendStep> plan,
                         SearchStep step) {
  const auto number = [](auto value) { return static_cast<double>(value); };
  const auto stray = [&](Stray kind) {
    return number(report.strays[static_cast<std::size_t>(kind)]);
  };
  LoopResult result{.frames = number(report.frames),
                    .intact = number(report.intact),
                    .lost = number(report.lost),
                    .changed = number(report.changed),
                    .took_ms = report.took_ms,
                    .line_ms = report.line_ms,
                    .clock = stray(Stray::Clock),
                    .sensing = stray(Stray::ActiveSensing),
                    .sysex = stray(Stray::SysEx),
                    .other = stray(Stray::Other)};
  result.step = step_of(step);
  if (report.changed_step < 0) return result;
  result.changed_block = plan[static_cast<std::size_t>(report.changed_step)].block;
  const bool both = report.sent_byte >= 0 && report.got_byte >= 0;
  result.first_change = both ? LoopFirstChange::Byte : LoopFirstChange::Length;
  result.changed_at = static_cast<double>(report.changed_at + (!both && report.got_byte >= 0));
  result.sent_byte = report.sent_byte;
  result.got_byte = report.got_byte;
  return result;
}

}  // namespace ferrolet
