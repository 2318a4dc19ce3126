#include "hex_reader.hpp"

#include <algorithm>
#include <array>

namespace ferrolet {

namespace {

constexpr std::size_t READ_BLOCK = std::size_t{64} * 1024;

// A record is open from its ':' until its checksum byte has been read.
[[nodiscard]] bool record_open(const HexReader& reader) noexcept {
  return reader.state != RecordState::AwaitColon && !reader.checksum_seen;
}

// A completed byte of the data-and-checksum field: a data byte while the record still owes
// some, otherwise a checksum byte (every pair after the checksum is tested as one more).
[[nodiscard]] HexEvent take_data_or_checksum(HexReader& reader, FirmwareImage& image,
                                             HexSummary& summary) noexcept {
  reader.digit_index = 0;
  if (reader.remaining > 0) {
    reader.remaining -= 1;
    summary.lowest = std::min(summary.lowest, reader.address);
    summary.highest = std::max(summary.highest, reader.address);
    // Only type-00 data reaches memory; other types just move lowest and highest.
    if (reader.record_type == 0 && reader.address < IMAGE_SIZE) {
      image[static_cast<std::size_t>(reader.address)] =
          static_cast<std::uint8_t>(reader.field_value);
    }
    reader.address += 1;
    return {};
  }
  reader.checksum_seen = true;
  reader.sum &= 0xFF;
  if (reader.sum == 0) return {};
  summary.errors += 1;
  return {HexFault::ChecksumError, summary.records, reader.sum};
}

// The common case inside a record: two hex digits that make one data byte. Takes whole pairs
// from the front of `bytes` while both are digits and the record still owes data bytes, and
// leaves everything else to hex_step, so the effect is that of stepping byte by byte. Returns
// the bytes taken (always even).
[[nodiscard]] std::size_t take_data_pairs(HexReader& reader, FirmwareImage& image,
                                          HexSummary& summary,
                                          std::span<const char> bytes) noexcept {
  const std::size_t most = std::min(bytes.size() / 2, static_cast<std::size_t>(reader.remaining));
  // Only type-00 data reaches memory.
  const std::int32_t store_below = reader.record_type == 0 ? IMAGE_SIZE : 0;
  const std::int32_t first = reader.address;
  std::int32_t address = first;
  std::int32_t sum = reader.sum;
  std::int32_t value = reader.field_value;
  std::size_t pairs = 0;
  for (; pairs < most; ++pairs) {
    const int high = hex_digit_value(bytes[2 * pairs]);
    const int low = hex_digit_value(bytes[2 * pairs + 1]);
    if ((high | low) < 0) break;
    value = high * 16 + low;
    sum += value;
    if (address < store_below) {
      image[static_cast<std::size_t>(address)] = static_cast<std::uint8_t>(value);
    }
    address += 1;
  }
  if (pairs == 0) return 0;
  reader.remaining -= static_cast<std::int32_t>(pairs);
  reader.address = address;
  reader.sum = sum;
  reader.field_value = value;
  summary.characters += static_cast<std::int64_t>(2 * pairs);
  summary.lowest = std::min(summary.lowest, first);
  summary.highest = std::max(summary.highest, address - 1);
  return 2 * pairs;
}

// Acts on the digits taken so far: a field that is now complete moves the record on.
[[nodiscard]] HexEvent complete_field(HexReader& reader, FirmwareImage& image,
                                      HexSummary& summary) noexcept {
  switch (reader.state) {
    case RecordState::AwaitColon:
      break;
    case RecordState::ByteCount:
      if (reader.digit_index == 2) {
        reader.remaining = reader.field_value;
        reader.state = RecordState::Address;
        reader.digit_index = 0;
      }
      break;
    case RecordState::Address:
      if (reader.digit_index == 4) {
        reader.address = reader.field_value;
        reader.state = RecordState::RecordType;
        reader.digit_index = 0;
      }
      break;
    case RecordState::RecordType:
      if (reader.digit_index == 2) {
        reader.record_type = reader.field_value;
        reader.state = RecordState::DataAndChecksum;
        reader.digit_index = 0;
      }
      break;
    case RecordState::DataAndChecksum:
      if (reader.digit_index == 2) return take_data_or_checksum(reader, image, summary);
      break;
  }
  return {};
}

// Two hex digits at once, with the effect of two hex_step calls on them; only for a reader that
// is inside a record and between bytes (digit index 0, or 2 within the address).
[[nodiscard]] HexEvent take_pair(HexReader& reader, FirmwareImage& image, HexSummary& summary,
                                 std::int32_t value) noexcept {
  summary.characters += 2;
  reader.field_value = reader.digit_index == 0 ? value : reader.field_value * 256 + value;
  reader.digit_index += 2;
  reader.sum += value;
  return complete_field(reader, image, summary);
}

// Byte count, address and record type at once: eight hex digits right after a ':'. Returns false,
// changing nothing, unless all eight are digits.
[[nodiscard]] bool take_record_header(HexReader& reader, HexSummary& summary,
                                      std::span<const char, 8> digits) noexcept {
  std::array<int, 8> d{};
  int any = 0;
  for (std::size_t i = 0; i < d.size(); ++i) {
    d[i] = hex_digit_value(digits[i]);
    any |= d[i];
  }
  if (any < 0) return false;
  const std::int32_t count = d[0] * 16 + d[1];
  const std::int32_t address_high = d[2] * 16 + d[3];
  const std::int32_t address_low = d[4] * 16 + d[5];
  const std::int32_t type = d[6] * 16 + d[7];
  summary.characters += 8;
  reader.remaining = count;
  reader.address = address_high * 256 + address_low;
  reader.record_type = type;
  reader.field_value = type;
  reader.sum += count + address_high + address_low + type;
  reader.state = RecordState::DataAndChecksum;
  reader.digit_index = 0;
  return true;
}

// Shortcuts for the shapes of well-formed records, each with exactly the effect of stepping
// through the same bytes. This one takes what cannot raise a fault: a line end, a run of data
// pairs, a record header. Returns the bytes taken from the front of `rest`, 0 if none applies.
[[nodiscard]] std::size_t take_fault_free(HexReader& reader, FirmwareImage& image,
                                          HexSummary& summary,
                                          std::span<const char> rest) noexcept {
  const char ch = rest[0];
  if (ch == '\n' || ch == '\r') {  // line ends change nothing but the count
    summary.characters += 1;
    return 1;
  }
  if (reader.state == RecordState::DataAndChecksum && reader.digit_index == 0 &&
      reader.remaining > 0) {
    const std::size_t pairs = take_data_pairs(reader, image, summary, rest);
    if (pairs > 0) return pairs;
  }
  if (reader.state == RecordState::ByteCount && reader.digit_index == 0 && rest.size() >= 8 &&
      take_record_header(reader, summary, rest.first<8>())) {
    return 8;
  }
  return 0;
}

// Takes the next pair of digits at once where the reader is between bytes of a record, otherwise
// the next byte alone; `event` gets the fault it raised. Returns the bytes taken.
[[nodiscard]] std::size_t take_next(HexReader& reader, FirmwareImage& image, HexSummary& summary,
                                    std::span<const char> rest, HexEvent& event) noexcept {
  if (reader.state != RecordState::AwaitColon && reader.digit_index % 2 == 0 && rest.size() >= 2) {
    const int high = hex_digit_value(rest[0]);
    const int low = hex_digit_value(rest[1]);
    if ((high | low) >= 0) {
      event = take_pair(reader, image, summary, high * 16 + low);
      return 2;
    }
  }
  event = hex_step(reader, image, summary, rest[0]);
  return 1;
}

}  // namespace

HexEvent hex_step(HexReader& reader, FirmwareImage& image, HexSummary& summary, char ch) noexcept {
  summary.characters += 1;
  if (ch == ':') {
    HexEvent event;
    if (record_open(reader)) {
      summary.errors += 1;
      event = {HexFault::IncompleteRecord, summary.records, 0};
    }
    summary.records += 1;
    reader.state = RecordState::ByteCount;
    reader.sum = 0;
    reader.digit_index = 0;
    reader.checksum_seen = false;
    return event;
  }
  const int digit = hex_digit_value(ch);
  if (digit < 0) {
    // Line ends may stand anywhere, even inside a field; the field goes on after them.
    if (ch == '\n' || ch == '\r') return {};
    summary.errors += 1;
    return {HexFault::UnexpectedCharacter, summary.records, static_cast<unsigned char>(ch)};
  }
  if (reader.state == RecordState::AwaitColon) return {};

  reader.field_value = reader.digit_index == 0 ? digit : reader.field_value * 16 + digit;
  reader.digit_index += 1;
  // Each byte of the record enters the sum once, when its second digit arrives.
  if (reader.digit_index == 2) {
    reader.sum += reader.field_value;
  } else if (reader.digit_index == 4) {
    reader.sum += reader.field_value & 0xFF;
  }

  return complete_field(reader, image, summary);
}

std::size_t hex_feed(HexReader& reader, FirmwareImage& image, HexSummary& summary,
                     std::span<const char> bytes, HexEvent& event) noexcept {
  std::size_t taken = 0;
  event = {};
  while (taken < bytes.size()) {
    const std::span<const char> rest = bytes.subspan(taken);
    const std::size_t fault_free = take_fault_free(reader, image, summary, rest);
    if (fault_free > 0) {
      taken += fault_free;
      continue;
    }
    taken += take_next(reader, image, summary, rest, event);
    if (event.fault != HexFault::None) break;
  }
  return taken;
}

HexEvent hex_finish(const HexReader& reader, HexSummary& summary) noexcept {
  if (!record_open(reader)) return {};
  summary.errors += 1;
  return {HexFault::IncompleteRecord, summary.records, 0};
}

void hex_feed_all(HexReader& reader, FirmwareImage& image, HexSummary& summary,
                  std::span<const char> bytes, HexEventSink sink, void* context) {
  while (!bytes.empty()) {
    HexEvent event;
    bytes = bytes.subspan(hex_feed(reader, image, summary, bytes, event));
    if (event.fault != HexFault::None) sink(event, context);
  }
}

namespace {

void finish_read(const HexReader& reader, HexSummary& summary, HexEventSink sink, void* context) {
  const HexEvent last = hex_finish(reader, summary);
  if (last.fault != HexFault::None) sink(last, context);
}

}  // namespace

void read_hex_bytes(std::span<const char> bytes, FirmwareImage& image, HexSummary& summary,
                    HexEventSink sink, void* context) {
  HexReader reader;
  hex_feed_all(reader, image, summary, bytes, sink, context);
  finish_read(reader, summary, sink, context);
}

bool read_hex_stream(std::FILE* input, FirmwareImage& image, HexSummary& summary, HexEventSink sink,
                     void* context) {
  HexReader reader;
  std::array<char, READ_BLOCK> block;
  for (;;) {
    const std::size_t got = std::fread(block.data(), 1, block.size(), input);
    hex_feed_all(reader, image, summary, std::span<const char>(block.data(), got), sink, context);
    if (got < block.size()) break;
  }
  if (std::ferror(input) != 0) return false;
  finish_read(reader, summary, sink, context);
  return true;
}

}  // namespace ferrolet
