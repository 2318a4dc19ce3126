// The send plan: the preamble, silence for the gap, then each frame at DIN MIDI speed.
#include "send/send_plan.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace ferrolet {
namespace {

// Sending through a port that takes whole messages: the preamble, silence for the gap, then each
// frame, never faster than 3,125 bytes a second (320 µs a byte) plus the extra pause.
TEST(SendPlan, PacesWholeMessagesAtDinSpeed) {
  static FirmwareImage image{};
  static UploadBuffer upload;
  ASSERT_EQ(build_upload(image, 299, upload), 3);  // 555 bytes
  const std::span<const std::uint8_t> bytes(upload.bytes.data(), upload.used);
  SendPlan plan;
  static UploadContent content;
  struct Row {
    std::int64_t pause_us;
    std::int64_t applied_us;
  };
  for (const Row row : {Row{0, 0}, Row{5000, 5000}, Row{-7, 0}, Row{2000000, 1000000}}) {
    SCOPED_TRACE(row.pause_us);
    ASSERT_EQ(plan_send(bytes, row.pause_us, plan, content), 5u);
    const std::int64_t header_at = 70 * 320;  // preamble and gap on the wire
    const std::int64_t block1_at = header_at + 14 * 320 + row.applied_us;
    const SendStep expected[] = {
        {0, 8, 0, 8 * 320, -1},
        {70, 14, header_at, header_at + 14 * 320, 0},
        {84, 157, block1_at, block1_at + 157 * 320, 1},
        {241, 157, block1_at + 157 * 320 + row.applied_us,
         block1_at + 2 * 157 * 320 + row.applied_us, 2},
        {398, 157, block1_at + 2 * (157 * 320 + row.applied_us),
         block1_at + 3 * 157 * 320 + 2 * row.applied_us, 3},
    };
    for (std::size_t i = 0; i < 5; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(plan[i].offset, expected[i].offset);
      EXPECT_EQ(plan[i].length, expected[i].length);
      EXPECT_EQ(plan[i].at_us, expected[i].at_us);
      EXPECT_EQ(plan[i].end_us, expected[i].end_us);
      EXPECT_EQ(plan[i].block, expected[i].block);
    }
  }
  std::vector<std::uint8_t> broken(bytes.begin(), bytes.end());
  broken[300] ^= 1;
  EXPECT_EQ(plan_send(broken, 0, plan, content), 0u);
}

}  // namespace
}  // namespace ferrolet
