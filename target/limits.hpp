// The ground floor: the target's program memory and what the device's upload format can carry.
// Everything else is built on these numbers; the checks below stop a build whose numbers the
// format cannot carry (a larger memory, a longer block) instead of letting it write wrong uploads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ferrolet {

// Program memory of the ATmega168.
inline constexpr std::int32_t IMAGE_SIZE = 16384;

// One byte per program memory address; bytes that no record supplies stay 0x00.
using FirmwareImage = std::array<std::uint8_t, IMAGE_SIZE>;

// Image bytes per data block, and the data blocks of the largest upload.
inline constexpr std::int32_t BLOCK_SIZE = 128;
inline constexpr std::int32_t MAX_BLOCKS = IMAGE_SIZE / BLOCK_SIZE;

// The message the device expects before an upload, the zero bytes that follow it, and the bytes
// that open and close every upload frame.
inline constexpr std::array<std::uint8_t, 8> PREAMBLE = {0xF0, 0x70, 0x7D, 0x00,
                                                         0x17, 0x04, 0x02, 0xF7};
inline constexpr std::size_t PREAMBLE_SIZE = PREAMBLE.size();
inline constexpr std::size_t GAP_SIZE = 62;
inline constexpr std::array<std::uint8_t, 6> FRAME_START = {0xF0, 0x70, 0x68, 0x00, 0x15, 0x55};
inline constexpr std::uint8_t FRAME_END = 0xF7;

// Payloads before framing: the header block is 00 N 00 00, a data block its number and content.
inline constexpr std::size_t HEADER_PAYLOAD_SIZE = 4;
inline constexpr std::size_t DATA_PAYLOAD_SIZE = 1 + BLOCK_SIZE;
inline constexpr std::size_t CRC_SIZE = 2;
// One block before framing, with room for its CRC.
inline constexpr std::size_t PAYLOAD_CAPACITY = 256;

// The largest value of the payload byte that carries the block count and each block's number.
inline constexpr std::int32_t COUNT_BYTE_MAX = 0xFF;

// Bytes that the 7-bit packing writes for `length` input bytes: ceil(8 * length / 7).
[[nodiscard]] constexpr std::size_t packed_size(std::size_t length) noexcept {
  return (8 * length + 6) / 7;
}

// Bytes of the frame of a payload of `length` bytes: its start, the packed payload and CRC, F7.
[[nodiscard]] constexpr std::size_t frame_size(std::size_t length) noexcept {
  return FRAME_START.size() + packed_size(length + CRC_SIZE) + 1;
}

inline constexpr std::size_t HEADER_FRAME_SIZE = frame_size(HEADER_PAYLOAD_SIZE);
inline constexpr std::size_t DATA_FRAME_SIZE = frame_size(DATA_PAYLOAD_SIZE);

// Preamble, gap and header block: the bytes in front of the first data block.
inline constexpr std::size_t UPLOAD_LEAD_SIZE = PREAMBLE_SIZE + GAP_SIZE + HEADER_FRAME_SIZE;

// Data blocks of an upload that carries image addresses 0..highest.
[[nodiscard]] constexpr std::int32_t upload_block_count(std::int32_t highest) noexcept {
  return highest / BLOCK_SIZE + 1;
}

// Length of the upload file with `blocks` data blocks.
[[nodiscard]] constexpr std::size_t upload_size(std::int32_t blocks) noexcept {
  return UPLOAD_LEAD_SIZE + DATA_FRAME_SIZE * static_cast<std::size_t>(blocks);
}

// The whole upload is built in memory before anything is written.
inline constexpr std::size_t OUTPUT_CAPACITY = 32768;

// A DIN MIDI line, the device's input: 31,250 baud, 10 bits to a byte.
inline constexpr std::int64_t DIN_MICROSECONDS_PER_BYTE = 320;
inline constexpr std::int64_t DIN_BYTES_PER_SECOND = 1000000 / DIN_MICROSECONDS_PER_BYTE;

static_assert(IMAGE_SIZE % BLOCK_SIZE == 0, "the data blocks must cover the memory exactly");
static_assert(MAX_BLOCKS <= COUNT_BYTE_MAX,
              "the header carries the block count, and each block its number, in one byte");
static_assert(upload_size(MAX_BLOCKS) <= OUTPUT_CAPACITY,
              "the largest upload must fit the upload buffer");
static_assert(DATA_PAYLOAD_SIZE + CRC_SIZE <= PAYLOAD_CAPACITY &&
                  HEADER_PAYLOAD_SIZE + CRC_SIZE <= PAYLOAD_CAPACITY,
              "a block and its CRC must fit the payload buffer");

}  // namespace ferrolet
