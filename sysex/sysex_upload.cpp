#include "sysex_upload.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace ferrolet {

namespace {

// The message the device expects before an upload, and the bytes that open every upload frame.
constexpr std::array<std::uint8_t, PREAMBLE_SIZE> PREAMBLE = {0xF0, 0x70, 0x7D, 0x00,
                                                              0x17, 0x04, 0x02, 0xF7};
constexpr std::array<std::uint8_t, 6> FRAME_START = {0xF0, 0x70, 0x68, 0x00, 0x15, 0x55};
constexpr std::uint8_t FRAME_END = 0xF7;

// Pads the last data block behind the image bytes; restarts with every block.
constexpr std::string_view FILLER_TEXT =
    "plumwick was here +++ plumwick was here +++ plumwick was here +"
    "plumwick was here +++ plumwick was here +++ plumwick was here +";
static_assert(FILLER_TEXT.size() == 126);

constexpr std::size_t HEADER_PAYLOAD_SIZE = 4;
constexpr std::size_t DATA_PAYLOAD_SIZE = 1 + BLOCK_SIZE;
static_assert(frame_size(HEADER_PAYLOAD_SIZE) == HEADER_FRAME_SIZE);
static_assert(frame_size(DATA_PAYLOAD_SIZE) == DATA_FRAME_SIZE);
static_assert(UPLOAD_LEAD_SIZE + DATA_FRAME_SIZE * (IMAGE_SIZE / BLOCK_SIZE) <= OUTPUT_CAPACITY);

void append(UploadBuffer& buffer, std::span<const std::uint8_t> bytes) noexcept {
  std::memcpy(buffer.bytes.data() + buffer.used, bytes.data(), bytes.size());
  buffer.used += bytes.size();
}

void append_frame(UploadBuffer& buffer, std::span<std::uint8_t> payload,
                  std::size_t length) noexcept {
  buffer.used += encode_sysex_frame(payload, length, std::span(buffer.bytes).subspan(buffer.used));
}

}  // namespace

std::uint16_t crc16_modbus(std::span<const std::uint8_t> bytes) noexcept {
  std::uint32_t crc = 0xFFFF;
  for (const std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) {
      // XOR the polynomial in when the bit shifted out is set, without a branch.
      crc = (crc >> 1) ^ ((crc & 1U) * 0xA001U);
    }
  }
  return static_cast<std::uint16_t>(crc);
}

std::size_t pack_7bit(std::span<const std::uint8_t> bytes, std::span<std::uint8_t> out) noexcept {
  if (out.size() < packed_size(bytes.size())) return 0;
  std::size_t in = 0;
  std::size_t written = 0;
  // Seven bytes are exactly eight groups of seven bits: no bits carry from one run to the next.
  for (; bytes.size() - in >= 7; in += 7, written += 8) {
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < 7; ++i)
      bits = (bits << 8) | bytes[in + i];
    for (std::size_t i = 0; i < 8; ++i) {
      out[written + i] = static_cast<std::uint8_t>((bits >> (49 - 7 * i)) & 0x7F);
    }
  }
  std::uint32_t pending = 0;  // only the low 14 bits matter: 6 left over plus 8 new
  unsigned pending_bits = 0;
  for (; in < bytes.size(); ++in) {
    pending = (pending << 8) | bytes[in];
    pending_bits += 8;
    while (pending_bits >= 7) {
      pending_bits -= 7;
      out[written++] = static_cast<std::uint8_t>((pending >> pending_bits) & 0x7F);
    }
    pending &= (1U << pending_bits) - 1U;
  }
  if (pending_bits > 0) {
    out[written++] = static_cast<std::uint8_t>((pending << (7 - pending_bits)) & 0x7F);
  }
  return written;
}

std::size_t encode_sysex_frame(std::span<std::uint8_t> payload, std::size_t length,
                               std::span<std::uint8_t> out) noexcept {
  if (payload.size() < length + 2 || out.size() < frame_size(length)) return 0;
  const std::uint16_t crc = crc16_modbus(payload.first(length));
  // The CRC travels low byte first.
  payload[length] = static_cast<std::uint8_t>(crc & 0xFF);
  payload[length + 1] = static_cast<std::uint8_t>(crc >> 8);

  std::copy(FRAME_START.begin(), FRAME_START.end(), out.begin());
  std::size_t written = FRAME_START.size();
  written += pack_7bit(payload.first(length + 2), out.subspan(written));
  out[written++] = FRAME_END;
  return written;
}

std::int32_t build_upload(const FirmwareImage& image, std::int32_t highest,
                          UploadBuffer& buffer) noexcept {
  buffer.used = 0;
  if (highest < 0 || highest >= IMAGE_SIZE) return 0;
  const std::int32_t blocks = highest / BLOCK_SIZE + 1;

  append(buffer, PREAMBLE);
  std::memset(buffer.bytes.data() + buffer.used, 0, GAP_SIZE);
  buffer.used += GAP_SIZE;

  std::array<std::uint8_t, PAYLOAD_CAPACITY> payload{};
  payload[0] = 0x00;
  payload[1] = static_cast<std::uint8_t>(blocks & 0xFF);
  payload[2] = 0x00;
  payload[3] = 0x00;
  append_frame(buffer, payload, HEADER_PAYLOAD_SIZE);

  const std::size_t image_end = static_cast<std::size_t>(highest) + 1;
  for (std::int32_t block = 1; block <= blocks; ++block) {
    payload[0] = static_cast<std::uint8_t>(block & 0xFF);
    const std::size_t first = static_cast<std::size_t>(block - 1) * BLOCK_SIZE;
    const std::size_t from_image = std::min<std::size_t>(BLOCK_SIZE, image_end - first);
    std::memcpy(payload.data() + 1, image.data() + first, from_image);
    // The filler text is one byte short of a block that holds a single image byte; that last
    // position is sent as 0x00 rather than anything read past the text.
    const std::size_t filler = BLOCK_SIZE - from_image;
    const std::size_t from_text = std::min(filler, FILLER_TEXT.size());
    std::memcpy(payload.data() + 1 + from_image, FILLER_TEXT.data(), from_text);
    std::memset(payload.data() + 1 + from_image + from_text, 0, filler - from_text);
    append_frame(buffer, payload, DATA_PAYLOAD_SIZE);
  }
  return blocks;
}

}  // namespace ferrolet
