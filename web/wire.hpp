// How a result's fields are laid out for the page, one function per kind of field; the order of
// the fields is declared in web/boundary.js, and the encoders that call these are written from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ferrolet {

using Wire = std::vector<std::uint8_t>;

inline void put_raw(Wire& out, const void* bytes, std::size_t size) {
  const auto* begin = static_cast<const std::uint8_t*>(bytes);
  out.insert(out.end(), begin, begin + size);
}

// A length: 4 bytes, little-endian.
inline void put_length(Wire& out, std::size_t size) {
  const auto length = static_cast<std::uint32_t>(size);
  const std::uint8_t le[4] = {
      static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
      static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
  put_raw(out, le, sizeof le);
}

inline void put_body(Wire& out, const void* body, std::size_t size) {
  put_length(out, size);
  put_raw(out, body, size);
}

inline void put_text(Wire& out, std::string_view text) {
  put_body(out, text.data(), text.size());
}

inline void put_bytes(Wire& out, std::span<const std::uint8_t> bytes) {
  put_body(out, bytes.data(), bytes.size());
}

// WebAssembly is little-endian, so a double's bytes are already in the result's order.
inline void put_number(Wire& out, double number) {
  put_body(out, &number, sizeof number);
}

inline void put_numbers(Wire& out, const std::vector<double>& numbers) {
  put_body(out, numbers.data(), numbers.size() * sizeof(double));
}

inline void put_choice(Wire& out, std::uint8_t choice) {
  put_body(out, &choice, 1);
}

inline void put_flag(Wire& out, bool flag) {
  put_choice(out, flag ? 1 : 0);
}

}  // namespace ferrolet
