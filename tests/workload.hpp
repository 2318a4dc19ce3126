// Generated inputs for the large-input tests and the benchmarks: valid HEX record streams and
// random bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ferrolet::workload {

// Valid type-00 records of 16 data bytes, CRLF-terminated, whose addresses keep cycling through
// 0 .. 16,383, until at least `min_bytes` are written; then the end-of-file record.
std::string record_stream(std::size_t min_bytes);

// `bytes` bytes from a fixed-seed generator: the same input on every run.
std::string random_bytes(std::size_t bytes, std::uint32_t seed = 12345);

}  // namespace ferrolet::workload
