#include "core/messages.hpp"

namespace ferrolet {

namespace {

inline constexpr Message<HexBytes> PREAMBLE_FAULT = "preamble message is not {}\n";
inline constexpr Message<> GAP_FAULT = "gap after the preamble is not all 00\n";
inline constexpr Message<Hex> FRAME_START_FAULT = "frame does not start with {}\n";
inline constexpr Message<HexBytes> FRAME_HEADER_FAULT = "frame header is not {}\n";
inline constexpr Message<> DATA_ABOVE_7F_FAULT = "data byte above 7F inside a frame\n";
inline constexpr Message<Hex> PACKED_LENGTH_FAULT =
    "packed length does not match the payload ({} misplaced)\n";
inline constexpr Message<> PADDING_BITS_FAULT =
    "padding bits of the last packed byte are not zero\n";
inline constexpr Message<> CRC_FAULT = "CRC mismatch\n";
inline constexpr Message<Number> HEADER_BLOCK_FAULT =
    "header block is not 00 N 00 00 with N from 1 to {}\n";
inline constexpr Message<> BLOCK_NUMBER_FAULT = "block number out of sequence\n";
inline constexpr Message<> BLOCK_COUNT_FAULT = "number of data blocks does not match the header\n";
inline constexpr Message<Number, Number> FILE_LENGTH_FAULT =
    "file ends inside a frame (length is not {} + {} * N)\n";
inline constexpr Message<> TRAILING_BYTES_FAULT = "bytes after the last data block\n";

}  // namespace

void say_hex_event(const TextSink& sink, const HexEvent& event, RawBytes raw) noexcept {
  switch (event.fault) {
    case HexFault::None:
      return;
    case HexFault::UnexpectedCharacter:
      if (raw == RawBytes::Readable && (event.value < 0x20 || event.value > 0x7E)) {
        say(sink, UNEXPECTED_BYTE, event.line, Hex{static_cast<std::uint32_t>(event.value), 2});
      } else {
        say(sink, UNEXPECTED_CHARACTER, event.line, static_cast<char>(event.value));
      }
      return;
    case HexFault::ChecksumError:
      say(sink, CHECKSUM_ERROR, event.line, event.value);
      return;
    case HexFault::IncompleteRecord:
      say(sink, INCOMPLETE_RECORD, event.line);
      return;
  }
}

void say_summary(const TextSink& sink, const HexSummary& summary) noexcept {
  say(sink, SUMMARY, summary.characters, summary.lowest, summary.highest, summary.errors);
}

void say_upload_fault(const TextSink& sink, UploadFault fault) noexcept {
  switch (fault) {
    case UploadFault::None:
      return;
    case UploadFault::Preamble:
      return say(sink, PREAMBLE_FAULT, HexBytes{PREAMBLE});
    case UploadFault::Gap:
      return say(sink, GAP_FAULT);
    case UploadFault::FrameStart:
      return say(sink, FRAME_START_FAULT, Hex{FRAME_START[0], 2});
    case UploadFault::FrameHeader:
      return say(sink, FRAME_HEADER_FAULT, HexBytes{std::span(FRAME_START).subspan(1)});
    case UploadFault::DataAbove7F:
      return say(sink, DATA_ABOVE_7F_FAULT);
    case UploadFault::PackedLength:
      return say(sink, PACKED_LENGTH_FAULT, Hex{FRAME_END, 2});
    case UploadFault::PaddingBits:
      return say(sink, PADDING_BITS_FAULT);
    case UploadFault::Crc:
      return say(sink, CRC_FAULT);
    case UploadFault::HeaderBlock:
      return say(sink, HEADER_BLOCK_FAULT, MAX_BLOCKS);
    case UploadFault::BlockNumber:
      return say(sink, BLOCK_NUMBER_FAULT);
    case UploadFault::BlockCount:
      return say(sink, BLOCK_COUNT_FAULT);
    case UploadFault::FileLength:
      return say(sink, FILE_LENGTH_FAULT, static_cast<Number>(UPLOAD_LEAD_SIZE),
                 static_cast<Number>(DATA_FRAME_SIZE));
    case UploadFault::TrailingBytes:
      return say(sink, TRAILING_BYTES_FAULT);
  }
}

void say_map_legend(const TextSink& sink, bool with_firmware) noexcept {
  const auto mark = [](BlockMark m) { return static_cast<char>(m); };
  if (with_firmware) {
    say(sink, MAP_LEGEND_WITH_FIRMWARE, mark(BlockMark::Data), mark(BlockMark::Zero),
        mark(BlockMark::Filler), mark(BlockMark::Differs));
  } else {
    say(sink, MAP_LEGEND, mark(BlockMark::Data), mark(BlockMark::Zero), mark(BlockMark::Filler));
  }
}

}  // namespace ferrolet
