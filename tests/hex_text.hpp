// HEX text for the tests, written from the record format itself rather than by the reader.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace hex_text {

// A well-formed record (CRLF-terminated), its checksum computed here: the two's complement of the
// low byte of the sum of its bytes.
inline std::string record(int address, int type, const std::vector<int>& data) {
  std::vector<int> bytes = {static_cast<int>(data.size()), (address >> 8) & 0xFF, address & 0xFF,
                            type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  int sum = 0;
  std::string text = ":";
  char pair[3];
  for (const int b : bytes) {
    sum += b;
    std::snprintf(pair, sizeof pair, "%02X", b & 0xFF);
    text += pair;
  }
  std::snprintf(pair, sizeof pair, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  return text + pair + "\r\n";
}

// What a read of `text` must count, worked out from the record format's rules by each digit's
// position in its record (byte 0 the count, 1 and 2 the address, 3 the type, then the data, then
// checksum bytes), independently of the reader's states. Every error is one fault message.
struct ExpectedRead {
  std::int64_t characters = 0;
  std::int64_t records = 0;
  std::int64_t errors = 0;
  std::int32_t lowest = 0xFFFF;
  std::int32_t highest = 0;
};

inline ExpectedRead expected_read(std::string_view text) {
  static constexpr std::string_view DIGITS = "0123456789abcdef";
  ExpectedRead read;
  bool open = false;  // from a ':' to the record's first checksum byte
  bool started = false;
  std::int64_t digits = 0;
  int byte = 0, count = 0, address = 0, sum = 0;
  for (const char c : text) {
    read.characters += 1;
    if (c == ':') {
      read.errors += open ? 1 : 0;
      read.records += 1;
      open = started = true;
      digits = sum = 0;
      continue;
    }
    const auto digit = DIGITS.find(static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c));
    if (digit == std::string_view::npos) {
      read.errors += c == '\n' || c == '\r' ? 0 : 1;
      continue;
    }
    if (!started) continue;
    byte = digits % 2 == 0 ? static_cast<int>(digit) : byte * 16 + static_cast<int>(digit);
    if (++digits % 2 != 0) continue;
    const std::int64_t index = digits / 2 - 1;
    sum += byte;
    if (index == 0) count = byte;
    if (index == 1) address = byte * 256;
    if (index == 2) address += byte;
    if (index >= 4 && index < 4 + count) {
      const auto at = static_cast<std::int32_t>(address + index - 4);
      read.lowest = std::min(read.lowest, at);
      read.highest = std::max(read.highest, at);
    } else if (index >= 4) {
      open = false;
      read.errors += sum % 256 != 0 ? 1 : 0;
    }
  }
  read.errors += open ? 1 : 0;
  return read;
}

}  // namespace hex_text
