// Intel HEX reader: turns HEX text into the target's program memory image and the counts of a read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include "target/limits.hpp"

namespace ferrolet {

// The counts of one read. The character, record and error counts are 64-bit so that inputs
// beyond 2 GiB cannot wrap them.
struct HexSummary {
  std::int64_t characters = 0;  // every byte taken from the input
  std::int64_t records = 0;     // ':' seen so far; the "Line" number of messages
  std::int64_t errors = 0;      // unexpected characters, failed checksums, cut-short records
  std::int32_t lowest = 0xFFFF;
  std::int32_t highest = 0;
};

// Which field of a record the next hex digit belongs to. The codes are the reader's historic
// state numbers (there is no state 3).
enum class RecordState : std::int32_t {
  AwaitColon = -1,
  ByteCount = 0,
  Address = 1,
  RecordType = 2,
  DataAndChecksum = 4,
};

// The state a read carries from one character to the next.
struct HexReader {
  RecordState state = RecordState::AwaitColon;
  std::int32_t digit_index = 0;  // hex digits taken into the current field
  std::int32_t field_value = 0;
  std::int32_t remaining = 0;  // data bytes of the record not yet taken
  std::int32_t address = 0;    // address of the record's next data byte
  std::int32_t record_type = 0;
  std::int32_t sum = 0;        // reduced to 8 bits only when a checksum byte is tested
  bool checksum_seen = false;  // the current record's checksum byte has been read
};

enum class HexFault : std::uint8_t {
  None,
  UnexpectedCharacter,  // value: the offending byte
  ChecksumError,        // value: low 8 bits of the record's byte sum
  IncompleteRecord,     // a ':' or the end of input came before the record's checksum
};

// What one character did, if it was a fault: the kind, the record ("Line") number it belongs to
// and the value the message shows.
struct HexEvent {
  HexFault fault = HexFault::None;
  std::int64_t line = 0;
  std::int32_t value = 0;
};

namespace detail {
// 0..15 for the 22 hex digits, -1 for every other byte value.
inline constexpr std::array<std::int8_t, 256> HEX_DIGIT_TABLE = [] {
  std::array<std::int8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    table[static_cast<std::size_t>(i)] = -1;
    if (i >= '0' && i <= '9')
      table[static_cast<std::size_t>(i)] = static_cast<std::int8_t>(i - '0');
    if (i >= 'A' && i <= 'F')
      table[static_cast<std::size_t>(i)] = static_cast<std::int8_t>(i - 'A' + 10);
    if (i >= 'a' && i <= 'f')
      table[static_cast<std::size_t>(i)] = static_cast<std::int8_t>(i - 'a' + 10);
  }
  return table;
}();
}  // namespace detail

// Value of one hex digit ('0'..'9', 'A'..'F', 'a'..'f'), or -1 for any other byte, 0x80..0xFF
// included.
[[nodiscard]] constexpr int hex_digit_value(char ch) noexcept {
  return detail::HEX_DIGIT_TABLE[static_cast<unsigned char>(ch)];
}

// Feeds one input byte to the reader: updates reader, image and summary exactly as the read of
// that byte requires and returns the fault it raised, if any. Never prints.
[[nodiscard]] HexEvent hex_step(HexReader& reader, FirmwareImage& image, HexSummary& summary,
                                char ch) noexcept;

// Feeds bytes from the front of `bytes` until one raises a fault or all are taken; `event` gets
// that fault (or HexFault::None). Returns how many bytes were taken. Same effect as hex_step on
// each byte in turn, only faster.
[[nodiscard]] std::size_t hex_feed(HexReader& reader, FirmwareImage& image, HexSummary& summary,
                                   std::span<const char> bytes, HexEvent& event) noexcept;

// Ends a read: reports a record that the end of input cut short before its checksum byte.
[[nodiscard]] HexEvent hex_finish(const HexReader& reader, HexSummary& summary) noexcept;

// Receives each fault of a read as it is met, with the context its caller gave.
using HexEventSink = void (*)(const HexEvent& event, void* context);

// Feeds all of `bytes` to the reader, handing each fault to `sink` in order.
void hex_feed_all(HexReader& reader, FirmwareImage& image, HexSummary& summary,
                  std::span<const char> bytes, HexEventSink sink, void* context);

// Reads all of `bytes` as a whole HEX file, handing each fault to `sink` as it is met, the
// end-of-input check included.
void read_hex_bytes(std::span<const char> bytes, FirmwareImage& image, HexSummary& summary,
                    HexEventSink sink, void* context);

// Reads `input` to its end into `image` and `summary`, handing each fault to `sink` as it is met,
// the end-of-input check included. Returns false if the stream reported a read error (the read is
// then incomplete and no end-of-input check is made); the stream is not closed.
[[nodiscard]] bool read_hex_stream(std::FILE* input, FirmwareImage& image, HexSummary& summary,
                                   HexEventSink sink, void* context);

}  // namespace ferrolet
