// The conversion core: the refusal decision at its boundaries, and the exact text of the messages
// that every front end shows.
#include "core/conversion.hpp"
#include "core/messages.hpp"
#include "web/file_kind.hpp"

#include <gtest/gtest.h>

#include <functional>
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

// What a sink received, piece by piece joined.
std::string said(const std::function<void(const TextSink&)>& speak) {
  std::string text;
  speak({[](std::string_view piece, void* out) { static_cast<std::string*>(out)->append(piece); },
         &text});
  return text;
}

TEST(Conversion, SaysEveryMessageExactly) {
  struct Row {
    std::function<void(const TextSink&)> speak;
    std::string text;
  };
  const Message<Name, Number> long_one = "{} and {}";
  const std::string long_name(5000, 'n');  // longer than any one piece a message is said in
  HexSummary big = read_of(0xFFFF, 0, 3000000000LL);
  big.characters = 5000000000LL;
  static FirmwareImage image{};
  static UploadBuffer upload;
  const auto concluded = [](HexSummary summary) {
    return [summary](const TextSink& s) {
      static_cast<void>(conclude_read(image, summary, upload, s));
    };
  };
  const Row rows[] = {
      {[](auto& s) {
         say_hex_event(s, {HexFault::None, 3, 0});
       },
       ""},
      {[](auto& s) {
         say_hex_event(s, {HexFault::UnexpectedCharacter, 0, ' '});
       },
       "Line 0 unexpected character ( )\n"},
      {[](auto& s) {
         say_hex_event(s, {HexFault::UnexpectedCharacter, 2, 0xE9});
       },
       "Line 2 unexpected character (\xE9)\n"},
      {[](auto& s) {
         say_hex_event(s, {HexFault::UnexpectedCharacter, 1, 0});
       },
       std::string("Line 1 unexpected character (\0)\n", 32)},
      {[](auto& s) {
         say_hex_event(s, {HexFault::ChecksumError, 2147483648LL, 1});
       },
       "Line 2147483648 Checksum error (sum=1)\n"},
      {[](auto& s) {
         say_hex_event(s, {HexFault::ChecksumError, 1, 255});
       },
       "Line 1 Checksum error (sum=255)\n"},
      {[](auto& s) {
         say_hex_event(s, {HexFault::IncompleteRecord, 7, 0});
       },
       "Line 7 incomplete record\n"},
      {[&](auto& s) { say_summary(s, big); },
       "\nread 5000000000 charactes, from adress 65535 to 0 with 3000000000 errors\n"},
      {concluded(read_of(256, 257, 0)),
       "\nread 42 charactes, from adress 256 to 257 with 0 errors\nLowest adress 256 is not "
       "zero!\n"},
      {concluded(read_of(0, 16391, 0)),
       "\nread 42 charactes, from adress 0 to 16391 with 0 errors\n"
       "Highest address 16391 does not fit into 16384 bytes of program memory!\n"},
      {concluded(read_of(0, 5, 1)), "\nread 42 charactes, from adress 0 to 5 with 1 errors\n"},
      {[](auto& s) { say(s, WRITTEN, 3, 555); }, "3 sysEx data blocks in 555 bytes written\n"},
      {[](auto& s) { say(s, BANNER); },
       "ferrolet Version 1.00\nHex-File to Sys-Ex Converter for ATMega168 on Tarvenbox\n"},
      {[&](auto& s) { say(s, long_one, long_name, -9223372036854775807LL - 1); },
       long_name + " and -9223372036854775808"},
      {[](auto& s) {
         say(s, Message<Hex, HexBytes, Grouped, Grouped, Seconds, Seconds>{"{}|{}|{}|{}|{}|{}"},
             Hex{0xC8, 4}, HexBytes{PREAMBLE}, Grouped{3125}, Grouped{1000000}, Seconds{254995},
             Seconds{5000});
       },
       "00C8|F0 70 7D 00 17 04 02 F7|3,125|1,000,000|0.25|0.01"},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(said(rows[i].speak), rows[i].text);
  }
}

TEST(Conversion, TellsWhatAFileLooksLike) {
  struct Row {
    std::string start;
    std::uint64_t size;
    FileKind kind;
  };
  const Row rows[] = {
      {"", 0, FileKind::Empty},
      {":", 1, FileKind::HexText},
      {"\xF0\x70\x7D\x00", 555, FileKind::Upload},
      {":10000000", 46093, FileKind::HexText},
      {"\r\n\r\n:10000000", 46097, FileKind::HexText},
      {" \t\xEF\xBB\xBF:00000001FF", 20, FileKind::HexText},
      {"\x0C\x94\x34\x00", 4, FileKind::Other},
      {"   ", 3, FileKind::Other},
      {"\xF7:", 2, FileKind::Other},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.start);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(row.start.data());
    EXPECT_EQ(file_kind({bytes, row.start.size()}, row.size), row.kind);
  }
}

}  // namespace
}  // namespace ferrolet
