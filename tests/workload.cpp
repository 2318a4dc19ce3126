#include "tests/workload.hpp"

#include <array>

namespace ferrolet::workload {

namespace {

void append_byte(std::string& text, unsigned value, unsigned& sum) {
  static constexpr char DIGITS[] = "0123456789ABCDEF";
  text += DIGITS[(value >> 4) & 0xF];
  text += DIGITS[value & 0xF];
  sum += value;
}

}  // namespace

std::string record_stream(std::size_t min_bytes) {
  std::string text;
  text.reserve(min_bytes + 64);
  unsigned address = 0;
  unsigned seed = 1;
  while (text.size() < min_bytes) {
    unsigned sum = 0;
    text += ':';
    append_byte(text, 16, sum);
    append_byte(text, address >> 8, sum);
    append_byte(text, address & 0xFF, sum);
    append_byte(text, 0, sum);
    for (int i = 0; i < 16; ++i) {
      seed = seed * 1103515245U + 12345U;
      append_byte(text, (seed >> 16) & 0xFF, sum);
    }
    unsigned checksum_sum = 0;
    append_byte(text, (0x100 - (sum & 0xFF)) & 0xFF, checksum_sum);
    text += "\r\n";
    address = (address + 16) % 16384;
  }
  text += ":00000001FF\r\n";
  return text;
}

std::string random_bytes(std::size_t bytes, std::uint32_t seed) {
  std::string out(bytes, '\0');
  std::uint64_t state = seed;
  for (char& c : out) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    c = static_cast<char>(state >> 56);
  }
  return out;
}

}  // namespace ferrolet::workload
