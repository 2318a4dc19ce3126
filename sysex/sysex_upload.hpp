// Upload encoder: lays out the memory image as the device's SysEx upload file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "target/limits.hpp"

namespace ferrolet {

// Fills the last data block behind the image bytes, restarting with its first character. It is
// one short of the 127 positions a block with a single image byte leaves; that last one is 0x00.
inline constexpr std::string_view UPLOAD_FILLER =
    "plumwick was here +++ plumwick was here +++ plumwick was here +"
    "plumwick was here +++ plumwick was here +++ plumwick was here +";

// The byte `k` positions behind the last image byte of the last block: the filler text from its
// first character, then 0x00 where the text runs out.
[[nodiscard]] constexpr std::uint8_t filler_byte(std::size_t k) noexcept {
  return k < UPLOAD_FILLER.size() ? static_cast<std::uint8_t>(UPLOAD_FILLER[k]) : std::uint8_t{0};
}

// True if block[used ..] is exactly what the encoder puts behind `used` image bytes.
[[nodiscard]] bool block_ends_in_filler(std::span<const std::uint8_t> block,
                                        std::size_t used) noexcept;

// How the block map shows one data block of an upload.
enum class BlockMark : char {
  Data = '#',
  Zero = '.',     // all 0x00: addresses no record supplied
  Filler = '+',   // the last block, image bytes then the filler text
  Differs = 'X',  // differs from the firmware it is compared with
};

// Classifies data block `block` (its 128 content bytes) of an upload; `last` if no block follows.
// `firmware` holds the firmware's bytes for the block's addresses up to its highest address
// (empty without a firmware, or past its end); a difference there marks the block Differs.
[[nodiscard]] BlockMark classify_block(std::span<const std::uint8_t> block, bool last,
                                       std::span<const std::uint8_t> firmware) noexcept;

// The whole upload file, built in memory before anything is written. Only bytes[0 .. used) are
// ever read, so a new buffer is not cleared first.
struct UploadBuffer {
  std::array<std::uint8_t, OUTPUT_CAPACITY> bytes;
  std::size_t used = 0;
};

// CRC-16/MODBUS of `bytes` (start 0xFFFF, reflected polynomial 0xA001, no final XOR).
[[nodiscard]] std::uint16_t crc16_modbus(std::span<const std::uint8_t> bytes) noexcept;

// Packs `bytes`, read as one bit string most significant bit first, into 7-bit groups, one per
// output byte (0x00..0x7F); a last partial group is left-aligned. Returns the bytes written, or
// 0 without writing if `out` is smaller than packed_size(bytes.size()).
[[nodiscard]] std::size_t pack_7bit(std::span<const std::uint8_t> bytes,
                                    std::span<std::uint8_t> out) noexcept;

// Frames the first `length` bytes of `payload` as one SysEx message: writes their CRC into
// payload[length] and payload[length + 1], then the frame into `out`. Returns the frame's
// length, or 0 without writing if `payload` lacks the two bytes of room or `out` is smaller
// than frame_size(length).
[[nodiscard]] std::size_t encode_sysex_frame(std::span<std::uint8_t> payload, std::size_t length,
                                             std::span<std::uint8_t> out) noexcept;

// Fills `buffer` with the whole upload file for image addresses 0..highest and returns the
// number of data blocks, highest / 128 + 1. Returns 0 and leaves the buffer empty if highest is
// outside 0..IMAGE_SIZE - 1.
[[nodiscard]] std::int32_t build_upload(const FirmwareImage& image, std::int32_t highest,
                                        UploadBuffer& buffer) noexcept;

// What is wrong with an upload file, as the decoder finds it.
enum class UploadFault : std::uint8_t {
  None,
  Preamble,       // the first 8 bytes are not the preamble message
  Gap,            // a byte of the 62-byte gap is not 0x00
  FrameStart,     // a frame does not begin with 0xF0
  FrameHeader,    // the five bytes after 0xF0 are not 70 68 00 15 55
  DataAbove7F,    // a byte above 0x7F, other than the closing 0xF7, inside a frame
  PackedLength,   // the closing 0xF7 is not where the payload length puts it
  PaddingBits,    // the unused low bits of the frame's last packed byte are not zero
  Crc,            // the payload does not match its CRC
  HeaderBlock,    // the header payload is not 00 N 00 00 with N from 1 to MAX_BLOCKS
  BlockNumber,    // a data block's number is not the next in sequence
  BlockCount,     // the file holds fewer or more data blocks than the header announces
  FileLength,     // the file ends inside the preamble, the gap or a frame
  TrailingBytes,  // bytes after the last data block that do not form a data block
};

// The decoder's verdict: the first fault, the frame it is in (0 the header block, k data block
// k, -1 outside any frame), the file offset of the offending byte, and the block count the header
// announced (0 if no header frame could be decoded; out of range with a HeaderBlock fault).
struct UploadCheck {
  UploadFault fault = UploadFault::None;
  std::int32_t frame = -1;
  std::size_t offset = 0;
  std::int32_t blocks = 0;
};

// The content of an upload's data blocks as the decoder recovers it.
using UploadContent = std::array<std::uint8_t, IMAGE_SIZE>;

// Decodes a whole upload file: checks every byte of its layout, every frame and CRC, and writes
// the 128 content bytes of data block k to content[128 * (k - 1)] onwards. Returns the first
// fault found, or UploadFault::None with the block count.
[[nodiscard]] UploadCheck decode_upload(std::span<const std::uint8_t> file,
                                        UploadContent& content) noexcept;

}  // namespace ferrolet
