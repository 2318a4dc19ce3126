// Writing the upload file so that a failed or interrupted run never leaves a partial or damaged
// file behind.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/conversion.hpp"

namespace ferrolet {

// True if writing `output` would replace the file that `input` names: the same spelling of an
// existing file, or the same file through a link or another name (device and inode). Decided
// without opening either, so that a FIFO or a device is never read for it.
[[nodiscard]] bool would_replace_input(const std::string& input, const std::string& output);

// Writes `bytes` to a new temporary file beside `path` and renames it over `path` only once it is
// complete and closed; an earlier upload's mode, owner and group go to the new file where the
// process may set them. On any failure, and on SIGINT, SIGTERM or SIGHUP, the temporary file is
// removed and whatever stood at `path` before is left as it was.
[[nodiscard]] WriteResult replace_file(const std::string& path,
                                       std::span<const std::uint8_t> bytes);

}  // namespace ferrolet
