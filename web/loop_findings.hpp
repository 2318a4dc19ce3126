// What one run of the interface test found, as the page's result carries it: numbers, for the
// page to phrase.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "boundary.hpp"
#include "send/loop_test.hpp"
#include "send/send_plan.hpp"

namespace ferrolet {

// The messages that came back, from their index: three doubles each (offset, length, time in ms).
[[nodiscard]] std::vector<LoopMessage> loop_messages(std::span<const std::uint8_t> index);

// What `report` found of the frames sent as `plan`, and `step`, what comes after the run.
[[nodiscard]] LoopResult loop_findings(const LoopReport& report, std::span<const SendStep> plan,
                                       SearchStep step);

}  // namespace ferrolet
