// The conversion core: the refusal decision at its boundaries, and the exact text of the messages
// that every front end shows.
#include "core/conversion.hpp"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace ferrolet
