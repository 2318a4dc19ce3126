#include "web/file_kind.hpp"

#include <string_view>

#include "target/limits.hpp"

namespace ferrolet {

FileKind file_kind(std::span<const std::uint8_t> start, std::uint64_t size) noexcept {
  if (size == 0) return FileKind::Empty;
  if (!start.empty() && start[0] == PREAMBLE[0]) return FileKind::Upload;
  constexpr std::string_view SPACE = " \t\r\n\xEF\xBB\xBF";  // with a UTF-8 byte order mark
  for (const std::uint8_t byte : start) {
    if (byte == ':') return FileKind::HexText;
    if (SPACE.find(static_cast<char>(byte)) == std::string_view::npos) return FileKind::Other;
  }
  return FileKind::Other;
}

}  // namespace ferrolet
