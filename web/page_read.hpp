// A HEX file that the page reads a chunk at a time, as the worker hands it over: the reader's
// state across chunks, how much has come and what the file looks like, and where its faults go.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "hex/hex_reader.hpp"
#include "web/file_kind.hpp"

namespace ferrolet {

// A file being read: its name and size, how much has come, what it looks like, the reader's
// state, and where its faults go (the first `shown` of them; all are counted).
struct PageRead {
  std::string name;
  double size = 0;
  double read = 0;
  FileKind kind = FileKind::Empty;
  HexReader reader;
  FirmwareImage* image = nullptr;
  HexSummary* summary = nullptr;
  HexEventSink fault = nullptr;
  void* fault_context = nullptr;
  std::int64_t shown = 0;
  std::int64_t faults = 0;
};

// Starts reading the file `name` of `size` bytes into `image` and `summary`; its first `shown`
// faults go to `fault` with `fault_context`.
void begin_read(PageRead& read, std::string_view name, double size, FirmwareImage& image,
                HexSummary& summary, HexEventSink fault, void* fault_context, std::int64_t shown);

// Reads the file's next chunk; the first one also tells what the file looks like.
void feed_read(PageRead& read, std::span<const std::uint8_t> chunk);

// Ends a read that has taken all its chunks: the end-of-input check.
void finish_read(PageRead& read);

}  // namespace ferrolet
