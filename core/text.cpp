#include "core/text.hpp"

#include <algorithm>

namespace ferrolet::detail {

void flush(Composer& out) noexcept {
  if (out.used > 0) out.sink.write(std::string_view(out.buffer.data(), out.used), out.sink.context);
  out.used = 0;
}

void put(Composer& out, std::string_view text) noexcept {
  while (!text.empty()) {
    if (out.used == out.buffer.size()) flush(out);
    const std::size_t fits = std::min(text.size(), out.buffer.size() - out.used);
    std::copy_n(text.data(), fits, out.buffer.data() + out.used);
    out.used += fits;
    text.remove_prefix(fits);
  }
}

void put(Composer& out, char byte) noexcept {
  put(out, std::string_view(&byte, 1));
}

void put(Composer& out, std::int64_t number) noexcept {
  std::array<char, 24> digits{};
  std::size_t at = digits.size();
  // Unsigned, so that the most negative number has a magnitude too.
  std::uint64_t magnitude =
      number < 0 ? 0 - static_cast<std::uint64_t>(number) : static_cast<std::uint64_t>(number);
  do {
    digits[--at] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (number < 0) digits[--at] = '-';
  put(out, std::string_view(digits.data() + at, digits.size() - at));
}

void put(Composer& out, Hex hex) noexcept {
  constexpr std::string_view DIGITS = "0123456789ABCDEF";
  std::array<char, 8> text{};
  const auto count = static_cast<std::size_t>(std::clamp(hex.digits, 1, 8));
  for (std::size_t i = 0; i < count; ++i)
    text[count - 1 - i] = DIGITS[(hex.value >> (4 * i)) & 0xF];
  put(out, std::string_view(text.data(), count));
}

void put(Composer& out, HexBytes bytes) noexcept {
  for (std::size_t i = 0; i < bytes.bytes.size(); ++i) {
    if (i > 0) put(out, ' ');
    put(out, Hex{bytes.bytes[i], 2});
  }
}

void put(Composer& out, Grouped number) noexcept {
  if (number.value < 0) {
    put(out, '-');
    number.value = -number.value;
  }
  if (number.value < 1000) {
    put(out, number.value);
    return;
  }
  put(out, Grouped{number.value / 1000});
  const std::int64_t rest = number.value % 1000;
  put(out, ',');
  put(out, static_cast<char>('0' + rest / 100));
  put(out, static_cast<char>('0' + rest / 10 % 10));
  put(out, static_cast<char>('0' + rest % 10));
}

void put(Composer& out, Seconds time) noexcept {
  const std::int64_t hundredths = (time.microseconds + 5000) / 10000;
  put(out, hundredths / 100);
  put(out, '.');
  put(out, static_cast<char>('0' + hundredths % 100 / 10));
  put(out, static_cast<char>('0' + hundredths % 10));
}

}  // namespace ferrolet::detail

namespace ferrolet {

void say_text(const TextSink& sink, std::string_view text) noexcept {
  if (!text.empty()) sink.write(text, sink.context);
}

}  // namespace ferrolet
