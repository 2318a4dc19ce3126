// The one way every message of both programs and the page is put together: a message text with
// `{}` where its arguments go, said piece by piece to a sink that the front end chooses (standard
// output, standard error, a buffer for the page). Nothing here allocates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

namespace ferrolet {

// Receives text in order, in pieces of any length; a piece may hold any byte, NUL included.
struct TextSink {
  void (*write)(std::string_view piece, void* context) = nullptr;
  void* context = nullptr;
};

// Arguments a message shows besides text (std::string_view), a raw byte (char) and a decimal
// number (std::int64_t).
struct Hex {  // upper-case hex digits, zero-padded to `digits`
  std::uint32_t value;
  int digits;
};
struct HexBytes {  // bytes as hex pairs with a space between them: "F0 70 7D"
  std::span<const std::uint8_t> bytes;
};
struct Grouped {  // a decimal number with thousands separated by commas: "3,125"
  std::int64_t value;
};
struct Seconds {  // microseconds shown as seconds with two decimals: "0.25"
  std::int64_t microseconds;
};

namespace detail {
[[nodiscard]] consteval std::size_t places(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == '{' && text[i + 1] == '}') ++count;
  return count;
}
}  // namespace detail

// A message text typed by the arguments its places take: a text whose number of `{}` differs
// from its arguments does not compile.
template <typename... Args>
struct Message {
  std::string_view text;
  // NOLINTNEXTLINE(google-explicit-constructor): messages are written as plain string literals
  consteval Message(const char* literal) : text(literal) {
    if (detail::places(text) != sizeof...(Args)) throw "a message's {} do not match its arguments";
  }
};

namespace detail {
// Collects a message's pieces so that a short message reaches the sink in one piece.
struct Composer {
  const TextSink& sink;
  std::array<char, 256> buffer{};
  std::size_t used = 0;
};
void put(Composer& out, std::string_view text) noexcept;
void put(Composer& out, char byte) noexcept;
void put(Composer& out, std::int64_t number) noexcept;
void put(Composer& out, Hex hex) noexcept;
void put(Composer& out, HexBytes bytes) noexcept;
void put(Composer& out, Grouped number) noexcept;
void put(Composer& out, Seconds time) noexcept;
void flush(Composer& out) noexcept;

// Puts the text up to the next place, then `argument` in it.
template <typename Arg>
void put_next(Composer& out, std::string_view& rest, const Arg& argument) noexcept {
  const std::size_t place = rest.find("{}");
  put(out, rest.substr(0, place));
  put(out, argument);
  rest.remove_prefix(place + 2);
}
}  // namespace detail

// Says `message` with `arguments` in its places to `sink`.
template <typename... Args>
void say(const TextSink& sink, const Message<Args...>& message,
         const std::type_identity_t<Args>&... arguments) noexcept {
  detail::Composer out{sink};
  std::string_view rest = message.text;
  (detail::put_next(out, rest, arguments), ...);
  detail::put(out, rest);
  detail::flush(out);
}

// Says `text` as it is.
void say_text(const TextSink& sink, std::string_view text) noexcept;

}  // namespace ferrolet
