#include "sysex_upload.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace ferrolet {

namespace {

static_assert(UPLOAD_FILLER.size() == 126);

void append(UploadBuffer& buffer, std::span<const std::uint8_t> bytes) noexcept {
  std::memcpy(buffer.bytes.data() + buffer.used, bytes.data(), bytes.size());
  buffer.used += bytes.size();
}

void append_frame(UploadBuffer& buffer, std::span<std::uint8_t> payload,
                  std::size_t length) noexcept {
  buffer.used += encode_sysex_frame(payload, length, std::span(buffer.bytes).subspan(buffer.used));
}

struct FrameCheck {
  UploadFault fault = UploadFault::None;
  std::size_t offset = 0;  // of the offending byte; on success, of the byte after the frame
};

// Decodes the frame at `at` of a payload of `length` bytes into payload[0 .. length + 1] (the
// CRC bytes included) and checks it.
[[nodiscard]] FrameCheck decode_frame(std::span<const std::uint8_t> file, std::size_t at,
                                      std::size_t length,
                                      std::span<std::uint8_t, PAYLOAD_CAPACITY> payload) noexcept {
  for (std::size_t i = 0; i < FRAME_START.size(); ++i) {
    if (at + i >= file.size()) return {UploadFault::FileLength, file.size()};
    if (file[at + i] != FRAME_START[i]) {
      return {i == 0 ? UploadFault::FrameStart : UploadFault::FrameHeader, at + i};
    }
  }
  const std::size_t body = at + FRAME_START.size();
  const std::size_t packed = packed_size(length + 2);
  std::size_t end = body;
  while (end < file.size() && end - body <= packed && file[end] <= 0x7F)
    ++end;
  if (end - body > packed) return {UploadFault::PackedLength, body + packed};
  if (end == file.size()) return {UploadFault::FileLength, file.size()};
  if (file[end] != FRAME_END) return {UploadFault::DataAbove7F, end};
  if (end - body != packed) return {UploadFault::PackedLength, end};

  std::uint32_t bits = 0;
  unsigned pending = 0;
  std::size_t out = 0;
  for (std::size_t i = body; i < end; ++i) {
    bits = (bits << 7) | file[i];
    pending += 7;
    if (pending >= 8) {
      pending -= 8;
      payload[out++] = static_cast<std::uint8_t>(bits >> pending);
      bits &= (1U << pending) - 1U;
    }
  }
  if (bits != 0) return {UploadFault::PaddingBits, end - 1};
  const std::uint16_t crc = crc16_modbus(std::span(payload).first(length));
  if (payload[length] != (crc & 0xFF) || payload[length + 1] != (crc >> 8)) {
    return {UploadFault::Crc, at};
  }
  return {UploadFault::None, end + 1};
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
  const std::int32_t blocks = upload_block_count(highest);

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
    for (std::size_t k = 0; k < BLOCK_SIZE - from_image; ++k)
      payload[1 + from_image + k] = filler_byte(k);
    append_frame(buffer, payload, DATA_PAYLOAD_SIZE);
  }
  return blocks;
}

bool block_ends_in_filler(std::span<const std::uint8_t> block, std::size_t used) noexcept {
  for (std::size_t i = used; i < block.size(); ++i) {
    if (block[i] != filler_byte(i - used)) return false;
  }
  return true;
}

BlockMark classify_block(std::span<const std::uint8_t> block, bool last,
                         std::span<const std::uint8_t> firmware) noexcept {
  if (!std::equal(firmware.begin(), firmware.end(), block.begin())) return BlockMark::Differs;
  // Without the firmware, only the content tells where the image ends: at least one image byte,
  // then the filler.
  if (last) {
    for (std::size_t used = 1; used < block.size(); ++used) {
      if (block_ends_in_filler(block, used)) return BlockMark::Filler;
    }
  }
  const bool zero = std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0; });
  return zero ? BlockMark::Zero : BlockMark::Data;
}

UploadCheck decode_upload(std::span<const std::uint8_t> file, UploadContent& content) noexcept {
  for (std::size_t i = 0; i < PREAMBLE_SIZE + GAP_SIZE; ++i) {
    if (i >= file.size()) return {UploadFault::FileLength, -1, file.size(), 0};
    const std::uint8_t expected = i < PREAMBLE_SIZE ? PREAMBLE[i] : 0x00;
    if (file[i] != expected) {
      return {i < PREAMBLE_SIZE ? UploadFault::Preamble : UploadFault::Gap, -1, i, 0};
    }
  }

  std::array<std::uint8_t, PAYLOAD_CAPACITY> payload{};
  std::size_t at = PREAMBLE_SIZE + GAP_SIZE;
  FrameCheck frame = decode_frame(file, at, HEADER_PAYLOAD_SIZE, payload);
  if (frame.fault != UploadFault::None) return {frame.fault, 0, frame.offset, 0};
  const std::int32_t blocks = payload[1];
  if (payload[0] != 0 || payload[2] != 0 || payload[3] != 0 || blocks < 1 || blocks > MAX_BLOCKS) {
    return {UploadFault::HeaderBlock, 0, at, blocks};
  }
  at = frame.offset;

  for (std::int32_t block = 1; block <= blocks; ++block) {
    if (at == file.size()) return {UploadFault::BlockCount, block, at, blocks};
    frame = decode_frame(file, at, DATA_PAYLOAD_SIZE, payload);
    if (frame.fault != UploadFault::None) return {frame.fault, block, frame.offset, blocks};
    if (payload[0] != block) return {UploadFault::BlockNumber, block, at, blocks};
    std::memcpy(content.data() + static_cast<std::size_t>(block - 1) * BLOCK_SIZE,
                payload.data() + 1, BLOCK_SIZE);
    at = frame.offset;
  }
  if (at < file.size()) {
    // One more well-formed block means the header undercounts; anything else is stray bytes.
    frame = decode_frame(file, at, DATA_PAYLOAD_SIZE, payload);
    const bool next_block = frame.fault == UploadFault::None && payload[0] == blocks + 1;
    return {next_block ? UploadFault::BlockCount : UploadFault::TrailingBytes, blocks + 1, at,
            blocks};
  }
  return {UploadFault::None, -1, file.size(), blocks};
}

}  // namespace ferrolet
