// What a file looks like from its first bytes and its size, so that the page can say when one is
// in the wrong box.
#pragma once

#include <cstdint>
#include <span>

namespace ferrolet {

enum class FileKind : std::uint8_t {
  Empty,
  Upload,   // begins as SysEx does, which no HEX text does
  HexText,  // its first character other than white space is the ':' of a record
  Other,
};

// The kind of a file of `size` bytes whose first bytes are `start`.
[[nodiscard]] FileKind file_kind(std::span<const std::uint8_t> start, std::uint64_t size) noexcept;

// The same kind in another enumeration of the same names (the page's result's, say).
template <typename Kind>
constexpr Kind kind_as(FileKind kind) noexcept {
  switch (kind) {
    case FileKind::Empty:
      return Kind::Empty;
    case FileKind::Upload:
      return Kind::Upload;
    case FileKind::HexText:
      return Kind::HexText;
    case FileKind::Other:
      break;
  }
  return Kind::Other;
}

}  // namespace ferrolet
