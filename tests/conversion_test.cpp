// The conversion core: the refusal decision at its boundaries, and the exact text of the messages
// that every front end shows.
#include "core/conversion.hpp"
#include "core/send_plan.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ferrolet {
namespace {

HexSummary read_of(std::int32_t lowest, std::int32_t highest, std::int64_t errors) {
  HexSummary summary;
  summary.characters = 42;
  summary.lowest = lowest;
  summary.highest = highest;
  summary.errors = errors;
  return summary;
}

TEST(Conversion, RefusesInOrderAtEachBoundary) {
  struct Row {
    std::int32_t lowest, highest;
    std::int64_t errors;
    Refusal refusal;
    std::int32_t blocks;
  };
  const Row rows[] = {
      {0, 0, 0, Refusal::None, 1},
      {0, 127, 0, Refusal::None, 1},
      {0, 128, 0, Refusal::None, 2},
      {0, IMAGE_SIZE - 1, 0, Refusal::None, 128},
      {0, IMAGE_SIZE, 0, Refusal::BeyondMemory, 0},
      {1, 5, 0, Refusal::LowestNotZero, 0},
      {0xFFFF, 0, 0, Refusal::LowestNotZero, 0},
      {0, 5, 1, Refusal::ReadErrors, 0},
      {7, 5, 1, Refusal::LowestNotZero, 0},            // the lowest address is tested first
      {0, IMAGE_SIZE + 7, 1, Refusal::ReadErrors, 0},  // errors before the memory size
  };
  static FirmwareImage image{};
  static UploadBuffer upload;
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.lowest) + " " + std::to_string(row.highest) + " " +
                 std::to_string(row.errors));
    const HexSummary summary = read_of(row.lowest, row.highest, row.errors);
    EXPECT_EQ(refusal_of(summary), row.refusal);
    upload.used = 99;
    const Conversion conversion = convert_read(image, summary, upload);
    EXPECT_EQ(conversion.refusal, row.refusal);
    EXPECT_EQ(conversion.blocks, row.blocks);
    EXPECT_EQ(conversion.bytes, row.blocks == 0 ? 0u : 84u + 157u * std::size_t(row.blocks));
    EXPECT_EQ(upload.used, conversion.bytes);
  }
}

TEST(Conversion, FormatsEveryMessageExactly) {
  const auto text = [](std::size_t length, const MessageBuffer& buffer) {
    return std::string(buffer.data(), length);
  };
  MessageBuffer m;
  struct Row {
    HexEvent event;
    std::string message;
  };
  const Row rows[] = {
      {{HexFault::None, 3, 0}, ""},
      {{HexFault::UnexpectedCharacter, 0, ' '}, "Line 0 unexpected character ( )\n"},
      {{HexFault::UnexpectedCharacter, 2, 0xE9}, "Line 2 unexpected character (\xE9)\n"},
      {{HexFault::UnexpectedCharacter, 1, 0},
       std::string("Line 1 unexpected character (\0)\n", 32)},
      {{HexFault::ChecksumError, 2147483648LL, 1}, "Line 2147483648 Checksum error (sum=1)\n"},
      {{HexFault::ChecksumError, 1, 255}, "Line 1 Checksum error (sum=255)\n"},
      {{HexFault::IncompleteRecord, 7, 0}, "Line 7 incomplete record\n"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(text(format_hex_event(row.event, m), m), row.message);

  HexSummary big = read_of(0xFFFF, 0, 3000000000LL);
  big.characters = 5000000000LL;
  EXPECT_EQ(text(format_summary(big, m), m),
            "\nread 5000000000 charactes, from adress 65535 to 0 with 3000000000 errors\n");
  EXPECT_EQ(text(format_refusal(Refusal::LowestNotZero, read_of(256, 257, 0), m), m),
            "Lowest adress 256 is not zero!\n");
  EXPECT_EQ(text(format_refusal(Refusal::BeyondMemory, read_of(0, 16391, 0), m), m),
            "Highest address 16391 does not fit into 16384 bytes of program memory!\n");
  EXPECT_EQ(format_refusal(Refusal::ReadErrors, read_of(0, 5, 1), m), 0u);
  EXPECT_EQ(text(format_written({Refusal::None, 3, 555}, m), m),
            "3 sysEx data blocks in 555 bytes written\n");
  EXPECT_EQ(BANNER,
            "ferrolet Version 1.00\nHex-File to Sys-Ex Converter for ATMega168 on Tarvenbox\n");
}

// Sending through a port that takes whole messages: the preamble, silence for the gap, then each
// frame, never faster than 3,125 bytes a second (320 µs a byte) plus the extra pause.
TEST(SendPlan, PacesWholeMessagesAtDinSpeed) {
  static FirmwareImage image{};
  static UploadBuffer upload;
  ASSERT_EQ(build_upload(image, 299, upload), 3);  // 555 bytes
  const std::span<const std::uint8_t> bytes(upload.bytes.data(), upload.used);
  SendPlan plan;
  struct Row {
    std::int64_t pause_us;
    std::int64_t applied_us;
  };
  for (const Row row : {Row{0, 0}, Row{5000, 5000}, Row{-7, 0}, Row{2000000, 1000000}}) {
    SCOPED_TRACE(row.pause_us);
    ASSERT_EQ(plan_send(bytes, row.pause_us, plan), 5u);
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
  EXPECT_EQ(plan_send(broken, 0, plan), 0u);
}

}  // namespace
}  // namespace ferrolet
