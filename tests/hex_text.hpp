// HEX text for the tests, written from the record format itself rather than by the reader.
#pragma once

#include <cstdio>
#include <string>
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

}  // namespace hex_text
