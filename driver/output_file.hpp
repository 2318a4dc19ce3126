// Writing the upload file so that a failed run never leaves a partial or damaged file behind.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace ferrolet {

enum class WriteResult {
  Written,
  CannotOpen,   // the path is not a regular file, or no file can be created beside it
  CannotWrite,  // the write, the close or the final replacement failed; nothing was changed
};

// Writes `bytes` to a new temporary file beside `path` and renames it over `path` only once it
// is complete and closed. On any failure the temporary file is removed and whatever stood at
// `path` before is left as it was.
[[nodiscard]] WriteResult replace_file(const std::string& path,
                                       std::span<const std::uint8_t> bytes);

}  // namespace ferrolet
